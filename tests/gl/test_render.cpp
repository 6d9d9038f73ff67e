// The frame renderer on a real window: command lists are committed and
// rendered, and the frame is read back from the back buffer (this driver
// keeps it after the swap) to check pixels.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>
#include <lodepng.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

struct RGB {
    int r, g, b;
};

class Render : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!ASys.window) ASys.SysInit("render test");
    }
    static void TearDownTestSuite() { ASys.Close(); }

    void SetUp() override {
        ASSERT_NE(nullptr, ASys.window);
        Resize(800, 600);
        ThisGame.showStats = 0;
        Wireframe = 0;
        ASys.Button[66] = 0;
        ASys.smooth = 0;
        ASys.drawCount = 0;
        ASys.curBlend = 1;
        ThisGame.CLS(0, 0, 0);
        ThisGame.ResetDraw();
    }
    void TearDown() override {
        // Other suites in this program expect the image table as start-up left it.
        for (int slot : {5, 6, 7, 8, 9, 102}) {
            imageFrames[slot] = -1;
            Image[slot].clear();
            ImageBlur[slot].clear();
            ImageChanged(slot);
        }
        ThisGame.Smooth(0);
        Wireframe = 0;
        ASys.Button[66] = 0;
        ASys.drawCount = 0;
    }

    // Resizes the window and settles the canvas as two renders would.
    void Resize(int w, int h) {
        glfwSetWindowPos(ASys.window, 0, 0);
        glfwSetWindowSize(ASys.window, w, h);
        int fw = 0, fh = 0;
        // The X server answers in its own time: up to a minute on a busy machine.
        for (double end = glfwGetTime() + 60; glfwGetTime() < end;) {
            glfwPollEvents();
            glfwGetFramebufferSize(ASys.window, &fw, &fh);
            if (fw == w && fh == h) break;
            usleep(5000);
        }
        ASSERT_EQ(w, fw);
        ASSERT_EQ(h, fh);
        ASys.fbWidth = w;
        ASys.fbHeight = h;
        ASys.aspect = (1.0f / h) * w;
        ASys.virtualW = 800;
        float sw, sh;
        ASys.ComputeCanvas(sw, sh);
        ASys.ComputeCanvas(sw, sh);
        // The driver may take a moment to give a resized window its new
        // buffers; an empty frame first keeps the read-back from racing it.
        DrawToRT = 0;
        ASys.RenderSys(0);
        width = w;
        height = h;
    }

    // Commits what was queued, renders it and reads the frame back.
    void Frame(float overscan = 0) {
        ThisGame.BufferGame();
        RenderOnly(overscan);
    }
    void RenderOnly(float overscan = 0) {
        ASys.RenderSys(overscan);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
        pixels.assign((size_t)width * height * 4, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    }

    // Pixel at column x, row y counted from the top.
    RGB At(int x, int y) const {
        const unsigned char* p = &pixels[((size_t)(height - 1 - y) * width + x) * 4];
        return {p[0], p[1], p[2]};
    }
    bool Lit(int x, int y) const {
        RGB c = At(x, y);
        return c.r + c.g + c.b > 60;
    }
    // Bounding box of the lit pixels.
    void LitBox(int& w, int& h) const {
        int x0 = width, x1 = -1, y0 = height, y1 = -1;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                if (Lit(x, y)) {
                    if (x < x0) x0 = x;
                    if (x > x1) x1 = x;
                    if (y < y0) y0 = y;
                    if (y > y1) y1 = y;
                }
        w = x1 < 0 ? 0 : x1 - x0 + 1;
        h = y1 < 0 ? 0 : y1 - y0 + 1;
    }

    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
};

void ExpectColour(RGB want, RGB got, int tol, const std::string& what) {
    EXPECT_NEAR(want.r, got.r, tol) << what;
    EXPECT_NEAR(want.g, got.g, tol) << what;
    EXPECT_NEAR(want.b, got.b, tol) << what;
}

// A plane of one colour, edge x edge, as a load would leave the slot.
void FillPlane(int slot, int edge, RGB c) {
    Image[slot].assign((size_t)edge * edge * 4, 255);
    ImageBlur[slot].assign((size_t)edge * edge * 4, 0);
    for (size_t i = 0; i < (size_t)edge * edge; i++) {
        Image[slot][i * 4] = (unsigned char)c.r;
        Image[slot][i * 4 + 1] = (unsigned char)c.g;
        Image[slot][i * 4 + 2] = (unsigned char)c.b;
    }
    imageFrames[slot] = 1;
    iFramesW[slot] = edge;
    iFramesWz[slot] = 1;
    iSize[slot] = edge;
    imageFrameSize[slot] = edge;
    imageUnit[slot] = edge / 800.0f;
    ImageChanged(slot);
}

