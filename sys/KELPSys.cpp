// The one platform object. Its constructor builds only its string member;
// every other field starts zeroed, as for any object with static storage.
#include "KELPSys.h"

KELPSys ASys __attribute__((init_priority(1003)));

KELPSys::KELPSys() : webResult(), webPort(80) {}
KELPSys::~KELPSys() {}
