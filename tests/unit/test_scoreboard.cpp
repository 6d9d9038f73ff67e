// Scoreboards: filing a finished game's score into its level's Top 5 and
// Last 5, the in-game score line, and the paging of the menu's panel.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

class Scoreboards : public ::testing::Test {
protected:
    int32_t savedFrames[IMAGE_SLOTS];
    float savedViewScale, savedImageScale;
    int32_t savedFont, savedRw2, savedRh2;

    void SetUp() override {
        memcpy(savedFrames, imageFrames, sizeof savedFrames);
        savedViewScale = ASys.ViewScale;
        savedImageScale = ASys.imageScale;
        savedFont = ASys.curFont;
        savedRw2 = ASys.rw2;
        savedRh2 = ASys.rh2;
        // The life icons and the font must read as loaded for commands to be made.
        imageFrames[51] = 625;
        imageFrames[52] = 625;
        ASys.curFont = 51;
        ASys.ViewScale = 1;
        ASys.imageScale = 1;
        ASys.rw2 = 0;
        ASys.rh2 = 0;
        ASys.drawCount = 0;
        ASys.Keyv[13] = 0;
        ThisGame.screenW = 800;
        ThisGame.screenH = 600;
        ThisGame.pointerDown = 0;
        ThisGame.keyLatch[13] = 0;
        ThisGame.saveData[23] = 0;
        memset(ThisGame.scoreData, 0, sizeof ThisGame.scoreData);
    }
    void TearDown() override {
        memcpy(imageFrames, savedFrames, sizeof savedFrames);
        ASys.ViewScale = savedViewScale;
        ASys.imageScale = savedImageScale;
        ASys.curFont = savedFont;
        ASys.rw2 = savedRw2;
        ASys.rh2 = savedRh2;
        ASys.drawCount = 0;
        ASys.Keyv[13] = 0;
        ThisGame.pointerDown = 0;
    }

    // (x, y) of every life icon in the write list.
    std::vector<std::pair<double, double>> LifeIcons() {
        std::vector<std::pair<double, double>> icons;
        for (int i = 0; i < ASys.drawCount; i++) {
            const DrawCommand& c = ASys.drawList[i];
            if (c.kind == CMD_IMAGE && c.image == 52 && c.frame == 9) icons.push_back({c.x, c.y});
        }
        return icons;
    }

    void Frames(int n) {
        for (int i = 0; i < n; i++) {
            ASys.drawCount = 0;
            ThisGame.DisplayScoreboard();
        }
    }
};