// A slot filled by hand: one 64 x 64 image, opaque, pixel plane green and
// blur plane red, so the two planes can be told apart on screen.
void FillSingleImage(int slot) {
    FillPlane(slot, 64, {0, 255, 0});
    for (size_t i = 0; i < ImageBlur[slot].size(); i += 4) {
        ImageBlur[slot][i] = 255;
        ImageBlur[slot][i + 3] = 255;
    }
}

// A 2-frame sheet of 32-pixel frames: edge 128, 3 cells a row, cell 40.
// Each texel encodes where it is: red = 2x, green = 2y.
void FillCoordinateSheet(int slot, int frames) {
    const int e = 128;
    Image[slot].assign((size_t)e * e * 4, 0);
    ImageBlur[slot].assign((size_t)e * e * 4, 0);
    for (int y = 0; y < e; y++)
        for (int x = 0; x < e; x++) {
            unsigned char* p = &Image[slot][((size_t)y * e + x) * 4];
            p[0] = (unsigned char)(2 * x);
            p[1] = (unsigned char)(2 * y);
            p[2] = 0;
            p[3] = 255;
        }
    imageFrames[slot] = frames;
    iFramesW[slot] = 3;
    iFramesWz[slot] = 0.3125f;
    iSize[slot] = e;
    imageFrameSize[slot] = 32;
    imageUnit[slot] = 40 / 800.0f;
    ImageChanged(slot);
}

// Queues an image-kind record the way the image operations lay it out.
void QueueImage(int kind, int slot, float x, float y, double frame = 0) {
    DrawCommand* c = ASys.NewCommand();
    ASSERT_NE(nullptr, c);
    c->kind = kind;
    c->x = x - ASys.rw2;
    c->y = y - ASys.rh2;
    c->w = ASys.sizeX * ASys.imageScale;
    c->h = ASys.sizeY * ASys.imageScale;
    c->image = slot;
    c->frame = frame;
    ASys.CopyState(*c);
}

void QueueQuadImage(int slot, const float* p) {
    DrawCommand* c = ASys.NewCommand();
    ASSERT_NE(nullptr, c);
    c->kind = CMD_QUADIMAGE;
    double* const place[4][2] = {{&c->x, &c->y}, {&c->w, &c->h}, {&c->x3, &c->y3}, {&c->x4, &c->y4}};
    for (int i = 0; i < 4; i++) {
        *place[i][0] = p[2 * i] - ASys.rw2;
        *place[i][1] = p[2 * i + 1] - ASys.rh2;
    }
    c->image = slot;
    c->frame = 0;
    ASys.CopyState(*c);
}

std::vector<int> UploadKeys() {
    std::vector<int> keys;
    for (int i = 0; i < TexUploads && i < TEX_UPLOAD_LOG; i++) keys.push_back(TexUploadKeys[i]);
    return keys;
}

// The sources of the batches of the last render, in order.
std::vector<int> BatchKeys() {
    std::vector<int> keys;
    for (int i = 0; i < TexBatches && i < TEX_UPLOAD_LOG; i++) keys.push_back(TexBatchKeys[i]);
    return keys;
}

// ---- Shapes -----------------------------------------------------------------

TEST_F(Render, GradientRectanglePutsColourOneOnTheLowerEdge) {
    MyGame& g = ThisGame;
    g.SetGradient(255, 0, 0, 1, 0, 0, 255, 1);
    g.Rect(400, 300, 200, 100);   // x 300..500, y 250..350
    Frame();
    ExpectColour({250, 0, 5}, At(400, 251), 8, "upper edge");
    ExpectColour({5, 0, 250}, At(400, 348), 8, "lower edge");
    ExpectColour({128, 0, 128}, At(400, 300), 6, "middle");
    ExpectColour({128, 0, 128}, At(302, 300), 6, "gradient is vertical only");
    for (auto p : {std::make_pair(400, 247), std::make_pair(400, 352), std::make_pair(297, 300),
                   std::make_pair(503, 300)})
        EXPECT_FALSE(Lit(p.first, p.second)) << p.first << "," << p.second;
    EXPECT_EQ(2, ASys.polyCount);
}

TEST_F(Render, RotatedRectangleExtents) {
    struct Case { float rot; int w, h; } cases[] = {
        {0, 100, 50}, {90, 50, 100}, {180, 100, 50}, {45, 106, 106},
    };
    for (auto& c : cases) {
        ThisGame.ResetDraw();
        ThisGame.SetRot(c.rot);
        ThisGame.Rect(400, 300, 100, 50);
        Frame();
        int w, h;
        LitBox(w, h);
        EXPECT_NEAR(c.w, w, 1) << "rotation " << c.rot;
        EXPECT_NEAR(c.h, h, 1) << "rotation " << c.rot;
    }
}

