// A clock the test drives: Mills and Rest read and advance it instead of the
// machine's clock, so that what the loop decides about time can be checked
// exactly, however busy the machine is.
#pragma once

#include <cstdint>

#include "sys/KELPSys.h"

class DrivenClock {
public:
    DrivenClock() : oldNow_(kelp::ClockNowMs), oldSleep_(kelp::ClockSleepMs) {
        now_ = 1000000;
        kelp::ClockNowMs = [] { return now_; };
        kelp::ClockSleepMs = [](int ms) { now_ += ms; };
    }
    ~DrivenClock() {
        kelp::ClockNowMs = oldNow_;
        kelp::ClockSleepMs = oldSleep_;
    }
    DrivenClock(const DrivenClock&) = delete;
    DrivenClock& operator=(const DrivenClock&) = delete;

    static void Advance(int64_t ms) { now_ += ms; }
    static int64_t Now() { return now_; }

private:
    static inline int64_t now_ = 0;
    int64_t (*oldNow_)();
    void (*oldSleep_)(int);
};
