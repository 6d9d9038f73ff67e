// The main loop's pacing on a clock the test drives: the 16 ms step, the
// 32 ms step while paused, the 150 ms regime without the focus, the
// 10-second guard, the frame-delta clamp, and what the loop does when the
// machine cannot keep up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "game/MyGame.h"
#include "tests/common/driven_clock.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

namespace {

int gUpdates = 0;
int gScreenCostMs = 0;  // machine time that one update's screen takes
int gFocused = 1;

class Loop : public ::testing::Test {
protected:
    MyGame& g = ThisGame;
    DrivenClock clock;

    void SetUp() override {
        std::memcpy(savedScreens_, MyGame::flowScreens, sizeof savedScreens_);
        savedFocused_ = InputFocused;
        savedKey_ = InputKeyDown;
        savedPointer_ = InputPointer;
        MyGame::flowScreens[MyGame::FLOW_MENU] = [](MyGame&) {
            gUpdates++;
            DrivenClock::Advance(gScreenCostMs);
        };
        MyGame::flowScreens[MyGame::FLOW_PARTICLES] = [](MyGame&) {};
        InputFocused = [] { return gFocused; };
        InputKeyDown = [](int) { return 0; };
        InputPointer = [](double*, double*, int*, int*) { return 0; };
        gUpdates = 0;
        gScreenCostMs = 0;
        gFocused = 1;
        g.loadStep = 0;
        g.gameMode = 0;
        g.subScreen = 0;
        g.paused = 0;
        g.endPending = 0;
        g.endTimer = 0;
        g.showStats = 0;
        g.quitRequested = 0;
        g.focusState = 1;
        int now = g.Mills();
        g.nextUpdate = g.nextRender = now;
        g.updateTick = now;
        StateOf(g).updateSec = StateOf(g).renderSec = now;
        UpdateCountLive = RenderCountLive = 0;
    }

    void TearDown() override {
        std::memcpy(MyGame::flowScreens, savedScreens_, sizeof savedScreens_);
        InputFocused = savedFocused_;
        InputKeyDown = savedKey_;
        InputPointer = savedPointer_;
        g.paused = 0;
        g.focusState = 1;
    }

    struct Counts {
        int updates = 0, renders = 0, polls = 0, passes = 0, mostUpdatesInAPass = 0;
    };