// A negative size mirrors a shape: a rectangle or a circle covers what its
// absolute size covers, and an _UL form reaches left of and above its corner.
TEST_F(Render, NegativeSizesDrawTheShapeMirrored) {
    struct Case {
        const char* what;
        std::function<void()> draw;
        int w, h;
        int insideX, insideY, outsideX, outsideY;
    } cases[] = {
        {"Rect", [] { ThisGame.Rect(400, 300, -100, -50); }, 100, 50, 360, 280, 460, 300},
        {"Circle", [] { ThisGame.Circle(400, 300, -40); }, 80, 80, 430, 300, 445, 300},
        {"Rect_UL", [] { ThisGame.Rect_UL(400, 300, -100, -50); }, 100, 50, 350, 275, 450, 325},
        {"Oval_UL", [] { ThisGame.Oval_UL(400, 300, -80, 60); }, 80, 60, 360, 330, 440, 330},
    };
    for (const Case& c : cases) {
        ThisGame.ResetDraw();
        c.draw();
        Frame();
        int w, h;
        LitBox(w, h);
        EXPECT_NEAR(c.w, w, 2) << c.what;
        EXPECT_NEAR(c.h, h, 2) << c.what;
        EXPECT_TRUE(Lit(c.insideX, c.insideY)) << c.what;
        EXPECT_FALSE(Lit(c.outsideX, c.outsideY)) << c.what;
    }
}

TEST_F(Render, OvalFillsItsEllipseWithCentreAndRimColours) {
    MyGame& g = ThisGame;
    g.SetGradient(0, 0, 255, 1, 255, 0, 0, 1);   // colour 1 (centre) red, rim blue
    g.Oval(400, 300, 200, 100);                  // radii 100 x 50
    Frame();
    ExpectColour({255, 0, 0}, At(400, 300), 6, "centre");
    ExpectColour({13, 0, 242}, At(495, 300), 12, "near the rim");
    struct P { int x, y; bool lit; } points[] = {
        {495, 300, true}, {505, 300, false}, {305, 300, true}, {295, 300, false},
        {400, 346, true}, {400, 354, false}, {400, 254, true}, {400, 246, false},
        {480, 340, false},   // inside the box, outside the ellipse
        {460, 330, true},
    };
    for (auto& p : points) EXPECT_EQ(p.lit, Lit(p.x, p.y)) << p.x << "," << p.y;
    EXPECT_EQ(36, ASys.polyCount);
}

TEST_F(Render, LineThicknessAndSquareEnds) {
    for (float t : {4.0f, 12.0f}) {
        ThisGame.ResetDraw();
        ThisGame.Thick(t);
        ThisGame.Line(100, 300, 700, 300);
        Frame();
        int rows = 0;
        for (int y = 250; y < 350; y++) rows += Lit(400, y);
        EXPECT_EQ((int)t, rows) << "thickness " << t;
        EXPECT_TRUE(Lit(101, 300));
        EXPECT_TRUE(Lit(698, 300));
        EXPECT_FALSE(Lit(97, 300));
        EXPECT_FALSE(Lit(703, 300));
    }
}

TEST_F(Render, TrianglePointsAndTurn) {
    struct P { int x, y; bool lit; };
    struct Case { float rot; std::vector<P> points; } cases[] = {
        // Apex (400, 200), base corners (486.6, 350) and (313.4, 350).
        {0, {{400, 205, true}, {400, 195, false}, {400, 345, true}, {400, 355, false},
             {320, 345, true}, {310, 345, false}, {480, 345, true}, {490, 345, false}}},
        // Turned half round: apex (400, 400), base at y = 250.
        {180, {{400, 395, true}, {400, 405, false}, {400, 255, true}, {400, 245, false},
               {400, 205, false}}},
    };
    for (auto& c : cases) {
        ThisGame.ResetDraw();
        ThisGame.SetRot(c.rot);
        ThisGame.Tri(400, 300, 100, 100);
        Frame();
        for (auto& p : c.points)
            EXPECT_EQ(p.lit, Lit(p.x, p.y)) << "rotation " << c.rot << " at " << p.x << "," << p.y;
        EXPECT_EQ(1, ASys.polyCount);
    }
}

TEST_F(Render, FanAlternatesItsTwoColours) {
    MyGame& g = ThisGame;
    g.SetGradient(0, 0, 255, 1, 255, 0, 0, 1);   // colour 1 red, colour 2 blue
    g.Fan(400, 300, 100);
    Frame();
    // Sector 0 starts straight below the centre and is colour 2; sector 1
    // (10..20 degrees towards the right) is colour 1.
    ExpectColour({0, 0, 255}, At(405, 360), 4, "sector 0");
    ExpectColour({255, 0, 0}, At(414, 360), 4, "sector 1");
    ExpectColour({255, 0, 0}, At(395, 360), 4, "sector 35");
    EXPECT_EQ(36, ASys.polyCount);
}

