// The main loop on a real window, with real loads and real renders, on a
// clock the test drives: the loader's 120 updates, then 16 ms steps for
// updates and renders. The rate on the machine's own clock is a benchmark
// (bench/loop), not a test.
#include <gtest/gtest.h>

#include <string>

#include "game/MyGame.h"
#include "tests/common/driven_clock.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

TEST(Loop, LoaderTakes120UpdatesThenStepsBy16Ms) {
    DrivenClock clock;
    MyGame& g = ThisGame;
    g.SetDataRoot((std::string(KELP_DATA_DIR) + "/../../MyGame").c_str());
    g.Begin(550, "Loop test");
    ASSERT_NE(nullptr, ASys.window);
    g.KeyDefaults();
    g.loadStep = 1;
    g.nextUpdate = g.nextRender = 0;
    g.updateTick = -1;  // every update, the first at Mills() 0 included, moves it
    int updatesAtLoaderEnd = -1;
    int updates = 0;
    int lastTick = g.updateTick;
    int loaderEnd = 0;
    int updatesAtSecondStart = 0, rendersAtSecondStart = 0, rendersInSecond = 0;
    // The loader, then two seconds of the menu. Every pass costs 1 ms of
    // driven time however long the loads and renders really take.
    while (!g.quitRequested && (loaderEnd == 0 || g.Mills() < loaderEnd + 2000)) {
        int renders = RenderCountLive;
        g.KeepAlive();
        if (RenderCountLive != renders) rendersInSecond++;
        if (g.updateTick != lastTick) {
            lastTick = g.updateTick;
            updates++;
            if (g.loadStep == 0 && updatesAtLoaderEnd < 0) {
                updatesAtLoaderEnd = updates;
                loaderEnd = g.Mills();
            }
        }
        if (loaderEnd && updatesAtSecondStart == 0 && g.Mills() >= loaderEnd + 1000) {
            updatesAtSecondStart = updates;
            rendersAtSecondStart = rendersInSecond;
        }
        DrivenClock::Advance(1);
        ASSERT_LT(g.Mills(), 60000) << "the loader never finished";
    }
    // The 120th loader update finishes loading, whatever the loads cost.
    EXPECT_EQ(120, updatesAtLoaderEnd);
    // 16 ms steps give 62.5 a second: a second counts 62 or 63.
    int lastSecondUpdates = updates - updatesAtSecondStart;
    int lastSecondRenders = rendersInSecond - rendersAtSecondStart;
    EXPECT_GE(lastSecondUpdates, 62);
    EXPECT_LE(lastSecondUpdates, 63);
    EXPECT_GE(lastSecondRenders, 62);
    EXPECT_LE(lastSecondRenders, 63);
    EXPECT_GE(g.updateFps, 62);
    EXPECT_LE(g.updateFps, 63);
    EXPECT_GE(g.renderFps, 62);
    EXPECT_LE(g.renderFps, 63);
    EXPECT_FLOAT_EQ(0.96f, g.frameDelta);
    ASys.Close();
}
