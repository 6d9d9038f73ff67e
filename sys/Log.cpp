#include "KELPSys.h"

int32_t DebugMessages = 0;
char TempstrSys[1024];

// TODO: not built yet.
void KELPSys::Debuglog(const char* text) {}
const char* KELPSys::fstrSys(const char* format, ...) { return ""; }
std::string KELPSys::SystemUsername() { return std::string(); }
