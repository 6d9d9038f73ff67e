// The numbered debug log and the platform layer's one formatting buffer.
#include <cstdarg>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "KELPSys.h"

namespace kelp {

int32_t DebugMessages = 0;
char TempstrSys[1024];

void KELPSys::Debuglog(const char* text) {
    DebugMessages++;
    printf("% 8i> %s\n", DebugMessages, text ? text : "");
    // Logs are read by people and by tests while the program runs.
    fflush(stdout);
}

namespace {

// What DebuglogOnce has said. Bounded: a game that names ever new numbers
// (a counter used as a slot, say) cannot make it grow without end.
std::set<std::pair<std::string, int>> logged;
const size_t kLoggedMax = 256;

}  // namespace

bool KELPSys::FirstReport(const char* topic, int number) {
    if (logged.size() >= kLoggedMax) return false;
    return logged.insert({topic ? topic : "", number}).second;
}

void KELPSys::DebuglogOnce(const char* topic, int number, const char* format, ...) {
    if (!FirstReport(topic, number)) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Debuglog(text);
}

void KELPSys::ForgetLogged(const char* topic) {
    for (auto i = logged.begin(); i != logged.end();) i = i->first == (topic ? topic : "") ? logged.erase(i) : ++i;
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

}  // namespace kelp