TEST_F(Render, BlendModes) {
    // Clear colour (0, 0, 100); source (100, 200, 50) at alpha 127.
    struct Case { int mode; RGB want; } cases[] = {
        {1, {50, 100, 75}},    // src * a + dst * (1 - a)
        {2, {50, 100, 125}},   // src * a + dst
        {3, {39, 157, 110}},   // src * src + dst
    };
    for (auto& c : cases) {
        ThisGame.CLS(0, 0, 100);
        ThisGame.ResetDraw();
        ThisGame.SetBlend(c.mode);
        ThisGame.SetCol(100, 200, 50, 0.5f);
        ThisGame.Rect(400, 300, 100, 100);
        Frame();
        ExpectColour(c.want, At(400, 300), 2, "mode " + std::to_string(c.mode));
        ExpectColour({0, 0, 100}, At(100, 100), 0, "background, mode " + std::to_string(c.mode));
    }
    // An unknown mode leaves the last one in force; the next render starts in mode 1.
    ThisGame.CLS(0, 0, 100);
    ThisGame.ResetDraw();
    ThisGame.SetBlend(2);
    ThisGame.SetBlend(7);
    ThisGame.SetCol(100, 200, 50, 0.5f);
    ThisGame.Rect(400, 300, 100, 100);
    Frame();
    ExpectColour({50, 100, 125}, At(400, 300), 2, "mode 7 after 2");
    ThisGame.ResetDraw();
    ThisGame.SetCol(100, 200, 50, 0.5f);
    ThisGame.Rect(400, 300, 100, 100);
    Frame();
    ExpectColour({50, 100, 75}, At(400, 300), 2, "next render");
}

TEST_F(Render, EmptyListShowsTheClearColourOnly) {
    ThisGame.CLS(10, 20, 30);
    ThisGame.Rect(400, 300, 100);
    Frame();
    EXPECT_TRUE(Lit(400, 300));
    RenderOnly();   // no commit in between: the same list is drawn again
    EXPECT_TRUE(Lit(400, 300));
    Frame();   // an update that drew nothing commits an empty list
    EXPECT_EQ(0, ASys.polyCount);
    EXPECT_EQ(0, TexUploads);
    for (auto p : {std::make_pair(0, 0), std::make_pair(400, 300), std::make_pair(799, 599)})
        ExpectColour({10, 20, 30}, At(p.first, p.second), 0, "clear colour");
}

TEST_F(Render, WireframeDrawsOutlinesWithoutTexture) {
    ThisGame.Rect(400, 300, 200, 100);
    Wireframe = 1;
    Frame();
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(Lit(350, 300));   // inside, off the diagonal
    bool edge = false;
    for (int y = 248; y <= 252; y++) edge = edge || Lit(350, y);
    EXPECT_TRUE(edge);
    Wireframe = 0;
    ThisGame.Rect(400, 300, 200, 100);
    Frame();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(Lit(350, 300));
}

TEST_F(Render, OverscanLeavesTheSameMarginOnEverySide) {
    Resize(1000, 500);   // canvas 800 x 400
    ThisGame.Rect(400, 200, 800, 400);
    Frame(0);
    EXPECT_TRUE(Lit(0, 0));
    EXPECT_TRUE(Lit(999, 499));
    ThisGame.Rect(400, 200, 800, 400);
    Frame(0.1f);   // o * fbWidth / 4 = 25 pixels
    struct P { int x, y; bool lit; } points[] = {
        {23, 250, false}, {27, 250, true},  {972, 250, true}, {976, 250, false},
        {500, 23, false}, {500, 27, true},  {500, 472, true}, {500, 476, false},
    };
    for (auto& p : points) EXPECT_EQ(p.lit, Lit(p.x, p.y)) << p.x << "," << p.y;
    EXPECT_FLOAT_EQ(1 / 0.95f, ASys.OverscanScaleX);
    EXPECT_FLOAT_EQ(1 / 0.9f, ASys.OverscanScaleY);
}

TEST_F(Render, PortraitCanvasIs512UnitsWideAndKeepsCirclesRound) {
    Resize(400, 700);   // canvas 512 x 896, 0.78125 pixels a unit
    ASSERT_EQ(512, ASys.virtualW);
    ThisGame.ResetDraw();
    ThisGame.Rect_UL(0, 0, 256, 448);   // the upper-left quarter
    Frame();
    EXPECT_TRUE(Lit(2, 2));
    EXPECT_TRUE(Lit(197, 347));
    EXPECT_FALSE(Lit(203, 347));
    EXPECT_FALSE(Lit(197, 353));
    ThisGame.Circle(256, 448, 100);   // 78 pixels either way
    Frame();
    struct P { int x, y; bool lit; } points[] = {
        {275, 350, true}, {282, 350, false}, {125, 350, true}, {118, 350, false},
        {200, 425, true}, {200, 432, false}, {200, 275, true}, {200, 268, false},
    };
    for (auto& p : points) EXPECT_EQ(p.lit, Lit(p.x, p.y)) << p.x << "," << p.y;
}

