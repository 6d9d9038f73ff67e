// The one platform object. Its constructor builds only its string member;
// every other field starts zeroed, as for any object with static storage.
#include "KELPSys.h"

KELPSys ASys __attribute__((init_priority(1003)));

KELPSys::KELPSys() : webResult(), webPort(80) {}
// Any normal end of the program (exit, or a return from main) commits a
// file that was written and never closed, as Close does.
KELPSys::~KELPSys() { CloseFile_Sys(); }
