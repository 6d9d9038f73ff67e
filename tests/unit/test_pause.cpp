// The pause trigger, the pause menu and the loading screen.
#include <vector>

#include "frontend_fixture.h"
#include "sys/KELPSys.h"

using namespace kelp;

class PauseScreens : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        g.gameMode = 10;
        g.paused = 1;
        g.pauseSelection = 1;
        g.pauseSlide = 0;
        g.pauseIdle = 0;
        g.touchStarted = 0;
    }
    void Pause() {
        Frame([&] { g.PauseMenu(); });
    }
    void Ingame() {
        Frame([&] { g.Ingame(); });
    }
    void Tap(int action) {
        ASys.Keyv[action] = 1;
        Pause();
        ASys.Keyv[action] = 0;
        Pause();
    }
};

TEST_F(PauseScreens, SelectionWrapsBothWays) {
    // Left to right the buttons are Quit (0), Resume (1), Options (2).
    struct Case { int from, action, to; } cases[] = {
        {1, 1, 2}, {2, 1, 0}, {0, 1, 1}, {1, 3, 0}, {0, 3, 2}, {2, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " action " << c.action);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.pauseSelection = c.from;
        ASys.Keyv[c.action] = 1;
        for (int i = 0; i < 5; i++) Pause();  // held: one step
        EXPECT_EQ(c.to, g.pauseSelection);
        EXPECT_EQ(1, g.paused);
    }
}

TEST_F(PauseScreens, IdleButtonsSinkAndComeBackOnInput) {
    std::vector<int> slide;
    for (int f = 1; f <= 600; f++) {
        Pause();
        slide.push_back(g.pauseSlide);
    }
    EXPECT_EQ(0, slide[358]);   // frame 359
    EXPECT_EQ(4, slide[359]);   // frame 360: the first step down
    EXPECT_EQ(476, slide[477]);
    EXPECT_EQ(480, slide[478]);
    EXPECT_EQ(480, slide[599]);

    // A touch anywhere resets the idle count; the buttons rise 64 a frame.
    Pointer(10, 10, 1);
    Pause();
    Pointer(10, 10, 0);
    Pause();
    EXPECT_EQ(416, g.pauseSlide);
    for (int i = 0; i < 7; i++) Pause();
    EXPECT_EQ(0, g.pauseSlide);

    // So does a key that moves the selection.
    for (int i = 0; i < 400; i++) Pause();
    EXPECT_GT(g.pauseSlide, 0);
    Tap(1);
    for (int i = 0; i < 8; i++) Pause();
    EXPECT_EQ(0, g.pauseSlide);
}

TEST_F(PauseScreens, ButtonsActOnTheSelection) {
    struct Case { int selection; int paused, subScreen, endPending; } cases[] = {
        {1, 0, 0, 0},    // Resume
        {0, 0, 0, -1},   // Quit ends the game as quit
        {2, 1, 1, 0},    // Options opens over the pause menu
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.paused = 1;
        g.subScreen = 0;
        g.endPending = 0;
        g.pauseSelection = c.selection;
        ASys.Keyv[10] = 1;
        Pause();
        EXPECT_EQ(c.paused, g.paused);
        EXPECT_EQ(c.subScreen, g.subScreen);
        EXPECT_EQ(c.endPending, g.endPending);
    }
}

TEST_F(PauseScreens, OnlyTheFirstPointerPressesResume) {
    const float x = 400, y = 600 - 128;
    ASys.Touch[1][1] = x;
    ASys.Touch[1][2] = y;
    ASys.Touch[1][5] = 1;
    g.pointerDown = 1;
    Pause();
    EXPECT_EQ(1, g.paused);

    ReleaseAll();
    Pointer(x, y, 1);
    Pause();
    EXPECT_EQ(0, g.paused);
}

TEST_F(PauseScreens, PauseKeyPausesOncePerPress) {
    struct Case { const char* what; int action, button; } cases[] = {
        {"start action", 8, -1},
        {"escape key alone", -1, 99},
        {"pad start button", -1, 98},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.paused = 0;
        auto press = [&](int v) {
            if (c.action >= 0) ASys.Keyv[c.action] = (float)v;
            if (c.button >= 0) ASys.Button[c.button] = v;
        };
        press(1);
        Ingame();
        EXPECT_EQ(1, g.paused);
        EXPECT_EQ(1, g.pauseSelection);

        // Resumed with the key still held: it must be let go first.
        g.paused = 0;
        g.LockKeys();
        for (int i = 0; i < 5; i++) Ingame();
        EXPECT_EQ(0, g.paused);
        press(0);
        Ingame();
        press(1);
        Ingame();
        EXPECT_EQ(1, g.paused);
    }
}

TEST_F(PauseScreens, InvisiblePauseButtonStillWorks) {
    g.paused = 0;
    g.touchStarted = 0;
    Pointer(32, 32, 1);
    Ingame();
    EXPECT_EQ(1, g.paused);
}