TEST_F(Scoreboards, FinishedGamesAreFiled) {
    struct Case {
        const char* what;
        std::vector<int32_t> top, last;   // the board before
        std::vector<float> scores;
        std::vector<int32_t> expectTop, expectLast;
    } cases[] = {
        {"equal scores go below", {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {50, 50},
         {50, 50, 0, 0, 0}, {50, 50, 0, 0, 0}},
        {"zero only enters Last 5", {0, 0, 0, 0, 0}, {7, 6, 5, 4, 3}, {0},
         {0, 0, 0, 0, 0}, {0, 7, 6, 5, 4}},
        {"fraction is dropped", {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {37.9f},
         {37, 0, 0, 0, 0}, {37, 0, 0, 0, 0}},
        {"sorted and oldest dropped", {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {10, 30, 20, 40, 50, 60},
         {60, 50, 40, 30, 20}, {60, 50, 40, 20, 30}},
        {"not above the fifth", {90, 80, 70, 60, 50}, {1, 2, 3, 4, 5}, {50},
         {90, 80, 70, 60, 50}, {50, 1, 2, 3, 4}},
        {"between entries", {90, 80, 70, 60, 50}, {0, 0, 0, 0, 0}, {75.5f},
         {90, 80, 75, 70, 60}, {75, 0, 0, 0, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        memset(ThisGame.scoreData, 0, sizeof ThisGame.scoreData);
        ThisGame.saveData[101] = 2;
        int32_t* board = &ThisGame.scoreData[40];
        for (int i = 0; i < 5; i++) {
            board[i] = c.top[i];
            board[5 + i] = c.last[i];
        }
        for (float s : c.scores) {
            ThisGame.score = s;
            ThisGame.HandleDefaultScoreboards();
        }
        EXPECT_EQ(c.expectTop, std::vector<int32_t>(board, board + 5));
        EXPECT_EQ(c.expectLast, std::vector<int32_t>(board + 5, board + 10));
        // Nothing outside the level's ten used entries moves.
        for (int i = 0; i < 22000; i++) {
            if (i >= 40 && i < 50) continue;
            EXPECT_EQ(0, ThisGame.scoreData[i]) << i;
        }
    }
}

TEST_F(Scoreboards, ShownScoreEasesAndSnaps) {
    struct Case { float shown, score, expect; } cases[] = {
        {0, 100, 25},
        {98.5f, 100, 98.875f},
        {99.5f, 100, 100},
        {100.9f, 100, 100},
        {200, 100, 175},
    };
    for (auto& c : cases) {
        ThisGame.shownScore = c.shown;
        ThisGame.score = c.score;
        ThisGame.DefaultScoreDisplay(0);
        EXPECT_FLOAT_EQ(c.expect, ThisGame.shownScore) << c.shown;
    }
}

TEST_F(Scoreboards, LifeIconsAreCentredAndCounted) {
    struct Case { int showLives; float lives; std::vector<double> xs; } cases[] = {
        {1, 3, {382, 400, 418}},
        {1, 2.5f, {386.5, 404.5, 422.5}},
        {1, 1, {400}},
        {1, 0, {}},
        {0, 3, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.lives);
        ASys.drawCount = 0;
        ThisGame.lives = c.lives;
        ThisGame.DefaultScoreDisplay(c.showLives);
        auto icons = LifeIcons();
        ASSERT_EQ(c.xs.size(), icons.size());
        for (size_t i = 0; i < icons.size(); i++) {
            EXPECT_DOUBLE_EQ(c.xs[i], icons[i].first);
            EXPECT_DOUBLE_EQ(36, icons[i].second);
        }
    }
}

TEST_F(Scoreboards, PanelSlidesInStaysAndPagesOnItsOwn) {
    ThisGame.boardPage = 0;
    ThisGame.boardTimer = 0;
    ThisGame.boardSlide = 64;
    struct Step { int frames, page, slide; } steps[] = {
        {15, 0, 64 - 15 * 16},   // sliding in
        {1, 0, -180},            // fully in
        {254, 0, -180},          // frame 270 still in
        {1, 0, -164},            // slide-out begins
        {14, 0, 60},
        {1, 0, 64},              // out of view
        {14, 0, 64},             // frame 300
        {1, 1, 48},              // the next page starts sliding in
        {301, 2, 48},
        {301, 0, 48},            // after "Top Online" comes "Top 5" again
    };
    int total = 0;
    for (auto& s : steps) {
        Frames(s.frames);
        total += s.frames;
        SCOPED_TRACE(total);
        EXPECT_EQ(s.page, ThisGame.boardPage);
        EXPECT_EQ(s.slide, ThisGame.boardSlide);
    }
}

TEST_F(Scoreboards, PanelPositionFollowsSlideUnlessMotionIsReduced) {
    struct Case { int reduced, slide; double x; } cases[] = {
        {0, -180, 702},   // fully in: W - 98
        {0, 64, 946},     // out of view
        {1, 64, 702},     // fixed panel
    };
    for (auto& c : cases) {
        ThisGame.saveData[23] = c.reduced;
        ThisGame.boardTimer = 100;   // mid-page: the slide does not move
        ThisGame.boardSlide = c.slide;
        ASys.drawCount = 0;
        ThisGame.DisplayScoreboard();
        ASSERT_GT(ASys.drawCount, 0);
        EXPECT_EQ(CMD_RECT, ASys.drawList[0].kind);
        EXPECT_DOUBLE_EQ(c.x, ASys.drawList[0].x) << c.reduced << " " << c.slide;
    }
}

TEST_F(Scoreboards, TouchOrButtonAdvancesOnePage) {
    ThisGame.boardPage = 0;
    ThisGame.boardTimer = 100;
    ThisGame.boardSlide = -180;

    // A touch holds the panel at the start of its slide-out until it ends.
    ThisGame.pointerDown = 1;
    Frames(40);
    EXPECT_EQ(270, ThisGame.boardTimer);
    EXPECT_EQ(1, ThisGame.keyLatch[13]);
    ThisGame.pointerDown = 0;
    Frames(1);
    EXPECT_EQ(0, ThisGame.keyLatch[13]);
    Frames(30);
    EXPECT_EQ(1, ThisGame.boardPage);

    // A held button acts once.
    ThisGame.boardTimer = 100;
    ASys.Keyv[13] = 1;
    Frames(1);
    EXPECT_EQ(270, ThisGame.boardTimer);
    Frames(20);
    EXPECT_EQ(290, ThisGame.boardTimer);
    Frames(11);
    EXPECT_EQ(2, ThisGame.boardPage);
    ASys.Keyv[13] = 0;
    Frames(1);
    EXPECT_EQ(0, ThisGame.keyLatch[13]);
}

}  // namespace
