// The one platform object, and the clock every part of the platform reads.
// Its constructor builds only its string member; every other field starts
// zeroed, as for any object with static storage.
#include <time.h>
#include <unistd.h>

#include <GLFW/glfw3.h>


#include "KELPSys.h"

namespace kelp {

KELPSys ASys __attribute__((init_priority(1003)));

KELPSys::KELPSys() : webResult(), webPort(80) {}
// Any normal end of the program (exit, or a return from main) commits a
// file that was written and never closed, as Close does.
KELPSys::~KELPSys() { CloseFile_Sys(); }

// Monotonic, so setting the system clock cannot make time run backwards.
static int64_t MonotonicMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// The window's events that came during the sleep are taken in at its end,
// so that the next input poll sees a key pressed meanwhile, as it would
// have seen it had the loop not slept. Called on the main thread only.
static void RealSleepMs(int ms) {
    if (ms > 0) usleep((useconds_t)ms * 1000);
    if (ASys.window) glfwPollEvents();
}

int64_t (*ClockNowMs)() = MonotonicMs;
void (*ClockSleepMs)(int ms) = RealSleepMs;

}  // namespace kelp
