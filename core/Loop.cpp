// The loop and its clock: the millisecond clock, the fixed-step clock that
// UpdatesDue and a self-paced loop share, and the loop itself.
#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

namespace {

int64_t MillsStart;
// UpdatesDue's next due time; unset until its first call after Begin.
int32_t NextUpdateDue;
bool UpdateDueSet = false;

}  // namespace

void kelp::StartClock() {
    MillsStart = ClockNowMs();
    UpdateDueSet = false;
}

int KELPCore::Mills() {
    // 32-bit millisecond arithmetic, as the timers compare int32 values.
    return (int)((uint32_t)ClockNowMs() - (uint32_t)MillsStart);
}

void KELPCore::Rest(int ms) {
    if (ms > 0) ClockSleepMs(ms);
}

int KELPCore::UpdatesDue(int stepMs) {
    int now = Mills();
    if (!UpdateDueSet) {
        UpdateDueSet = true;
        NextUpdateDue = now;
    }
    // On the desktop the wait is a sleep; in a browser Rest returns at once
    // and the frame simply has no update due.
    if (now < NextUpdateDue && NextUpdateDue - now <= 10000) {
        Rest(NextUpdateDue - now);
        now = Mills();
    }
    int due = 0;
    while (StepDue(NextUpdateDue, now, stepMs, 1, due)) due++;
    return due;
}

int KELPCore::StepDue(int32_t& due, int now, int stepMs, int catchUp, int ran) {
    // A pass late by more than this many steps drops the time it missed.
    const int kMostSteps = 4;
    if (stepMs < 1) stepMs = 1;
    if (stepMs > 1000) stepMs = 1000;
    if (!catchUp) {
        // The next step falls a step after this one ran: a late step is not
        // made up, and a pass runs one at most.
        if (ran > 0 || (now < due && due - now <= 10000)) return 0;
        due = now + stepMs;
        return 1;
    }
    // Each step falls due a step after the last one was due, not a step
    // after the pass that ran it, so a game keeps its rate whatever the
    // display's.
    if (ran >= kMostSteps) return 0;
    if (ran == 0 && (due - now > 10000 || now - due >= kMostSteps * stepMs)) due = now;
    if (now < due) return 0;
    due += stepMs;
    return 1;
}

int KELPCore::PassPerFrame() { return SysPassPerFrame; }

void KELPCore::RestUntil(int due, int mostMs) {
    // The sleep ends a millisecond before the due time (the passes poll that
    // last one), so a step still runs when it falls due; a due time the
    // 10-second guard is about to re-base is due now.
    const int ahead = due - Mills();
    if (ahead > 10000) return;
    const int wait = ahead < mostMs ? ahead : mostMs;
    if (wait > 1) Rest(wait - 1);
}

void KELPCore::RunLoop(std::function<bool()> pass, std::function<void()> done) {
    // Kept beyond this call: in a browser the passes run after it is gone.
    static std::function<bool()> loopPass;
    static std::function<void()> loopDone;
    loopPass = std::move(pass);
    loopDone = std::move(done);
    SysRunLoop([](void*) { return loopPass() ? 1 : 0; }, [](void*) { loopDone(); }, nullptr);
}
