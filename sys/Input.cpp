#include "KELPSys.h"

int32_t ignorePress[1024];
int32_t UpdateFrames = 0;
int32_t DebugToggle = 0;
std::string KeyName[KEY_NAMES];

// TODO: not built yet.
void KELPSys::PollInputB(int invertY) {}
void KELPSys::PollRedef() {}
int KELPSys::AnyKey() { return 0; }
void KELPSys::LockAll() {}
void KELPSys::DefineKey(int action, int code) {}
void KELPSys::ClearKeys() {}
std::string KELPSys::ButtonName(int code) { return std::string(); }
void KELPSys::FlushKeys() {}
void KELPSys::FillKeyNames() {}