TEST_F(Render, VeryWideCanvasStarts32UnitsIn) {
    Resize(1200, 300);   // canvas 768 x 200 after the 32-unit trim, 1.5 pixels a unit
    ASSERT_EQ(2, ASys.iBump);
    ThisGame.ResetDraw();
    ThisGame.Rect_UL(0, 0, 10, 10);          // pixels x 48..63, y 0..14
    ThisGame.Rect_UL(758, 190, 10, 10);      // the lower-right corner
    Frame();
    struct P { int x, y; bool lit; } points[] = {
        {46, 7, false}, {50, 7, true}, {61, 7, true}, {66, 7, false}, {55, 13, true}, {55, 17, false},
        {1198, 298, true}, {1183, 285, false},
    };
    for (auto& p : points) EXPECT_EQ(p.lit, Lit(p.x, p.y)) << p.x << "," << p.y;
}

// ---- Batching and uploads ---------------------------------------------------------

TEST_F(Render, ShapesShareOneBatchUntilABlendChange) {
    MyGame& g = ThisGame;
    g.Rect(100, 100, 10);
    g.Oval(200, 100, 10);
    g.Tri(300, 100, 10, 10);
    g.Line(0, 0, 10, 10);
    g.Fan(400, 100, 10);
    // An unknown kind draws nothing and leaves the batch open.
    DrawCommand* c = ASys.NewCommand();
    ASSERT_NE(nullptr, c);
    c->kind = 7;
    ASys.CopyState(*c);
    g.Rect(500, 100, 10);
    Frame();
    EXPECT_EQ(std::vector<int>({-2}), BatchKeys());
    EXPECT_EQ(2 + 36 + 1 + 2 + 36 + 2, ASys.polyCount);

    g.Rect(100, 100, 10);
    g.SetBlend(2);
    g.Rect(100, 100, 10);
    Frame();
    EXPECT_EQ(std::vector<int>({-2, -2}), BatchKeys());
    // The white block never changes: once in the context is enough.
    EXPECT_EQ(0, TexUploads);
}

TEST_F(Render, ABatchRestartsAfter50000Units) {
    // An oval is 36 units: after 1389 of them the batch holds 50,004.
    DrawCommand proto = {};
    proto.kind = CMD_OVAL;
    proto.w = 4;
    proto.h = -4;
    proto.alpha1 = proto.red1 = proto.green1 = proto.blue1 = 255;
    proto.alpha2 = proto.red2 = proto.green2 = proto.blue2 = 255;
    for (int n : {1389, 1390}) {
        for (int i = 0; i < n; i++) DrawR[i] = proto;
        DrawToRT = n;
        ASys.RenderSys(0);
        EXPECT_EQ(n == 1389 ? 1 : 2, TexBatches) << n << " ovals";
        EXPECT_EQ(36 * n, ASys.polyCount);
    }
    DrawToRT = 0;
}

TEST_F(Render, ImageBatchesFollowTheSourceKey) {
    const int slot = 5;
    FillSingleImage(slot);
    struct Case {
        const char* what;
        std::vector<int> kinds;   // 11 image, 13 blurred image, 1 rectangle
        std::vector<int> keys;
    } cases[] = {
        {"two images", {11, 11}, {5}},
        {"image, rectangle, image", {11, 1, 11}, {5, -2, 5}},
        {"image then blurred image", {11, 13}, {5, 205}},
        {"blurred twice, then image", {13, 13, 11}, {205, 5}},
    };
    for (auto& c : cases) {
        for (int k : c.kinds) {
            if (k == 1)
                ThisGame.Rect(100, 100, 10);
            else
                QueueImage(k, slot, 400, 300);
        }
        Frame();
        EXPECT_EQ(c.keys, BatchKeys()) << c.what;
    }
}

TEST_F(Render, PlanesAreUploadedOnceUntilTheirPixelsChange) {
    FillSingleImage(5);
    auto count = [](int key) {
        std::vector<int> k = UploadKeys();
        return (int)std::count(k.begin(), k.end(), key);
    };
    QueueImage(CMD_IMAGE, 5, 300, 300);
    ThisGame.Rect(100, 100, 10);
    QueueImage(CMD_IMAGE, 5, 300, 300);
    QueueImage(CMD_BLUR, 5, 500, 300);
    Frame();
    EXPECT_EQ(std::vector<int>({5, -2, 5, 205}), BatchKeys());
    EXPECT_EQ(1, count(5));
    EXPECT_EQ(1, count(205));
    RenderOnly();   // the same list again: every batch binds, none uploads
    EXPECT_EQ(std::vector<int>({5, -2, 5, 205}), BatchKeys());
    EXPECT_EQ(0, TexUploads);
    ExpectColour({0, 255, 0}, At(300, 300), 0, "pixel plane");
    ExpectColour({255, 0, 0}, At(500, 300), 0, "blur plane");
}

