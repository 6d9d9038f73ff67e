// The numbered debug log and the platform layer's one formatting buffer.
#include <cstdarg>
#include <cstring>

#include "KELPSys.h"

int32_t DebugMessages = 0;
char TempstrSys[1024];

void KELPSys::Debuglog(const char* text) {
    DebugMessages++;
    printf("% 8i> %s\n", DebugMessages, text ? text : "");
    // Logs are read by people and by tests while the program runs.
    fflush(stdout);
}

const char* KELPSys::fstrSys(const char* format, ...) {
    memset(TempstrSys, 0, 1023);
    va_list args;
    va_start(args, format);
    vsnprintf(TempstrSys, sizeof TempstrSys, format, args);
    va_end(args);
    return TempstrSys;
}

std::string KELPSys::SystemUsername() { return "Enter Your Name"; }
