// The main loop on the desktop: one pass after another on this thread, then
// the end. A browser build runs one pass a frame instead (sys/web/Loop.cpp).
#include "KELPSys.h"

namespace kelp {

const int SysPassPerFrame = 0;

void SysRunLoop(int (*pass)(void*), void (*done)(void*), void* arg) {
    while (pass(arg)) {
    }
    done(arg);
}

}  // namespace kelp
