// The loop as a browser runs it, one pass a display frame, on a clock the
// test drives: the game's 62.5 updates a second at any display rate, the
// step's phase kept across frames, late frames, stalls and the 10-second
// guard.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "game/MyGame.h"
#include "tests/common/driven_clock.h"

namespace {

int gUpdates = 0;
std::vector<float> gDeltas;

class FrameSteps : public ::testing::Test {
protected:
    MyGame& g = ThisGame;
    DrivenClock clock;

    void SetUp() override {
        std::memcpy(savedScreens_, MyGame::flowScreens, sizeof savedScreens_);
        savedFocused_ = InputFocused;
        savedKey_ = InputKeyDown;
        savedPointer_ = InputPointer;
        MyGame::flowScreens[MyGame::FLOW_MENU] = [](MyGame& g) {
            gUpdates++;
            gDeltas.push_back(g.frameDelta);
        };
        MyGame::flowScreens[MyGame::FLOW_PAUSE] = MyGame::flowScreens[MyGame::FLOW_MENU];
        MyGame::flowScreens[MyGame::FLOW_GAME] = [](MyGame&) {};
        MyGame::flowScreens[MyGame::FLOW_INGAME] = [](MyGame&) {};
        MyGame::flowScreens[MyGame::FLOW_PARTICLES] = [](MyGame&) {};
        InputFocused = [] { return 1; };
        InputKeyDown = [](int) { return 0; };
        InputPointer = [](double*, double*, int*, int*) { return 0; };
        gUpdates = 0;
        gDeltas.clear();
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
        g.updateSec = g.renderSec = now;
    }

    void TearDown() override {
        std::memcpy(MyGame::flowScreens, savedScreens_, sizeof savedScreens_);
        InputFocused = savedFocused_;
        InputKeyDown = savedKey_;
        InputPointer = savedPointer_;
        g.paused = 0;
        g.gameMode = 0;
    }

    struct Counts {
        int updates = 0, renders = 0, mostInAFrame = 0;
    };

    // Display frames at `hz` for `ms` of driven time: the frame times fall
    // on the display's own grid (fractions of a millisecond carried over).
    Counts Frames(double hz, int ms) {
        Counts c;
        const double period = 1000.0 / hz;
        const int64_t start = DrivenClock::Now();
        for (int i = 1; DrivenClock::Now() - start < ms; i++) {
            int u = gUpdates, r = RenderCountLive;
            g.FrameSteps();
            c.mostInAFrame = std::max(c.mostInAFrame, gUpdates - u);
            c.updates += gUpdates - u;
            c.renders += RenderCountLive != r;
            DrivenClock::Advance(start + (int64_t)(i * period) - DrivenClock::Now());
        }
        return c;
    }

private:
    void (*savedScreens_[MyGame::FLOW_COUNT])(MyGame&);
    int (*savedFocused_)();
    int (*savedKey_)(int);
    int (*savedPointer_)(double*, double*, int*, int*);
};

TEST_F(FrameSteps, SixtyTwoAndAHalfUpdatesASecondAtEveryDisplayRate) {
    struct Case {
        double hz;
        int mostInAFrame;
    } cases[] = {{50, 2}, {60, 2}, {75, 1}, {120, 1}, {144, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.hz);
        Frames(k.hz, 1000);   // the phase settles
        gDeltas.clear();
        Counts c = Frames(k.hz, 8000);
        EXPECT_NEAR(500, c.updates, 1);
        EXPECT_EQ(k.mostInAFrame, c.mostInAFrame);
        // One render a frame that ran updates: every frame below 62.5 Hz,
        // one a step above it.
        EXPECT_NEAR(k.hz < 62.5 ? 8 * k.hz : 500, c.renders, 1);
        for (float d : gDeltas) ASSERT_FLOAT_EQ(16 / 16.666666666666668f, d);
    }
}

TEST_F(FrameSteps, PausedStepsBy32MsAtAnyRate) {
    g.paused = 1;
    g.gameMode = 10;
    for (double hz : {50.0, 144.0}) {
        SCOPED_TRACE(hz);
        Frames(hz, 500);
        EXPECT_NEAR(250, Frames(hz, 8000).updates, 1);
    }
}

TEST_F(FrameSteps, ALateFrameCatchesUpAFewAndAStallIsDropped) {
    Frames(60, 1000);
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

}  // namespace