TEST_F(Render, PixelBufferWritesShowInTheNextFrame) {
    // A 64 x 64 buffer drawn 1:1 at (368..431, 268..331): texel (x, y) is
    // pixel (368 + x, 268 + y). Slot 9 is a sheet whose texels say where they are.
    MyGame& g = ThisGame;
    FillCoordinateSheet(9, 2);
    struct Case {
        const char* what;
        std::function<void()> write;
        int x, y;
        RGB want;
    } cases[] = {
        {"create", [&] { g.CreateBuffer(5, 64); }, 10, 10, {0, 0, 0}},
        {"fill", [&] { g.BufferFill(5, 255, 0, 0, 255); }, 10, 10, {255, 0, 0}},
        {"plot", [&] { g.SetCol(0, 255, 0); g.BufferPlot(5, 10, 10); }, 10, 10, {0, 255, 0}},
        {"line", [&] { g.SetCol(0, 0, 255); g.BufferLine(5, 0, 20, 64, 20); }, 33, 20, {0, 0, 255}},
        // Frame 1 starts at texel (44, 4): red 88, green 8.
        {"tile", [&] { g.BufferTile(5, 9, 30, 30, 1); }, 30, 30, {88, 8, 0}},
    };
    for (auto& c : cases) {
        g.ResetDraw();
        c.write();
        g.ResetDraw();
        g.DrawImg(5, 400, 300);
        Frame();
        ExpectColour(c.want, At(368 + c.x, 268 + c.y), 0, c.what);
        EXPECT_EQ(std::vector<int>({5}), UploadKeys()) << c.what;
    }
    ExpectColour({0, 255, 0}, At(378, 278), 0, "the plot is still there");
    g.DrawImg(5, 400, 300);
    Frame();
    EXPECT_EQ(0, TexUploads) << "nothing written since the last frame";
}

TEST_F(Render, PlanesUploadedAheadInBandsDrawWhole) {
    // Storage promised to slot 5 for a 1024 x 1024 plane is made by the next
    // render; each render after the plane arrives uploads a band of it.
    ASys.ReserveTexture(5, 1024);
    RenderOnly();
    FillPlane(5, 1024, {0, 255, 0});
    RenderOnly();
    EXPECT_EQ(std::vector<int>({5}), UploadKeys()) << "a band of the plane";
    // Loaded again before it was all up: the bands start over with the new
    // pixels, and the first draw uploads the rest, once.
    FillPlane(5, 1024, {0, 0, 255});
    RenderOnly();
    EXPECT_EQ(std::vector<int>({5}), UploadKeys());
    ThisGame.DrawImg(5, 400, 300);   // texture rows 212..811 on the screen
    Frame();
    EXPECT_EQ(std::vector<int>({5}), UploadKeys());
    ExpectColour({0, 0, 255}, At(400, 2), 0, "a row uploaded ahead");
    ExpectColour({0, 0, 255}, At(400, 597), 0, "a row the draw uploaded");
    ThisGame.DrawImg(5, 400, 300);
    Frame();
    EXPECT_EQ(0, TexUploads);

    // A load that brings another size than promised is drawn all the same.
    ASys.ReserveTexture(6, 1024);
    RenderOnly();
    FillSingleImage(6);
    RenderOnly();
    EXPECT_EQ(0, TexUploads);
    ThisGame.ResetDraw();
    ThisGame.DrawImg(6, 400, 300);
    Frame();
    ExpectColour({0, 255, 0}, At(400, 300), 0, "the smaller plane");

    // A slot that goes on drawing a plane of another size while its promised
    // load is on its way keeps that plane's texture: nothing is uploaded
    // again frame after frame.
    FillSingleImage(7);
    ThisGame.ResetDraw();
    ThisGame.DrawImg(7, 400, 300);
    Frame();
    ASys.ReserveTexture(7, 1024);
    for (int i = 0; i < 3; i++) {
        ThisGame.ResetDraw();
        ThisGame.DrawImg(7, 400, 300);
        Frame();
        EXPECT_EQ(0, TexUploads) << "frame " << i;
    }
    ExpectColour({0, 255, 0}, At(400, 300), 0, "the plane it holds");
    ASys.ReserveTexture(7, 0);
}

TEST_F(Render, SmoothingChangeRefiltersWithoutUploading) {
    // Frame 1 of the sheet drawn 4 pixels a texel: with linear filtering the
    // texels' even red values blend into odd ones between texel centres.
    FillCoordinateSheet(9, 2);
    auto draw = [&](int smooth) {
        ThisGame.Smooth(smooth);
        ThisGame.ResetDraw();
        ThisGame.SetSize(4);
        QueueImage(CMD_IMAGE, 9, 400, 300, 1);
        Frame();
        int odd = 0;
        for (int x = 330; x < 470; x++) odd += At(x, 300).r % 2;
        return std::make_pair(odd, pixels);
    };
    auto nearest = draw(0);
    EXPECT_EQ(0, nearest.first);
    auto linear = draw(1);
    EXPECT_GT(linear.first, 20);
    EXPECT_EQ(0, TexUploads);
    auto again = draw(0);
    EXPECT_EQ(0, TexUploads);
    EXPECT_TRUE(nearest.second == again.second) << "nearest filtering is back";
}

