// The particle pool: spawning, the pool limit, flight kinds, lifetimes and
// what each kind draws.
#include <gtest/gtest.h>

#include <cstring>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

enum { P_KIND, P_X, P_Y, P_DX, P_DY, P_ROT, P_SPIN, P_ALPHA, P_HUE, P_FRAME };

class Particles : public ::testing::Test {
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
        imageFrames[51] = 625;
        imageFrames[55] = 144;
        ASys.curFont = 51;
        ASys.ViewScale = 1;
        ASys.imageScale = 1;
        ASys.rw2 = 0;
        ASys.rh2 = 0;
        ASys.drawCount = 0;
        memset(ThisGame.particleBlock, 0, sizeof ThisGame.particleBlock);
        ThisGame.camX = ThisGame.camY = 0;
        ThisGame.score = 0;
        ThisGame.SeedRnd(1234);
    }
    void TearDown() override {
        memcpy(imageFrames, savedFrames, sizeof savedFrames);
        ASys.ViewScale = savedViewScale;
        ASys.imageScale = savedImageScale;
        ASys.curFont = savedFont;
        ASys.rw2 = savedRw2;
        ASys.rh2 = savedRh2;
        ASys.drawCount = 0;
        memset(ThisGame.particleBlock, 0, sizeof ThisGame.particleBlock);
    }

    int Busy() {
        int n = 0;
        for (auto& p : ThisGame.particles)
            if (p[P_KIND] != 0) n++;
        return n;
    }

    // Frames a single record stays busy.
    int Lifetime() {
        for (int frame = 1; frame < 1000; frame++) {
            ASys.drawCount = 0;
            ThisGame.DoParticles();
            if (ThisGame.particles[0][P_KIND] == 0) return frame;
        }
        return -1;
    }

    int Count(double kind, double slot) {
        int n = 0;
        for (int i = 0; i < ASys.drawCount; i++)
            if (ASys.drawList[i].kind == kind && ASys.drawList[i].image == slot) n++;
        return n;
    }
};

TEST_F(Particles, LifetimesAndWhatEachKindDraws) {
    // kind (-1: a score number), frames alive, sprites and text glyphs per frame
    struct Case { int kind, frames, sprites; bool text; } cases[] = {
        {1, 76, 1, false}, {2, 76, 1, false}, {3, 76, 1, false},
        {95, 76, 0, false},   // moves and fades, never drawn
        {-1, 31, 0, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.kind);
        memset(ThisGame.particleBlock, 0, sizeof ThisGame.particleBlock);
        if (c.kind < 0)
            ThisGame.Gimme(35, 100, 100);
        else
            ThisGame.ThrowParticle(100, 100, 30, 0, c.kind, 45, 3);
        ASys.drawCount = 0;
        ThisGame.DoParticles();
        EXPECT_EQ(c.sprites, Count(CMD_IMAGE, 55));
        // "35" is two glyphs of the font.
        EXPECT_EQ(c.text ? 2 : 0, Count(CMD_IMAGE, 51));
        EXPECT_EQ(c.frames, 1 + Lifetime());
    }
}

TEST_F(Particles, FlightKindsMove) {
    ThisGame.camX = 10;
    ThisGame.camY = -20;
    ThisGame.ThrowParticle(100, 200, 0, 0, 1, 90, 4);     // straight, to the right
    ThisGame.ThrowParticle(100, 200, 0, 0, 2, 0, 2);      // falling, thrown up
    ThisGame.Gimme(5, 100, 200);                          // number, floats up
    const float(&p)[256][10] = ThisGame.particles;
    ASys.drawCount = 0;
    ThisGame.DoParticles();
    EXPECT_NEAR(104, p[0][P_X], 1e-4);
    EXPECT_NEAR(200, p[0][P_Y], 1e-4);
    // The sprite is drawn at the new position less the camera.
    EXPECT_EQ(CMD_IMAGE, ASys.drawList[0].kind);
    EXPECT_NEAR(94, ASys.drawList[0].x, 1e-4);
    EXPECT_NEAR(220, ASys.drawList[0].y, 1e-4);
    EXPECT_NEAR(198, p[1][P_Y], 1e-4);
    EXPECT_NEAR(-1.75, p[1][P_DY], 1e-4);
    EXPECT_NEAR(200, p[2][P_Y], 1e-4);
    ThisGame.DoParticles();
    ThisGame.DoParticles();
    EXPECT_NEAR(200 - 2 - 1.75 - 1.5, p[1][P_Y], 1e-4);
    EXPECT_NEAR(200 - 0.05 - 0.10, p[2][P_Y], 1e-4);
    EXPECT_NEAR(112, p[0][P_X], 1e-4);
}

