// Game flow: the mode dispatch, the end of a game and its banner, the reset
// of the per-game data and the release latches.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

std::string gRan;

template <char C>
void Mark(MyGame&) {
    gRan += C;
}

// The menu opens the options overlay, as its Options item does.
void MenuOpeningOptions(MyGame& g) {
    gRan += 'M';
    g.subScreen = 1;
}

// What the real return to the menu leaves behind.
void LeaveForMenu(MyGame& g) {
    gRan += 'L';
    g.endPending = 0;
    g.gameMode = 0;
}

class FlowTest : public testing::Test {
protected:
    void SetUp() override {
        memcpy(savedScreens, MyGame::flowScreens, sizeof savedScreens);
        MyGame::flowScreens[MyGame::FLOW_MENU] = Mark<'M'>;
        MyGame::flowScreens[MyGame::FLOW_LOADMENU] = LeaveForMenu;
        MyGame::flowScreens[MyGame::FLOW_GAME] = Mark<'G'>;
        MyGame::flowScreens[MyGame::FLOW_INGAME] = Mark<'I'>;
        MyGame::flowScreens[MyGame::FLOW_PAUSE] = Mark<'P'>;
        MyGame::flowScreens[MyGame::FLOW_LOADGAME] = Mark<'N'>;
        MyGame::flowScreens[MyGame::FLOW_OPTIONS] = Mark<'O'>;
        MyGame::flowScreens[MyGame::FLOW_CREDITS] = Mark<'C'>;
        MyGame::flowScreens[MyGame::FLOW_REDEFINE] = Mark<'R'>;
        MyGame::flowScreens[MyGame::FLOW_PARTICLES] = Mark<'p'>;
        gRan.clear();
        MyGame& g = ThisGame;
        saved = {g.gameMode, g.subScreen, g.paused, g.endPending, g.endReason, g.endTimer, g.saveData[23]};
        savedView = ASys.ViewScale;
        savedW = g.screenW;
        savedH = g.screenH;
        savedCount = ASys.drawCount;
        ASys.ViewScale = 2.0f / 800;
        g.screenW = 800;
        g.screenH = 600;
        g.gameMode = 10;
        g.subScreen = 0;
        g.paused = 0;
        g.endPending = 0;
        g.endReason = 0;
        g.endTimer = 0;
        g.saveData[23] = 0;
    }
    void TearDown() override {
        memcpy(MyGame::flowScreens, savedScreens, sizeof savedScreens);
        MyGame& g = ThisGame;
        g.gameMode = saved.mode;
        g.subScreen = saved.sub;
        g.paused = saved.paused;
        g.endPending = saved.pending;
        g.endReason = saved.reason;
        g.endTimer = saved.timer;
        g.saveData[23] = saved.still;
        ASys.ViewScale = savedView;
        g.screenW = savedW;
        g.screenH = savedH;
        ASys.drawCount = savedCount;
    }
    // One update's game-flow part, as Update runs it.
    void Step() {
        ThisGame.LoopTarget();
        ThisGame.EndBanner();
    }

    void (*savedScreens[MyGame::FLOW_COUNT])(MyGame&);
    struct { int32_t mode, sub, paused, pending, reason, timer, still; } saved;
    float savedView, savedW, savedH;
    int32_t savedCount;
};

TEST_F(FlowTest, DispatchRunsOneScreenPerModeThenTheParticles) {
    struct Case { int mode, sub, paused; const char* ran; } cases[] = {
        {0, 0, 0, "Mp"},   {1, 0, 0, "Lp"},  {10, 0, 0, "GIp"}, {10, 0, 1, "Pp"},  {11, 0, 0, "Np"},
        {10, 1, 0, "Op"},  {10, 1, 1, "Op"}, {0, 2, 0, "Cp"},   {11, 3, 0, "Rp"},  {5, 0, 0, "p"},
        {10, 0, 2, "p"},   {0, 4, 0, "p"},
    };
    for (auto& c : cases) {
        ThisGame.gameMode = c.mode;
        ThisGame.subScreen = c.sub;
        ThisGame.paused = c.paused;
        gRan.clear();
        ThisGame.LoopTarget();
        EXPECT_EQ(c.ran, gRan) << "mode " << c.mode << " sub " << c.sub << " paused " << c.paused;
    }
    // An overlay opened by the mode screen runs in the same update.
    MyGame::flowScreens[MyGame::FLOW_MENU] = MenuOpeningOptions;
    ThisGame.gameMode = 0;
    ThisGame.subScreen = 0;
    gRan.clear();
    ThisGame.LoopTarget();
    EXPECT_EQ("MOp", gRan);
}