TEST_F(Render, ImageAndBlurPlanesAreDrawnAtTheirSize) {
    const int slot = 5;
    FillSingleImage(slot);
    QueueImage(CMD_IMAGE, slot, 300, 300);   // 64 units square
    QueueImage(CMD_BLUR, slot, 500, 300);
    Frame();
    ExpectColour({0, 255, 0}, At(300, 300), 0, "pixel plane");
    ExpectColour({255, 0, 0}, At(500, 300), 0, "blur plane");
    EXPECT_TRUE(Lit(269, 300));
    EXPECT_FALSE(Lit(266, 300));
    EXPECT_TRUE(Lit(300, 330));
    EXPECT_FALSE(Lit(300, 334));
    EXPECT_EQ(4, ASys.polyCount);
}

TEST_F(Render, ImageCommandsThatCannotBeDrawnAreSkipped) {
    FillSingleImage(5);
    FillSingleImage(102);
    imageFrames[6] = -1;
    FillSingleImage(7);
    Image[7].resize(16);   // smaller than its stated edge
    const float quad[8] = {350, 250, 450, 250, 450, 350, 350, 350};
    QueueImage(CMD_IMAGE, 6, 400, 300);     // empty slot
    QueueImage(CMD_IMAGE, 100, 400, 300);   // not a drawable slot
    QueueImage(CMD_IMAGE, 7, 400, 300);
    QueueQuadImage(102, quad);              // the grab is no quad source
    Frame();
    EXPECT_EQ(0, TexUploads);
    EXPECT_EQ(0, ASys.polyCount);
    EXPECT_FALSE(Lit(400, 300));
    QueueImage(CMD_IMAGE, 102, 400, 300);   // but it is an image source
    QueueQuadImage(5, quad);
    Frame();
    EXPECT_EQ(std::vector<int>({102, 5}), BatchKeys());
    EXPECT_EQ(4, ASys.polyCount);
}

TEST_F(Render, OutOfRangeFramesAreDrawnAsFrameZeroAndRepaired) {
    FillCoordinateSheet(8, 4);
    QueueImage(CMD_IMAGE, 8, 200, 300, 7);
    QueueImage(CMD_IMAGE, 8, 400, 300, -1);
    QueueImage(CMD_IMAGE, 8, 600, 300, 3);
    Frame();
    EXPECT_EQ(0, DrawR[0].frame);
    EXPECT_EQ(0, DrawR[1].frame);
    EXPECT_EQ(3, DrawR[2].frame);
    // Frame 0 starts at texel 0 (red 0); frame 3 is cell (0, 1), texel y 40 on.
    EXPECT_LT(At(182, 282).r, 12);
    EXPECT_LT(At(182, 282).g, 12);
    EXPECT_EQ(84, At(582, 282).g);
    EXPECT_EQ(4, At(582, 282).r);
}

TEST_F(Render, FrameSelectsItsCellTheRightWayUp) {
    // Frame 1 of a 2-frame sheet: s 0.3125..0.625, t 0..0.3125, that is
    // texels x 40..79, y 0..39; drawn 4 pixels a texel at (320..480, 220..380).
    FillCoordinateSheet(9, 2);
    ThisGame.SetSize(4);
    QueueImage(CMD_IMAGE, 9, 400, 300, 1);
    Frame();
    ExpectColour({80, 0, 0}, At(322, 222), 0, "upper left: texel (40, 0)");
    ExpectColour({158, 78, 0}, At(478, 378), 0, "lower right: texel (79, 39)");
    ExpectColour({158, 0, 0}, At(478, 222), 0, "upper right: texel (79, 0)");
    EXPECT_FALSE(Lit(316, 300));
    EXPECT_FALSE(Lit(484, 300));
}

TEST_F(Render, ImageTurnsClockwise) {
    FillCoordinateSheet(9, 2);
    ThisGame.SetSize(4);
    ThisGame.SetRot(90);
    QueueImage(CMD_IMAGE, 9, 400, 300, 1);
    Frame();
    // The frame's top row (green 0) now runs down the right-hand side.
    EXPECT_EQ(0, At(478, 300).g);
    EXPECT_EQ(78, At(322, 300).g);
    // Upper left of the frame is now upper right.
    ExpectColour({80, 0, 0}, At(478, 222), 0, "texel (40, 0)");
}

TEST_F(Render, VertexColoursModulateImages) {
    FillSingleImage(5);
    for (auto& px : Image[5]) px = 255;   // white texels
    ImageChanged(5);
    ThisGame.SetGradient(255, 0, 0, 1, 0, 0, 255, 1);   // colour 2 red, colour 1 blue
    QueueImage(CMD_IMAGE, 5, 300, 300);
    // A textured quad puts colour 1 on P1 and P2, its upper edge here.
    const float quad[8] = {468, 268, 532, 268, 532, 332, 468, 332};
    QueueQuadImage(5, quad);
    Frame();
    ExpectColour({0, 0, 255}, At(300, 331), 8, "image, lower edge: colour 1");
    ExpectColour({255, 0, 0}, At(300, 269), 8, "image, upper edge: colour 2");
    ExpectColour({0, 0, 255}, At(500, 269), 8, "quad, P1 edge: colour 1");
    ExpectColour({255, 0, 0}, At(500, 331), 8, "quad, P3 edge: colour 2");
}