class LoadingScreen : public FrontEnd {
protected:
    struct Tiles {
        int count = 0;
        std::vector<int> blends;  // blend modes in the order they were set
        double firstX = 0, firstY = 0, firstW = 0;
        int firstFrame = -1;
    };
    Tiles Step(int s) {
        g.loadStep = s;
        Frame([&] { g.LoadingScreen(); });
        Tiles t;
        for (int i = 0; i < ASys.drawCount; i++) {
            const DrawCommand& c = ASys.drawList[i];
            if (c.kind == CMD_BLEND) t.blends.push_back((int)c.BlendMode());
            if (c.kind == CMD_IMAGE && c.image == 60) {
                if (t.count == 0) {
                    t.firstX = c.x;
                    t.firstY = c.y;
                    t.firstW = c.w;
                    t.firstFrame = (int)c.frame;
                }
                t.count++;
            }
        }
        return t;
    }
};

TEST_F(LoadingScreen, LogoTilesAppearInADiagonalWaveFromStepSix) {
    ASys.curBlend = 1;
    for (int s = 1; s <= 5; s++) EXPECT_EQ(0, Step(s).count) << s;

    // Step 6: e = 36 - c - r, and a tile shows once sin(e) >= 0.5, i.e.
    // e >= 30: the 28 tiles with c + r <= 6, in the colour-adding blend.
    Tiles t = Step(6);
    EXPECT_EQ(28, t.count);
    ASSERT_FALSE(t.blends.empty());
    EXPECT_EQ(3, t.blends.front());
    EXPECT_EQ(1, t.blends.back());
    // Tile 0 has e = 36, sin 36 = 0.5878: size 0.5878, raised by 400 x that.
    EXPECT_EQ(0, t.firstFrame);
    EXPECT_NEAR(0.5878, t.firstW, 1e-3);
    EXPECT_NEAR(400 - 200, t.firstX, 1e-3);
    EXPECT_NEAR(300 - 400 * 0.5878, t.firstY, 0.05);

    // Late on every tile has settled at half size in its place, in normal blending.
    t = Step(120);
    EXPECT_EQ(625, t.count);
    EXPECT_NEAR(0.5, t.firstW, 1e-6);
    EXPECT_NEAR(300 - 200, t.firstY, 1e-3);
    for (int b : t.blends) EXPECT_NE(3, b);
}

// Quit from the pause menu, then clicks during the "Quit / Game" banner: on
// the pause button in the top-left corner, and then on the gear of the pause
// menu that the first click would have opened. The banner keeps every key
// latched, so an overlay opened under it could never be left again. Last, a
// game that ends itself while paused.
TEST_F(PauseScreens, TheEndBannerTakesNoPointerPresses) {
    PrivateRoot();
    const float W = 800, H = 600;
    struct Click { int frame; float x, y; };
    struct Case { const char* what; int reason; std::vector<Click> clicks; } cases[] = {
        {"pause button", -1, {{5, 32, 32}}},
        {"pause button, then the gear", -1, {{5, 32, 32}, {10, 3 * W / 4, H - 128}}},
        {"time up while paused", 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        std::memset(g.scoreData, 0, sizeof g.scoreData);
        g.gameMode = 10;
        g.subScreen = 0;
        g.paused = 1;
        g.pauseSelection = 0;  // Quit
        g.endPending = 0;
        g.endTimer = 0;
        g.score = 1234;
        g.saveData[101] = 2;
        auto update = [&] {
            Frame([&] {
                g.LoopTarget();
                g.EndBanner();
            });
        };
        if (c.reason == -1) {
            ASys.Keyv[10] = 1;
            update();
            ASys.Keyv[10] = 0;
            ASSERT_EQ(0, g.paused);
        } else {
            g.EndGame(c.reason);
            update();
        }
        ASSERT_EQ(c.reason, g.endPending);

        // The update that quit counts as the banner's first.
        int back = 0;
        for (int f = 2; f <= 300 && !back; f++) {
            for (const Click& k : c.clicks) {
                if (f == k.frame) Pointer(k.x, k.y, 1);
                if (f == k.frame + 1) Pointer(k.x, k.y, 0);
            }
            update();
            if (g.gameMode == 0) back = f;
        }
        EXPECT_EQ(122, back) << "the menu comes back once the banner has run";
        EXPECT_EQ(0, g.subScreen);
        EXPECT_EQ(0, g.paused) << "the menu runs at the 16 ms step";
        // Clicks fire in the game that runs under the banner: points may come.
        EXPECT_GE(g.scoreData[20 * 2 + 5], 1234) << "the score is filed in Last 5";
        EXPECT_EQ((int)g.score, g.scoreData[20 * 2 + 5]);
        for (int f = 0; f < 60; f++) update();
        EXPECT_EQ(0, g.gameMode);
        EXPECT_EQ(0, g.paused);
    }
    g.score = 0;
}