TEST_F(FlowTest, BannerHoldsFor120UpdatesThenFadesOverForty) {
    ThisGame.EndGame(2);
    // The update that ends the game counts as the first.
    for (int k = 1; k <= 120; k++) {
        Step();
        ASSERT_EQ(k, ThisGame.endTimer);
        ASSERT_EQ(10, ThisGame.gameMode) << "update " << k;
    }
    Step();
    EXPECT_EQ(1, ThisGame.gameMode);  // the 121st
    gRan.clear();
    Step();  // the 122nd returns to the menu
    EXPECT_EQ("Lp", gRan);
    EXPECT_EQ(0, ThisGame.gameMode);
    EXPECT_EQ(118, ThisGame.endTimer);
    for (int k = 2; k <= 40; k++) {
        Step();
        ASSERT_EQ(121 - 3 * k, ThisGame.endTimer);
    }
    EXPECT_EQ(1, ThisGame.endTimer);
    Step();
    EXPECT_EQ(0, ThisGame.endTimer);
    Step();
    EXPECT_EQ(0, ThisGame.endTimer);
}

TEST_F(FlowTest, BannerLocksEveryButtonWhileShown) {
    ThisGame.endTimer = 50;  // fading out
    memset(ThisGame.keyLatch, 0, sizeof ThisGame.keyLatch);
    memset(ThisGame.touchLatch, 0, sizeof ThisGame.touchLatch);
    ThisGame.EndBanner();
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(i == 5 ? 50 : 1, ThisGame.keyLatch[i]) << i;
        ASSERT_EQ(1, ThisGame.touchLatch[i]) << i;
    }
    // Nothing shown, nothing locked.
    ThisGame.endTimer = 0;
    memset(ThisGame.keyLatch, 0, sizeof ThisGame.keyLatch);
    ThisGame.EndBanner();
    for (int i = 0; i < 100; i++) ASSERT_EQ(0, ThisGame.keyLatch[i]) << i;
}

