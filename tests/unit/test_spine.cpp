// Launch and loop: the data root, the canvas computation, the frame delta.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

TEST(Spine, DataRootIsTheDirectoryOfTheProgramPath) {
    struct Case { const char* path; const char* root; } cases[] = {
        {"/opt/game/bin/run", "/opt/game/bin"},
        {"run", "."},
        {"C:\\games\\run", "C:\\games"},
        {"./MyGame", "."},
        {"/MyGame", ""},
        {"a/b\\c/d", "a/b\\c"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(1, ThisGame.SetDataRoot(c.path)) << c.path;
        EXPECT_STREQ(c.root, ThisGame.dataRoot) << c.path;
    }
}

TEST(Spine, OverlongProgramPathFallsBackToCurrentDirectory) {
    std::string path(5000, 'd');
    path += "/MyGame";
    EXPECT_EQ(0, ThisGame.SetDataRoot(path.c_str()));
    EXPECT_STREQ(".", ThisGame.dataRoot);
    // The longest directory part that fits is kept whole.
    std::string fits(4099, 'e');
    EXPECT_EQ(1, ThisGame.SetDataRoot((fits + "/x").c_str()));
    EXPECT_EQ(fits, std::string(ThisGame.dataRoot));
}

// Runs the canvas computation twice, as two renders would: the first choice
// of virtual width takes effect on the second.
static void Canvas(int fbw, int fbh, float& w, float& h) {
    ASys.virtualW = 800;
    ASys.fbWidth = fbw;
    ASys.fbHeight = fbh;
    ASys.aspect = (1.0f / fbh) * fbw;
    ASys.ComputeCanvas(w, h);
    ASys.ComputeCanvas(w, h);
}

TEST(Spine, CanvasFollowsTheFramebufferShape) {
    struct Case { int fbw, fbh; float w, h; int rw2, rh2, bump; float vw, imageScale; } cases[] = {
        {800, 600, 800, 600, 400, 300, 0, 800, 1},
        {1280, 720, 800, 450, 400, 225, 0, 800, 1},
        {720, 1280, 512, 512.0f * 1280 / 720, 256, 455, 0, 512, 1.5625f},
        {600, 1400, 512, 512.0f * 1400 / 600 - 32, 256, (int)(512.0f * 1400 / 600 / 2) - 32, 1, 512, 1.5625f},
        {3000, 1000, 768, 800.0f / 3, 368, 133, 2, 800, 1},
        {500, 500, 800, 800, 400, 400, 0, 800, 1},
    };
    for (auto& c : cases) {
        float w = 0, h = 0;
        Canvas(c.fbw, c.fbh, w, h);
        SCOPED_TRACE(testing::Message() << c.fbw << "x" << c.fbh);
        EXPECT_FLOAT_EQ(c.w, w);
        EXPECT_NEAR(c.h, h, 0.01);
        EXPECT_EQ(c.rw2, ASys.rw2);
        EXPECT_EQ(c.rh2, ASys.rh2);
        EXPECT_EQ(c.bump, ASys.iBump);
        EXPECT_FLOAT_EQ(c.vw, ASys.virtualW);
        EXPECT_FLOAT_EQ(c.imageScale, ASys.imageScale);
        EXPECT_FLOAT_EQ(2 / c.vw, ASys.ViewScale);
        EXPECT_FLOAT_EQ((float)ASys.rw2, ASys.centreX);
        EXPECT_FLOAT_EQ((float)ASys.rh2, ASys.centreY);
    }
}

TEST(Spine, CanvasWithoutAMeasuredFramebufferStaysAsItIs) {
    // A render with no window measures nothing: the canvas keeps its size.
    const float aspects[] = {0, -1, std::nanf("")};
    for (float aspect : aspects) {
        ASys.virtualW = 800;
        ASys.aspect = aspect;
        float w = 800, h = 600;
        ASys.ComputeCanvas(w, h);
        EXPECT_FLOAT_EQ(800, w) << aspect;
        EXPECT_FLOAT_EQ(600, h) << aspect;
    }
}

TEST(Spine, PortraitSettlesOverTwoRenders) {
    float w = 0, h = 0;
    ASys.virtualW = 800;
    ASys.aspect = 720.0f / 1280;
    ASys.ComputeCanvas(w, h);
    EXPECT_FLOAT_EQ(800, w);  // the render just done still used 800
    EXPECT_FLOAT_EQ(512, ASys.virtualW);
    ASys.ComputeCanvas(w, h);
    EXPECT_FLOAT_EQ(512, w);
    EXPECT_NEAR(910.222, h, 0.001);
}

TEST(Spine, FrameDeltaIsClampedTo5To128Ms) {
    struct Case { int ms; float delta; } cases[] = {
        {16, 0.96f}, {100, 6.0f}, {128, 7.68f}, {200, 7.68f}, {100000, 7.68f},
        {5, 0.3f}, {2, 0.3f}, {0, 0.3f}, {-50, 0.3f},
    };
    for (auto& c : cases) EXPECT_NEAR(c.delta, MyGame::FrameDelta(c.ms), 1e-5) << c.ms;
}

TEST(Spine, ZeroClearsExactlyItsBlock) {
    // Blocks from a few bytes to many pages, starting and ending anywhere in
    // a page; the bytes around each must keep their value.
    const size_t page = 4096, span = 40 * page;
    std::vector<unsigned char> buf(span + 2 * page);
    struct Case { size_t offset, bytes; } cases[] = {
        {0, 1}, {3, 100}, {page - 1, 2}, {17, 20 * page}, {page, 16 * page}, {5, 39 * page + 11}, {100, 0},
    };
    for (auto& c : cases) {
        std::fill(buf.begin(), buf.end(), 0xAB);
        Zero(buf.data() + c.offset, c.bytes);
        size_t wrong = 0;
        for (size_t i = 0; i < buf.size(); i++) {
            bool inside = i >= c.offset && i < c.offset + c.bytes;
            wrong += buf[i] != (inside ? 0 : 0xAB);
        }
        EXPECT_EQ(0u, wrong) << "offset " << c.offset << ", " << c.bytes << " bytes";
    }
}