    // Loop passes until `ms` of machine time have gone by; each pass of the
    // focused loop costs the machine 1 ms of polling the clock.
    Counts Run(int ms) {
        Counts c;
        int end = g.Mills() + ms;
        int totalPolls = 0, totalRenders = 0;
        // A loop that stops sleeping without the focus would never let the
        // clock reach the end: give up after far more passes than it needs.
        while (g.Mills() < end && c.passes < 4 * ms + 100) {
            int u = gUpdates, p = UpdateCountLive, r = RenderCountLive;
            g.KeepAlive();
            // The rate counters restart at each sample; count around them.
            int dp = UpdateCountLive - p, dr = RenderCountLive - r;
            totalPolls += dp >= 0 ? dp : UpdateCountLive + 1;
            totalRenders += dr >= 0 ? dr : RenderCountLive + 1;
            c.mostUpdatesInAPass = std::max(c.mostUpdatesInAPass, gUpdates - u);
            c.passes++;
            if (g.focusState > 0) clock.Advance(1);
        }
        c.updates = totalPolls;  // one poll per update while focused
        c.renders = totalRenders;
        c.polls = totalPolls;
        return c;
    }

private:
    void (*savedScreens_[MyGame::FLOW_COUNT])(MyGame&);
    int (*savedFocused_)();
    int (*savedKey_)(int);
    int (*savedPointer_)(double*, double*, int*, int*);
};

TEST_F(Loop, FocusedRunsAnUpdateAndARenderEvery16Ms) {
    Run(3000);
    int before = gUpdates;
    Counts c = Run(1000);
    // 16 ms steps: 62.5 a second.
    EXPECT_GE(gUpdates - before, 62);
    EXPECT_LE(gUpdates - before, 63);
    EXPECT_EQ(gUpdates - before, c.polls);
    EXPECT_GE(c.renders, 62);
    EXPECT_LE(c.renders, 63);
    EXPECT_EQ(1, c.mostUpdatesInAPass);
    EXPECT_FLOAT_EQ(16 / 16.666666666666668f, g.frameDelta);
    EXPECT_GE(g.updateFps, 62);
    EXPECT_LE(g.updateFps, 63);
    EXPECT_GE(g.renderFps, 62);
    EXPECT_LE(g.renderFps, 63);
}

TEST_F(Loop, PausedStepsBy32Ms) {
    Run(500);
    g.paused = 1;
    // The pause menu is what runs now; count its updates instead.
    MyGame::flowScreens[MyGame::FLOW_PAUSE] = MyGame::flowScreens[MyGame::FLOW_MENU];
    g.gameMode = 10;
    Run(2000);
    int before = gUpdates;
    Counts c = Run(1000);
    EXPECT_GE(gUpdates - before, 31);
    EXPECT_LE(gUpdates - before, 32);
    EXPECT_GE(c.renders, 31);
    EXPECT_LE(c.renders, 32);
    EXPECT_FLOAT_EQ(32 / 16.666666666666668f, g.frameDelta);
    EXPECT_GE(g.updateFps, 31);
    EXPECT_LE(g.updateFps, 32);
}

TEST_F(Loop, WithoutTheFocusOnlyPollsAndRendersEvery150MsAndSleeps) {
    Run(500);
    gFocused = 0;
    Run(300);  // the next poll sees the focus gone
    ASSERT_EQ(-1, g.focusState);
    int updates = gUpdates;
    int64_t start = DrivenClock::Now();
    Counts c = Run(1500);
    EXPECT_EQ(updates, gUpdates) << "no update runs without the focus";
    EXPECT_EQ(10, c.polls);
    EXPECT_EQ(10, c.renders);
    // Every pass sleeps 150 ms: the loop never spins without the focus.
    EXPECT_EQ(10, c.passes);
    EXPECT_GE(DrivenClock::Now() - start, 1500);

    // The focus comes back: the first poll sees it, and the next pass runs
    // an update at once, its delta clamped to 128 ms.
    gFocused = 1;
    for (int i = 0; i < 1000 && g.focusState != 1; i++) Run(1);
    ASSERT_EQ(1, g.focusState);
    int prevTick = g.updateTick;
    Run(1);
    EXPECT_EQ(updates + 1, gUpdates);
    EXPECT_GT(g.updateTick - prevTick, 128);
    EXPECT_FLOAT_EQ(7.68f, g.frameDelta);
}

TEST_F(Loop, ClockSetBackRebasesBothTimersAtOnce) {
    Run(1000);
    int updates = gUpdates, renders = RenderCountLive;
    // Due times a minute ahead, as after the clock was set back.
    g.nextUpdate = g.Mills() + 60000;
    g.nextRender = g.Mills() + 60000;
    g.KeepAlive();
    EXPECT_EQ(updates + 1, gUpdates);
    EXPECT_NE(renders, RenderCountLive);
    EXPECT_LE(g.nextUpdate, g.Mills() + 16);
    EXPECT_LE(g.nextRender, g.Mills() + 16);
}

TEST_F(Loop, AStallGivesOneClampedFrameDeltaAndNoCatchUp) {
    Run(1000);
    int updates = gUpdates;
    clock.Advance(500);  // the machine stalled
    Counts c = Run(1);
    EXPECT_EQ(updates + 1, gUpdates);
    EXPECT_EQ(1, c.mostUpdatesInAPass);
    EXPECT_FLOAT_EQ(7.68f, g.frameDelta);
    // The steps go on from the stalled update: none is made up.
    Run(15);
    EXPECT_EQ(updates + 1, gUpdates);
    Run(1);
    EXPECT_EQ(updates + 2, gUpdates);
    EXPECT_FLOAT_EQ(0.96f, g.frameDelta);
}

// A machine too slow for the step: an update's screen takes 40 ms. Updates
// then run back to back, one per pass, and what the loop reports matches
// what it ran: the frame delta is the real gap, the rates the real rates.
TEST_F(Loop, AMachineThatCannotKeepUpGetsTrueDeltasAndRates) {
    gScreenCostMs = 40;
    Run(3000);
    int before = gUpdates;
    int startTick = g.updateTick;
    Counts c = Run(2000);
    int ran = gUpdates - before;
    EXPECT_EQ(1, c.mostUpdatesInAPass);
    // Each update starts 41 ms after the last (40 ms of screen, 1 ms pass).
    EXPECT_FLOAT_EQ(41 / 16.666666666666668f, g.frameDelta);
    EXPECT_NEAR(2000.0 / 41, ran, 1.0);
    EXPECT_NEAR(double(g.updateTick - startTick) / 41, ran, 1.0);
    EXPECT_NEAR(1000.0 / 41, g.updateFps, 1.0);
    EXPECT_NEAR(1000.0 / 41, g.renderFps, 1.0);
}

// A long stall inside a sample (the loader's biggest sheet on a busy
// machine) shows as the rate really run, not as a full second's worth.
TEST_F(Loop, AStalledSecondShowsItsRealRate) {
    Run(2000);
    // Half a second of steady updates, then a two-second stall, then the
    // sample closes on the next update.
    Run(500);
    clock.Advance(2000);
    Run(200);
    EXPECT_LT(g.updateFps, 30);
    EXPECT_GT(g.updateFps, 5);
}

// The loop as a browser runs it, one pass a display frame: the game's 62.5
// updates a second at any display rate, the step's phase kept across
// frames, late frames, stalls and the 10-second guard.

std::vector<float> gDeltas;

struct FrameCounts {
    int updates = 0, renders = 0, mostInAFrame = 0;
};

// Display rates, and the most updates one of their frames runs at 62.5
// updates a second.
struct DisplayRate {
    double hz;
    int mostInAFrame;
};
const DisplayRate kDisplayRates[] = {{50, 2}, {60, 2}, {75, 1}, {120, 1}, {144, 1}};

// Display frames at `hz` for `ms` of driven time: the frame times fall on
// the display's own grid (fractions of a millisecond carried over). frame()
// runs one frame and returns how many updates it ran.
template <class Frame>
FrameCounts DisplayFrames(double hz, int ms, Frame frame) {
    FrameCounts c;
    const int64_t start = DrivenClock::Now();
    for (int i = 1; DrivenClock::Now() - start < ms; i++) {
        int r = RenderCountLive;
        int n = frame();
        c.mostInAFrame = std::max(c.mostInAFrame, n);
        c.updates += n;
        c.renders += RenderCountLive != r;
        DrivenClock::Advance(start + (int64_t)(i * 1000.0 / hz) - DrivenClock::Now());
    }
    return c;
}

FrameCounts Frames(MyGame& g, double hz, int ms) {
    return DisplayFrames(hz, ms, [&g] {
        int u = gUpdates;
        g.FrameSteps();
        return gUpdates - u;
    });
}

void CountUpdatesAndDeltas(MyGame& g) {
    gUpdates++;
    gDeltas.push_back(g.frameDelta);
}

TEST_F(Loop, FramePacedSixtyTwoAndAHalfUpdatesASecondAtEveryDisplayRate) {
    MyGame::flowScreens[MyGame::FLOW_MENU] = CountUpdatesAndDeltas;
    for (const DisplayRate& k : kDisplayRates) {
        SCOPED_TRACE(k.hz);
        Frames(g, k.hz, 1000);   // the phase settles
        gDeltas.clear();
        FrameCounts c = Frames(g, k.hz, 8000);
        EXPECT_NEAR(500, c.updates, 1);
        EXPECT_EQ(k.mostInAFrame, c.mostInAFrame);
        // One render a frame that ran updates: every frame below 62.5 Hz,
        // one a step above it.
        EXPECT_NEAR(k.hz < 62.5 ? 8 * k.hz : 500, c.renders, 1);
        for (float d : gDeltas) ASSERT_FLOAT_EQ(16 / 16.666666666666668f, d);
    }
}

TEST_F(Loop, FramePacedStepsBy32MsWhenPaused) {
    MyGame::flowScreens[MyGame::FLOW_PAUSE] = MyGame::flowScreens[MyGame::FLOW_MENU];
    g.paused = 1;
    g.gameMode = 10;
    for (double hz : {50.0, 144.0}) {
        SCOPED_TRACE(hz);
        Frames(g, hz, 500);
        EXPECT_NEAR(250, Frames(g, hz, 8000).updates, 1);
    }
    g.gameMode = 0;
}

TEST_F(Loop, FramePacedLateFrameCatchesUpAFewAndAStallIsDropped) {
    Frames(g, 60, 1000);
    // A frame 50 ms late: the updates due meanwhile (three or four) run in
    // it, and the step's phase goes on.
    int due = g.nextUpdate;
    DrivenClock::Advance(50);
    int u = gUpdates;
    g.FrameSteps();
    EXPECT_EQ(u + (g.Mills() - due) / 16 + 1, gUpdates);
    EXPECT_EQ(0, (g.nextUpdate - due) % 16);
    EXPECT_GT(g.nextUpdate, g.Mills());

    // A 500 ms stall: one update, its delta clamped, the time dropped.
    DrivenClock::Advance(500);
    u = gUpdates;
    g.FrameSteps();
    EXPECT_EQ(u + 1, gUpdates);
    EXPECT_FLOAT_EQ(7.68f, g.frameDelta);
    EXPECT_EQ(g.Mills() + 16, g.nextUpdate);

    // A due time a minute ahead (the clock set back): re-based, run at once.
    g.nextUpdate = g.Mills() + 60000;
    u = gUpdates;
    g.FrameSteps();
    EXPECT_EQ(u + 1, gUpdates);
    EXPECT_EQ(g.Mills() + 16, g.nextUpdate);
}

// A game's own fixed-step clock (UpdatesDue), as the template loops with it.
// On the desktop each pass sleeps until an update is due: no pass without
// one, none early.
TEST(UpdatesDue, OnTheDesktopEveryPassSleepsUntilOneIsDue) {
    DrivenClock clock;
    std::unique_ptr<KELPCore> k(new KELPCore());
    k->UpdatesDue(16);   // settles the phase left by earlier tests
    const int64_t start = DrivenClock::Now();
    int updates = 0, passes = 0;
    while (DrivenClock::Now() - start < 8000) {
        updates += k->UpdatesDue(16);
        passes++;
        DrivenClock::Advance(3);   // the update's own work
    }
    EXPECT_NEAR(500, updates, 1);
    EXPECT_EQ(updates, passes);
}

// In a browser nothing sleeps and a pass is a display frame: each frame gets
// the updates due since the last, at any display rate 62.5 a second; after a
// stall a few at most, and the step's phase starts again.
TEST(UpdatesDue, InABrowserEachFrameGetsTheUpdatesDueAtAnyDisplayRate) {
    DrivenClock clock;
    std::unique_ptr<KELPCore> k(new KELPCore());
    k->UpdatesDue(16);
    ClockSleepMs = [](int) {};   // a page cannot sleep; the clock's end restores it
    for (const DisplayRate& c : kDisplayRates) {
        SCOPED_TRACE(c.hz);
        auto frame = [&k] { return k->UpdatesDue(16); };
        DisplayFrames(c.hz, 1000, frame);   // the phase settles
        FrameCounts n = DisplayFrames(c.hz, 8000, frame);
        EXPECT_NEAR(500, n.updates, 1);
        EXPECT_EQ(c.mostInAFrame, n.mostInAFrame);
    }
    DrivenClock::Advance(50);
    int late = k->UpdatesDue(16);
    EXPECT_GE(late, 3);
    EXPECT_LE(late, 4);
    DrivenClock::Advance(500);
    EXPECT_EQ(1, k->UpdatesDue(16));
    EXPECT_EQ(0, k->UpdatesDue(16));
    DrivenClock::Advance(16);
    EXPECT_EQ(1, k->UpdatesDue(16));
    // Out-of-range steps are clamped: 0 counts as 1 ms, not as a flood.
    DrivenClock::Advance(100);
    EXPECT_LE(k->UpdatesDue(0), 4);
}

}  // namespace