// The three squares of one banner frame: side, rotation, colour and alpha.
TEST_F(FlowTest, BannerSquaresGrowSpinAndFade) {
    struct Square { float side, rot, r, g, b, alpha; };
    struct Case {
        const char* what;
        int pending, timerBefore, still;
        Square sq[3];
    } cases[] = {
        // t = 10: s = 20, r = 30, a = 10/80 + 0.1
        {"pending", 2, 9, 0,
         {{240, 30, 128, 128, 0, 0.225f}, {200, -30, 128, 64, 0, 0.225f}, {160, 0, 0, 0, 0, 0.225f}}},
        // t = 100: s capped at 120, r = 300, a capped at 0.4
        {"pending, grown", 2, 99, 0,
         {{1440, 300, 128, 128, 0, 0.4f}, {1200, -300, 128, 64, 0, 0.4f}, {960, 0, 0, 0, 0, 0.4f}}},
        // fading: t = 53 - 3 = 50, s = 100, r = 150; turning back towards 0
        {"fading", 0, 53, 0,
         {{1200, 210, 128, 128, 0, 0.4f}, {1000, -210, 128, 64, 0, 0.4f}, {800, 0, 0, 0, 0, 0.4f}}},
        // fading, t = 8: a = 0.2
        {"fading, late", 0, 11, 0,
         {{192, 336, 128, 128, 0, 0.2f}, {160, -336, 128, 64, 0, 0.2f}, {128, 0, 0, 0, 0, 0.2f}}},
        // motion reduced: s = 240, r = 360, a = 0.4 whatever t is
        {"still, pending", 2, 9, 1,
         {{2880, 360, 128, 128, 0, 0.4f}, {2400, -360, 128, 64, 0, 0.4f}, {1920, 0, 0, 0, 0, 0.4f}}},
        {"still, fading", 0, 11, 1,
         {{2880, 0, 128, 128, 0, 0.4f}, {2400, 0, 128, 64, 0, 0.4f}, {1920, 0, 0, 0, 0, 0.4f}}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ThisGame.endPending = c.pending;
        ThisGame.endReason = 2;
        ThisGame.endTimer = c.timerBefore;
        ThisGame.saveData[23] = c.still;
        ASys.drawCount = 0;
        ThisGame.EndBanner();
        int found = 0;
        for (int i = 0; i < ASys.drawCount && found < 3; i++) {
            const DrawCommand& cmd = ASys.drawList[i];
            if (cmd.kind != CMD_RECT) continue;
            const Square& q = c.sq[found++];
            EXPECT_NEAR(400 - ASys.rw2, cmd.x, 1e-3);
            EXPECT_NEAR(300 - ASys.rh2, cmd.y, 1e-3);
            EXPECT_NEAR(q.side, cmd.w, 1e-2) << "square " << found;
            EXPECT_NEAR(-q.side, cmd.h, 1e-2) << "square " << found;
            EXPECT_NEAR(q.rot, cmd.rot, 1e-3) << "square " << found;
            EXPECT_NEAR(q.alpha * 255, cmd.alpha1, 0.01) << "square " << found;
            EXPECT_EQ(q.r, cmd.red1);
            EXPECT_EQ(q.g, cmd.green1);
            EXPECT_EQ(q.b, cmd.blue1);
        }
        EXPECT_EQ(3, found);
    }
}

// The words are glyph commands in the font slot, at size 1.5; they slide in
// from the sides over the first 20 updates unless motion is reduced.
TEST_F(FlowTest, BannerWordsAreDrawnAndSlideIn) {
    const int font = 51;
    int32_t savedFont = ASys.curFont, savedFrames = imageFrames[font];
    ASys.curFont = font;
    imageFrames[font] = 96;
    struct Glyphs { std::string text; double firstX, secondX, firstY, secondY; };
    auto banner = [&](int timerBefore, int still) {
        ThisGame.endPending = 2;
        ThisGame.endReason = 2;
        ThisGame.endTimer = timerBefore;
        ThisGame.saveData[23] = still;
        ASys.drawCount = 0;
        ThisGame.EndBanner();
        Glyphs out{"", 0, 0, 0, 0};
        std::vector<const DrawCommand*> glyphs;
        for (int i = 0; i < ASys.drawCount; i++) {
            const DrawCommand& cmd = ASys.drawList[i];
            if (cmd.kind != CMD_IMAGE) continue;
            EXPECT_EQ(font, cmd.image);
            EXPECT_NEAR(1.5, cmd.sizeX * ASys.ViewScale, 1e-4);
            out.text += (char)(cmd.frame + 32);
            glyphs.push_back(&cmd);
        }
        if (glyphs.size() == 13) {  // "Level" then "Complete"
            out.firstX = glyphs[0]->x;
            out.firstY = glyphs[0]->y;
            out.secondX = glyphs[5]->x;
            out.secondY = glyphs[5]->y;
        }
        return out;
    };
    Glyphs settled = banner(29, 0);  // t = 30: in place
    EXPECT_EQ("LevelComplete", settled.text);
    EXPECT_NEAR(48, settled.secondY - settled.firstY, 1e-3);
    Glyphs sliding = banner(9, 0);   // t = 10: 10 updates of 32 units still to go
    EXPECT_EQ("LevelComplete", sliding.text);
    EXPECT_NEAR(320, sliding.firstX - settled.firstX, 1e-3);
    EXPECT_NEAR(-320, sliding.secondX - settled.secondX, 1e-3);
    Glyphs still = banner(9, 1);
    EXPECT_NEAR(0, still.firstX - settled.firstX, 1e-3);
    EXPECT_NEAR(0, still.secondX - settled.secondX, 1e-3);
    ASys.curFont = savedFont;
    imageFrames[font] = savedFrames;
}

TEST_F(FlowTest, FirstEndReasonWinsAndZeroStartsNothing) {
    ThisGame.EndGame(4);
    ThisGame.EndGame(2);
    EXPECT_EQ(4, ThisGame.endPending);
    EXPECT_EQ(4, ThisGame.endReason);
    EXPECT_STREQ("Time", MyGame::EndWords(ThisGame.endReason, 0));
    EXPECT_STREQ("Up", MyGame::EndWords(ThisGame.endReason, 1));

    ThisGame.endPending = 0;
    ThisGame.endTimer = 0;
    ThisGame.EndGame(0);
    for (int i = 0; i < 5; i++) Step();
    EXPECT_EQ(0, ThisGame.endPending);
    EXPECT_EQ(0, ThisGame.endTimer);
    EXPECT_EQ(10, ThisGame.gameMode);
}

TEST_F(FlowTest, BannerWordsPerReason) {
    struct Case { int reason; const char* first; const char* second; } cases[] = {
        {-1, "Quit", "Game"}, {2, "Level", "Complete"}, {3, "Well", "Done"}, {4, "Time", "Up"},
        {7, "Game", "Over"},  {1, "Game", "Over"},      {0, "Game", "Over"}, {-2, "Game", "Over"},
    };
    for (auto& c : cases) {
        EXPECT_STREQ(c.first, MyGame::EndWords(c.reason, 0)) << c.reason;
        EXPECT_STREQ(c.second, MyGame::EndWords(c.reason, 1)) << c.reason;
    }
}

TEST_F(FlowTest, FlushGameClearsThePerGameDataOnly) {
    MyGame& g = ThisGame;
    int32_t score0 = g.scoreData[0], scoreLast = g.scoreData[21999];
    int32_t save0 = g.saveData[0], saveLast = g.saveData[199];
    int32_t latch = g.keyLatch[7], level = g.chosenLevel;
    g.scoreData[0] = 111;
    g.scoreData[21999] = 222;
    g.saveData[0] = 3;
    g.saveData[199] = 4;
    g.keyLatch[7] = 1;
    g.chosenLevel = 2;
    g.gameWordsA[0] = g.gameWordsA[10249] = 5;
    g.gameWordsB[0] = g.gameWordsB[12099999] = 6;
    g.gameValues[0] = g.gameValues[1023] = 7;
    g.gameWordsD[0] = g.gameWordsD[2599] = 8;
    g.particleBlock[0] = g.particleBlock[2599] = 9;
    g.paused = 1;
    g.endPending = 3;
    g.endReason = 3;
    g.endTimer = 40;
    g.camX = 1.5f;
    g.camY = -2;
    g.camSpare1 = 3;
    g.camSpare2 = 4;

    g.FlushGame();

    EXPECT_EQ(0, g.gameWordsA[0]);
    EXPECT_EQ(0, g.gameWordsA[10249]);
    EXPECT_EQ(0, g.gameWordsB[0]);
    EXPECT_EQ(0, g.gameWordsB[12099999]);
    EXPECT_EQ(0, g.gameValues[0]);
    EXPECT_EQ(0, g.gameValues[1023]);
    EXPECT_EQ(0, g.gameWordsD[0]);
    EXPECT_EQ(0, g.gameWordsD[2599]);
    EXPECT_EQ(0, g.particleBlock[0]);
    EXPECT_EQ(0, g.particleBlock[2599]);
    EXPECT_EQ(0, g.paused);
    EXPECT_EQ(0, g.endPending);
    EXPECT_EQ(0, g.endTimer);
    EXPECT_EQ(0, g.camX);
    EXPECT_EQ(0, g.camY);
    EXPECT_EQ(0, g.camSpare1);
    EXPECT_EQ(0, g.camSpare2);
    // Boards, settings, latches and menu state survive.
    EXPECT_EQ(111, g.scoreData[0]);
    EXPECT_EQ(222, g.scoreData[21999]);
    EXPECT_EQ(3, g.saveData[0]);
    EXPECT_EQ(4, g.saveData[199]);
    EXPECT_EQ(1, g.keyLatch[7]);
    EXPECT_EQ(2, g.chosenLevel);
    EXPECT_EQ(3, g.endReason);

    g.scoreData[0] = score0;
    g.scoreData[21999] = scoreLast;
    g.saveData[0] = save0;
    g.saveData[199] = saveLast;
    g.keyLatch[7] = latch;
    g.chosenLevel = level;
}

TEST_F(FlowTest, LockKeysSetsEveryLatch) {
    memset(ThisGame.keyLatch, 0, sizeof ThisGame.keyLatch);
    memset(ThisGame.touchLatch, 0, sizeof ThisGame.touchLatch);
    ThisGame.LockKeys();
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(1, ThisGame.keyLatch[i]) << i;
        ASSERT_EQ(1, ThisGame.touchLatch[i]) << i;
    }
}

}  // namespace