TEST_F(Particles, BouncingSparkHopsAgainAndAgain) {
    ThisGame.ThrowParticle(100, 100, 0, 0, 3, 0, 3);
    float line = ThisGame.particles[0][P_SPIN];
    EXPECT_GE(line, 112);
    EXPECT_LE(line, 120);
    float top = 100;
    int hops = 0;
    bool below = false;
    while (ThisGame.particles[0][P_KIND] == 3) {
        ThisGame.DoParticles();
        const float* p = ThisGame.particles[0];
        if (p[P_Y] < top) top = p[P_Y];
        if (p[P_Y] > line && !below) hops++;
        below = p[P_Y] > line;
        if (below) {
            EXPECT_LT(p[P_DY], 0);
        }
    }
    EXPECT_LT(top, 90);   // it rose first
    EXPECT_GE(hops, 2);
}

TEST_F(Particles, PoolIsLimitedAndPointsStillCount) {
    for (int i = 0; i < 256; i++) ThisGame.ThrowParticle(i, 0, 0, 0, 1, 0, 1);
    EXPECT_EQ(256, Busy());
    ThisGame.ThrowParticle(999, 999, 0, 0, 1, 0, 1);
    ThisGame.Gimme(40, 999, 999);
    EXPECT_EQ(40, ThisGame.score);
    for (int i = 0; i < 256; i++) ASSERT_EQ(i, ThisGame.particles[i][P_X]);

    // A freed record is the next one taken.
    ThisGame.particles[17][P_KIND] = 0;
    ThisGame.Gimme(5, 7, 8, 200);
    EXPECT_EQ(45, ThisGame.score);
    const float* p = ThisGame.particles[17];
    EXPECT_EQ(99, p[P_KIND]);
    EXPECT_EQ(5, p[P_FRAME]);
    EXPECT_EQ(200, p[P_HUE]);
    EXPECT_EQ(1.5f, p[P_ALPHA]);
}

TEST_F(Particles, ColourRowPicksTwelveFrames) {
    struct Case { int row, first; } cases[] = {{0, 0}, {13, 12}, {-1, 132}, {24, 0}, {-13, 132}, {4, 48}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.row);
        bool seenFirst = false, seenLast = false;
        for (int n = 0; n < 200; n++) {
            memset(ThisGame.particleBlock, 0, sizeof ThisGame.particleBlock);
            ThisGame.ThrowParticle(0, 0, 0, c.row, 1, 0, 1);
            int frame = (int)ThisGame.particles[0][P_FRAME];
            ASSERT_GE(frame, c.first);
            ASSERT_LE(frame, c.first + 11);
            seenFirst |= frame == c.first;
            seenLast |= frame == c.first + 11;
        }
        EXPECT_TRUE(seenFirst && seenLast);
    }
}

TEST_F(Particles, KindZeroStaysFreeAndDrawsNothing) {
    ThisGame.ThrowParticle(50, 60, 0, 0, 0, 0, 1);
    EXPECT_EQ(50, ThisGame.particles[0][P_X]);
    EXPECT_EQ(0, Busy());
    ASys.drawCount = 0;
    ThisGame.DoParticles();
    EXPECT_EQ(0, ASys.drawCount);
    EXPECT_EQ(50, ThisGame.particles[0][P_X]);   // not moved either
    ThisGame.ThrowParticle(70, 80, 0, 0, 2, 0, 1);
    EXPECT_EQ(70, ThisGame.particles[0][P_X]);
    EXPECT_EQ(1, Busy());
}

}  // namespace
