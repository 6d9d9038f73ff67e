// The demo scene: game start, steering and chasing, the collision displays
// and firing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

class DemoScene : public ::testing::Test {
protected:
    int32_t savedFrames[IMAGE_SLOTS];
    float savedViewScale, savedImageScale;
    int32_t savedRw2, savedRh2, savedFont;

    void SetUp() override {
        memcpy(savedFrames, imageFrames, sizeof savedFrames);
        savedViewScale = ASys.ViewScale;
        savedImageScale = ASys.imageScale;
        savedRw2 = ASys.rw2;
        savedRh2 = ASys.rh2;
        savedFont = ASys.curFont;
        // The font, the life icons and the particles read as loaded.
        imageFrames[51] = 625;
        imageFrames[52] = 625;
        imageFrames[55] = 144;
        ASys.curFont = 51;
        ASys.ViewScale = 1;
        ASys.imageScale = 1;
        ASys.rw2 = 0;
        ASys.rh2 = 0;
        ASys.drawCount = 0;
        memset(ASys.Keyv, 0, sizeof ASys.Keyv);
        ThisGame.screenW = 800;
        ThisGame.screenH = 600;
        ThisGame.pointerDown = 0;
        ThisGame.SeedRnd(42);
    }
    void TearDown() override {
        memcpy(imageFrames, savedFrames, sizeof savedFrames);
        ASys.ViewScale = savedViewScale;
        ASys.imageScale = savedImageScale;
        ASys.rw2 = savedRw2;
        ASys.rh2 = savedRh2;
        ASys.curFont = savedFont;
        ASys.drawCount = 0;
        memset(ASys.Keyv, 0, sizeof ASys.Keyv);
        memset(ThisGame.particleBlock, 0, sizeof ThisGame.particleBlock);
        ThisGame.gameMode = 0;
    }

    void Frame() {
        ASys.drawCount = 0;
        ThisGame.DoGame();
    }

    // The commands of one kind drawn this frame, in order.
    std::vector<const DrawCommand*> Commands(int kind) {
        std::vector<const DrawCommand*> out;
        for (int i = 0; i < ASys.drawCount; i++)
            if (ASys.drawList[i].kind == kind) out.push_back(&ASys.drawList[i]);
        return out;
    }

    static bool Red(const DrawCommand* c) { return c->red1 == 255 && c->green1 == 0 && c->blue1 == 0; }
};

TEST_F(DemoScene, StartingAGameCountsItAndPlacesTheMarkers) {
    ThisGame.saveData[100] = 6;
    ThisGame.score = 70;
    ThisGame.particles[3][0] = 1;
    ThisGame.LoadGame();
    EXPECT_EQ(7, ThisGame.saveData[100]);
    EXPECT_EQ(10, ThisGame.gameMode);
    EXPECT_EQ(0, ThisGame.demoAngleA);
    EXPECT_EQ(180, ThisGame.demoAngleB);
    EXPECT_EQ(3, ThisGame.lives);
    EXPECT_EQ(0, ThisGame.score);
    EXPECT_EQ(0, ThisGame.particles[3][0]);
}

TEST_F(DemoScene, ChaserFollowsAtThreeDegreesAndSettles) {
    ThisGame.LoadGame();
    for (int i = 0; i < 100; i++) {
        float before = ThisGame.demoAngleB;
        Frame();
        ASSERT_LE(std::fabs(ThisGame.demoAngleB - before), 3.0f) << i;
    }
    EXPECT_NEAR(ThisGame.demoAngleA, ThisGame.demoAngleB, 1.0f);
    // Settled, the markers overlap: both circles are red.
    auto ovals = Commands(CMD_OVAL);
    ASSERT_EQ(2u, ovals.size());
    EXPECT_TRUE(Red(ovals[0]) && Red(ovals[1]));

    // A full right press turns the steered marker 10 degrees a frame.
    ASys.Keyv[1] = 1;
    Frame();
    Frame();
    EXPECT_FLOAT_EQ(20, ThisGame.demoAngleA);
    ASys.Keyv[1] = 0;
    ASys.Keyv[3] = 0.5f;
    Frame();
    EXPECT_FLOAT_EQ(15, ThisGame.demoAngleA);
}

TEST_F(DemoScene, DiagonalCrossingIsMarkedInRed) {
    struct Case { float angle; bool crosses; float x, y; } cases[] = {
        {0, false, 0, 0},
        // The segment from (800, 0) to (400, 428) meets y = 0.75x at u = 600/728.
        {180, true, 800 - 400 * 600.0f / 728, 428 * 600.0f / 728},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.angle);
        ThisGame.LoadGame();
        ThisGame.demoAngleA = c.angle;
        ThisGame.demoAngleB = c.angle + 90;
        Frame();
        auto ovals = Commands(CMD_OVAL);
        auto lines = Commands(CMD_QUAD);
        ASSERT_EQ(c.crosses ? 3u : 2u, ovals.size());
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(c.crosses, Red(lines[0]) && Red(lines[1]));
        if (c.crosses) {
            EXPECT_NEAR(c.x, ovals[2]->x, 0.01);
            EXPECT_NEAR(c.y, ovals[2]->y, 0.01);
            EXPECT_DOUBLE_EQ(16, ovals[2]->w);
        }
    }
}

TEST_F(DemoScene, FireThrowsThreeKindsAndEarnsPoints) {
    ThisGame.LoadGame();
    Frame();
    EXPECT_EQ(0, ThisGame.particles[0][0]);

    ASys.Keyv[10] = 1;
    Frame();
    const float(&p)[256][10] = ThisGame.particles;
    float ax = 400, ay = 300 - 128;
    EXPECT_EQ(1, p[0][0]);
    EXPECT_EQ(2, p[1][0]);
    EXPECT_EQ(3, p[2][0]);
    EXPECT_NEAR(ax, p[0][1], 0.01);
    EXPECT_NEAR(ay, p[0][2], 0.01);
    EXPECT_NEAR(ax, p[1][1], 0.01);
    // The third starts at the chaser.
    EXPECT_NEAR(400 + 98 * std::sin(ThisGame.demoAngleB * 0.0174532925), p[2][1], 0.01);
    // Colour rows 0, 2 and 4.
    EXPECT_LT(p[0][9], 12);
    EXPECT_TRUE(p[1][9] >= 24 && p[1][9] < 36);
    EXPECT_TRUE(p[2][9] >= 48 && p[2][9] < 60);

    // Held with the pool flowing, it earns multiples of 5, 5 to 50 at a time.
    int numbers = 0;
    for (int i = 0; i < 300; i++) {
        float before = ThisGame.score;
        Frame();
        float gained = ThisGame.score - before;
        if (gained != 0) {
            numbers++;
            EXPECT_EQ(0, (int)gained % 5);
            EXPECT_GE(gained, 5);
            EXPECT_LE(gained, 50);
        }
        ThisGame.DoParticles();
    }
    EXPECT_GT(numbers, 2);
    EXPECT_LT(numbers, 30);
}

}  // namespace