TEST_F(Render, SmoothSelectsLinearFiltering) {
    for (int smooth : {1, 0}) {
        ThisGame.Smooth(smooth);
        ThisGame.Rect(100, 100, 10);
        Frame();
        GLint filter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
        EXPECT_EQ(smooth ? GL_LINEAR : GL_NEAREST, filter);
    }
}

TEST_F(Render, HeldScreenshotKeySavesTheFrameJustDrawn) {
    Resize(960, 720);
    char dir[] = "/tmp/render_shot_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::string name = std::string(dir) + "/shot.png";
    snprintf(ASys.ScreenshotName, sizeof ASys.ScreenshotName, "%s", name.c_str());
    ThisGame.CLS(0, 0, 255);
    ThisGame.ResetDraw();
    ThisGame.SetCol(255, 0, 0);
    ThisGame.Rect_UL(0, 0, 400, 300);   // the upper-left quarter red
    ASys.Button[66] = 1;
    Frame();
    ASys.Button[66] = 0;
    std::vector<unsigned char> png;
    unsigned w = 0, h = 0;
    ASSERT_EQ(0u, lodepng::decode(png, w, h, name, LCT_RGBA, 8));
    ASSERT_EQ(960u, w);
    ASSERT_EQ(720u, h);
    auto px = [&](int x, int y) { return RGB{png[(y * w + x) * 4], png[(y * w + x) * 4 + 1], png[(y * w + x) * 4 + 2]}; };
    ExpectColour({255, 0, 0}, px(10, 10), 0, "top left");
    ExpectColour({255, 0, 0}, px(475, 355), 0, "middle of the top left quarter");
    ExpectColour({0, 0, 255}, px(485, 365), 0, "just past it");
    ExpectColour({0, 0, 255}, px(950, 710), 0, "bottom right");
    remove(name.c_str());
    rmdir(dir);
}

// The level page's scoreboard rows, in the demo's font: every digit of each
// "%08d" row is drawn whole, the last one (whose cell reaches past the right
// edge of the canvas) as much as the first.
TEST_F(Render, ScoreboardDigitsAreAllDrawnAlike) {
    char savedRoot[sizeof ThisGame.dataRoot];
    memcpy(savedRoot, ThisGame.dataRoot, sizeof savedRoot);
    ThisGame.SetDataRoot((std::string(KELP_DATA_DIR) + "/../../MyGame").c_str());
    ThisGame.gameNumber = 550;
    const int font = 51;
    ThisGame.LoadFont(font, "entplain.png");
    ASSERT_EQ(96, imageFrames[font]);
    ThisGame.screenW = 800;
    ThisGame.screenH = 600;
    const int32_t savedMotion = ThisGame.saveData[23], savedLevel = ThisGame.saveData[101];
    ThisGame.saveData[101] = 1;
    for (int i = 0; i < 20; i++) ThisGame.scoreData[20 + i] = 0;

    for (int page : {0, 1}) {
        SCOPED_TRACE(page);
        // The panel fully in, mid-page.
        ThisGame.boardPage = page;
        ThisGame.boardTimer = 100;
        ThisGame.boardSlide = -180;
        ThisGame.saveData[23] = 0;
        ThisGame.ResetDraw();
        ThisGame.DisplayScoreboard();
        Frame();
        for (int row = 0; row < 5; row++) {
            SCOPED_TRACE(row);
            const int y0 = 300 - 140 + 67 * row + 30 - 16;
            auto lit = [&](int x, int y) { return At(x, y).r > 128; };
            int left = -1;
            for (int x = 612; x < 800 && left < 0; x++)
                for (int y = y0; y < y0 + 32; y++)
                    if (lit(x, y)) left = x;
            ASSERT_GT(left, 0);
            // Eight glyphs 15 pixels apart, each compared with the first.
            for (int k = 1; k < 8; k++) {
                int differ = 0;
                for (int y = y0; y < y0 + 32; y++)
                    for (int dx = -1; dx < 14; dx++) differ += lit(left + dx, y) != lit(left + 15 * k + dx, y);
                EXPECT_EQ(0, differ) << "digit " << k;
            }
        }
    }
    imageFrames[font] = -1;
    Image[font].clear();
    ImageBlur[font].clear();
    ThisGame.saveData[23] = savedMotion;
    ThisGame.saveData[101] = savedLevel;
    memcpy(ThisGame.dataRoot, savedRoot, sizeof savedRoot);
}

}  // namespace
