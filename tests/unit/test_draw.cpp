// Drawing state, shape commands and the command lists, checked on the
// command records themselves (no GL).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

class Draw : public ::testing::Test {
protected:
    void SetUp() override {
        // The canvas of an 800 x 600 window, as the window code sets it.
        ASys.virtualW = 800;
        ASys.ViewScale = 2.0f / 800;
        ASys.imageScale = 1;
        ASys.rw2 = 400;
        ASys.rh2 = 300;
        ASys.drawCount = 0;
        ASys.droppedCommands = 0;
        ASys.curBlend = 1;
        ThisGame.ResetDraw();
    }
    void TearDown() override {
        ASys.drawCount = 0;
        ASys.droppedCommands = 0;
        ASys.curBlend = 1;
    }
    static const DrawCommand& Cmd(int i) { return ASys.drawList[i]; }
    // Colour 1 (lower edge) and colour 2 (upper edge) as stored: r, g, b, a.
    static void ExpectColours(const DrawCommand& c, float r1, float g1, float b1, float a1,
                              float r2, float g2, float b2, float a2, const std::string& what) {
        EXPECT_FLOAT_EQ(r1, c.red1) << what;
        EXPECT_FLOAT_EQ(g1, c.green1) << what;
        EXPECT_FLOAT_EQ(b1, c.blue1) << what;
        EXPECT_FLOAT_EQ(a1, c.alpha1) << what;
        EXPECT_FLOAT_EQ(r2, c.red2) << what;
        EXPECT_FLOAT_EQ(g2, c.green2) << what;
        EXPECT_FLOAT_EQ(b2, c.blue2) << what;
        EXPECT_FLOAT_EQ(a2, c.alpha2) << what;
    }
    static void ExpectState(float r, float g, float b, float a, const std::string& what) {
        EXPECT_FLOAT_EQ(r, ASys.red1) << what;
        EXPECT_FLOAT_EQ(g, ASys.green1) << what;
        EXPECT_FLOAT_EQ(b, ASys.blue1) << what;
        EXPECT_FLOAT_EQ(a, ASys.alpha1) << what;
        EXPECT_FLOAT_EQ(r, ASys.red2) << what;
        EXPECT_FLOAT_EQ(g, ASys.green2) << what;
        EXPECT_FLOAT_EQ(b, ASys.blue2) << what;
        EXPECT_FLOAT_EQ(a, ASys.alpha2) << what;
    }
};

TEST_F(Draw, ResetDrawRestoresColourSizeRotationAndLineOnly) {
    MyGame& g = ThisGame;
    g.SetCol(1, 2, 3, 0.1f);
    g.SetSize(3);
    g.SetRot(45);
    g.Thick(9);
    g.SetFont(7);
    g.Smooth(1);
    g.CLS(10, 20, 30);
    g.SetBlend(3);
    g.ResetDraw();
    ExpectState(255, 255, 255, 255, "colours");
    EXPECT_FLOAT_EQ(0, ASys.rot);
    EXPECT_FLOAT_EQ(0.5f, ASys.lineHalf);
    EXPECT_FLOAT_EQ(400, ASys.sizeX);
    EXPECT_FLOAT_EQ(-400, ASys.sizeY);
    EXPECT_EQ(7, ASys.curFont);
    EXPECT_FLOAT_EQ(1, ASys.smooth);
    EXPECT_EQ(3, ASys.curBlend);
    EXPECT_FLOAT_EQ(20, ASys.clsCurrent[1]);
    g.Smooth(0);
    g.SetFont(0);
}

TEST_F(Draw, SetColAndAlphaClampToByteRange) {
    MyGame& g = ThisGame;
    g.SetAlpha(0.25f);
    g.SetCol(300, -5, 128);
    ExpectState(255, 0, 128, 63.75f, "SetCol keeps the alphas");
    g.SetCol(0, 0, 0, 0.5f);
    ExpectState(0, 0, 0, 127.5f, "half alpha");
    g.SetCol(10, 20, 30, 2);
    ExpectState(10, 20, 30, 255, "alpha above 1");
    g.Alpha(-1);
    ExpectState(10, 20, 30, 0, "alpha below 0");
}

TEST_F(Draw, GradientPutsTheFirstColourOnTheUpperEdge) {
    MyGame& g = ThisGame;
    g.SetGradient(255, 0, 0, 1, 0, 0, 255, 0.5f);
    g.Rect(400, 300, 100, 50);
    // Colour 1 is the lower edge with the default scale: the second colour.
    ExpectColours(Cmd(0), 0, 0, 255, 127.5f, 255, 0, 0, 255, "gradient");
    g.SetGradient(-1, 999, 7, 3, 400, -2, 8, -1);
    ExpectColours((g.Rect(0, 0, 1), Cmd(1)), 255, 0, 8, 0, 0, 255, 7, 255, "clamped gradient");
}

TEST_F(Draw, InkPaletteWrapsBothWays) {
    struct Case { int n; float r, g, b; } cases[] = {
        {0, 0, 0, 0},     {1, 255, 0, 0},     {2, 255, 128, 0},   {3, 255, 255, 0},
        {4, 0, 255, 0},   {5, 0, 255, 255},   {6, 0, 0, 255},     {7, 180, 0, 255},
        {8, 255, 0, 180}, {9, 255, 255, 255}, {10, 0, 0, 0},      {12, 255, 128, 0},
        {-1, 255, 255, 255}, {-8, 255, 128, 0}, {-10, 0, 0, 0},   {-13, 180, 0, 255},
    };
    for (auto& c : cases) {
        ThisGame.SetAlpha(0.2f);   // Ink is opaque whatever came before
        ThisGame.Ink(c.n);
        ExpectState(c.r, c.g, c.b, 255, "Ink(" + std::to_string(c.n) + ")");
    }
}

TEST_F(Draw, HueColours) {
    struct Case { float h, s, v, r, g, b; } cases[] = {
        {0, 1, 1, 255, 0, 0},
        {120, 1, 1, 0, 255, 0},
        {240, 1, 1, 0, 0, 255},
        {420, 1, 1, 255, 255, 0},      // 60 after the full turn
        {30, 1, 1, 255, 127.5f, 0},
        {300, 1, 1, 255, 0, 255},
        {330, 1, 1, 255, 0, 127.5f},
        {360, 1, 1, 255, 0, 0},
        {-120, 1, 1, 0, 0, 255},       // negative hues count back from 360
        {-90, 1, 1, 127.5f, 0, 255},
        {77, 0, 0.5f, 127.5f, 127.5f, 127.5f},  // no saturation: grey
        {0, 0.5f, 1, 255, 127.5f, 127.5f},
        {0, 1, 1.5f, 255, 0, 0},       // value above 1 clamps
    };
    for (auto& c : cases) {
        ThisGame.SetAlpha(0);
        ThisGame.InkRot(c.h, c.s, c.v);
        ExpectState(c.r, c.g, c.b, 255, "InkRot(" + std::to_string(c.h) + ", " + std::to_string(c.s) +
                                            ", " + std::to_string(c.v) + ")");
    }
    ThisGame.InkRot(240);
    ExpectState(0, 0, 255, 255, "InkRot(240)");
    ThisGame.InkRot(0, 0.5f);
    ExpectState(255, 127.5f, 127.5f, 255, "InkRot(0, 0.5)");
}

TEST_F(Draw, BlendChangeIsQueuedOnlyWhenTheModeChanges) {
    MyGame& g = ThisGame;
    g.SetBlend(1);   // every update starts in mode 1
    EXPECT_EQ(0, ASys.drawCount);
    g.SetBlend(2);
    g.SetBlend(2);
    ASSERT_EQ(1, ASys.drawCount);
    EXPECT_EQ(CMD_BLEND, Cmd(0).kind);
    EXPECT_EQ(2, Cmd(0).BlendMode());
    g.Rect(1, 1, 1);
    g.SetBlend(1);
    ASSERT_EQ(3, ASys.drawCount);
    EXPECT_EQ(CMD_BLEND, Cmd(2).kind);
    EXPECT_EQ(1, Cmd(2).BlendMode());
    // After a commit the mode is 1 again, so asking for 1 queues nothing.
    g.SetBlend(3);
    g.showStats = 0;
    g.BufferGame();
    EXPECT_EQ(4, DrawToRT);
    EXPECT_EQ(1, ASys.curBlend);
    g.SetBlend(1);
    EXPECT_EQ(0, ASys.drawCount);
}

TEST_F(Draw, LineThicknessHasAFloorAndFourAliases) {
    MyGame& g = ThisGame;
    g.SetLineThickness(0);
    EXPECT_FLOAT_EQ(0.025f, ASys.lineHalf);
    g.SetLineThickness(-3);
    EXPECT_FLOAT_EQ(0.025f, ASys.lineHalf);
    std::function<void(float)> aliases[] = {
        [&](float t) { g.Width(t); }, [&](float t) { g.Thick(t); },
        [&](float t) { g.SetLineWidth(t); }, [&](float t) { g.SetLineThick(t); },
    };
    for (size_t i = 0; i < 4; i++) {
        g.SetLineThickness(1);
        aliases[i](4);
        EXPECT_FLOAT_EQ(2, ASys.lineHalf) << "alias " << i;
    }
}

TEST_F(Draw, CommandCarriesTheState) {
    MyGame& g = ThisGame;
    g.SetCol(10, 20, 30, 0.5f);
    g.SetRot(33);
    g.Thick(3);
    g.SetSize(2, 3);
    g.Rect(400, 300, 100, 50);
    const DrawCommand& c = Cmd(0);
    ExpectColours(c, 10, 20, 30, 127.5f, 10, 20, 30, 127.5f, "colours");
    EXPECT_FLOAT_EQ(33, c.rot);
    EXPECT_FLOAT_EQ(1.5f, c.lineHalf);
    EXPECT_FLOAT_EQ(800, c.sizeX);
    EXPECT_FLOAT_EQ(-1200, c.sizeY);
    for (double reserved : {c.pad20, c.pad23[0], c.pad23[1], c.pad23[2]}) EXPECT_EQ(0, reserved);
    EXPECT_EQ(1, ASys.drawCount);
}

TEST_F(Draw, BoxShapeSlots) {
    MyGame& g = ThisGame;
    struct Case {
        const char* what;
        std::function<void()> draw;
        int kind;
        double x, y, w, h;
    } cases[] = {
        {"Rect", [&] { g.Rect(400, 300, 100, 50); }, 1, 0, 0, 100, -50},
        {"Rect size 2", [&] { g.SetSize(2); g.Rect(0, 0, 10, 10); }, 1, -400, -300, 20, -20},
        {"Rect size 2,3", [&] { g.SetSize(2, 3); g.Rect(0, 0, 10, 10); }, 1, -400, -300, 20, -30},
        {"Rect square", [&] { g.Rect(10, 20, 30); }, 1, -390, -280, 30, -30},
        {"Plot", [&] { g.Plot(401, 302); }, 1, 1, 2, 1, -1},
        {"Rect_UL w h", [&] { g.Rect_UL(10, 20, 30, 40); }, 1, 25 - 400, 40 - 300, 30, -40},
        {"Rect_UL s", [&] { g.Rect_UL(10, 20, 30); }, 1, 25 - 400, 35 - 300, 30, -30},
        {"Oval", [&] { g.Oval(100, 100, 40, 20); }, 3, -300, -200, 40, -20},
        {"Oval r", [&] { g.Oval(100, 100, 10); }, 3, -300, -200, 20, -20},
        {"Circle", [&] { g.Circle(100, 100, 10); }, 3, -300, -200, 20, -20},
        {"Oval_UL w h", [&] { g.Oval_UL(100, 100, 40, 20); }, 3, -280, -190, 40, -20},
        {"Oval_UL r", [&] { g.Oval_UL(100, 100, 10); }, 3, -290, -190, 20, -20},
        {"Circle_UL", [&] { g.Circle_UL(100, 100, 10); }, 3, -290, -190, 20, -20},
        {"Fan", [&] { g.Fan(100, 100, 10); }, 5, -300, -200, 20, -20},
        {"Fan size 3,0.5", [&] { g.SetSize(3, 0.5f); g.Fan(0, 0, 10); }, 5, -400, -300, 60, -10},
    };
    for (auto& c : cases) {
        ASys.drawCount = 0;
        g.ResetDraw();
        c.draw();
        ASSERT_EQ(1, ASys.drawCount) << c.what;
        const DrawCommand& s = Cmd(0);
        EXPECT_EQ(c.kind, s.kind) << c.what;
        EXPECT_FLOAT_EQ(c.x, s.x) << c.what;
        EXPECT_FLOAT_EQ(c.y, s.y) << c.what;
        EXPECT_FLOAT_EQ(c.w, s.w) << c.what;
        EXPECT_FLOAT_EQ(c.h, s.h) << c.what;
    }
}

// Expected points are relative to the canvas point (rw2, rh2) = (400, 300).
void ExpectPoints(const DrawCommand& c, int kind, std::initializer_list<double> pts, const std::string& what) {
    EXPECT_EQ(kind, c.kind) << what;
    const double points[8] = {c.x, c.y, c.X2(), c.Y2(), c.x3, c.y3, c.x4, c.y4};
    int i = 0;
    for (double v : pts) {
        EXPECT_NEAR(v - (i % 2 ? 300 : 400), points[i], 1e-3) << what << " coordinate " << i;
        i++;
    }
}

TEST_F(Draw, PointShapesIgnoreSizeAndRotation) {
    MyGame& g = ThisGame;
    g.SetSize(3);
    g.SetRot(30);
    g.Quad(1, 2, 3, 4, 5, 6, 7, 8);
    g.FullTri(10, 20, 30, 40, 50, 60);
    ExpectPoints(Cmd(0), 2, {1, 2, 3, 4, 5, 6, 7, 8}, "Quad");
    ExpectPoints(Cmd(1), 6, {10, 20, 30, 40, 50, 60}, "FullTri");
    EXPECT_FLOAT_EQ(30, Cmd(0).rot);   // carried, not applied
}

TEST_F(Draw, LineIsAQuadOffsetByHalfTheThickness) {
    MyGame& g = ThisGame;
    g.Line(0, 0, 100, 0);
    ExpectPoints(Cmd(0), 2, {0, 0.5, 100, 0.5, 100, -0.5, 0, -0.5}, "horizontal");
    // Downwards with thickness 4; the scale does not widen it.
    g.Thick(4);
    g.SetSize(5);
    g.Line(10, 10, 10, 110);
    ExpectPoints(Cmd(1), 2, {8, 10, 8, 110, 12, 110, 12, 10}, "vertical");
    // A diagonal: offsets of 3 / sqrt(2) across the segment.
    g.Thick(6);
    g.Line(0, 0, 10, 10);
    double k = 3 / std::sqrt(2.0);
    ExpectPoints(Cmd(2), 2, {-k, k, 10 - k, 10 + k, 10 + k, 10 - k, k, -k}, "diagonal");
}

TEST_F(Draw, TrianglesTurnAtQueueTime) {
    MyGame& g = ThisGame;
    const double s = 8.660254;   // 10 sin 60
    g.Tri(400, 300, 10, 10);
    ExpectPoints(Cmd(0), 6, {400, 290, 400 + s, 305, 400 - s, 305}, "Tri");
    g.Tri(400, 300, 20, 10);
    ExpectPoints(Cmd(1), 6, {400, 290, 400 + 2 * s, 305, 400 - 2 * s, 305}, "Tri wide");
    g.SetRot(90);   // the apex turns clockwise on screen, to the right
    g.Tri(400, 300, 10, 10);
    ExpectPoints(Cmd(2), 6, {410, 300, 395, 300 + s, 395, 300 - s}, "Tri rot 90");
    // e = 0.5 centres the vertical extent: from 7.5 above to 7.5 below.
    g.SetRot(0);
    g.Tri_Fix(400, 300, 10, 10, 0.5f);
    ExpectPoints(Cmd(3), 6, {400, 292.5, 400 + s, 307.5, 400 - s, 307.5}, "Tri_Fix");
    g.SetRot(90);
    g.Tri_Fix(400, 300, 10, 10, 0.5f);
    ExpectPoints(Cmd(4), 6, {407.5, 300, 392.5, 300 + s, 392.5, 300 - s}, "Tri_Fix rot 90");
    g.SetRot(0);
    g.SetSize(2);
    g.Tri(400, 300, 10, 10);
    ExpectPoints(Cmd(5), 6, {400, 280, 400 + 2 * s, 310, 400 - 2 * s, 310}, "Tri size 2");
}

TEST_F(Draw, FullListDropsFurtherCommandsAndReportsOnceAtCommit) {
    MyGame& g = ThisGame;
    for (int i = 0; i < DRAW_LIST_MAX; i++) g.Rect((float)i, 0, 1);
    ASSERT_EQ(DRAW_LIST_MAX, ASys.drawCount);
    g.Ink(1);
    g.Rect(-5, -5, 3);
    g.SetBlend(2);
    g.Line(0, 0, 1, 1);
    g.Tri(0, 0, 1, 1);
    g.Fan(0, 0, 1);
    EXPECT_EQ(DRAW_LIST_MAX, ASys.drawCount);
    EXPECT_EQ(5, ASys.droppedCommands);
    // The last command that fitted is untouched.
    EXPECT_FLOAT_EQ(DRAW_LIST_MAX - 1 - 400, Cmd(DRAW_LIST_MAX - 1).x);
    EXPECT_FLOAT_EQ(255, Cmd(DRAW_LIST_MAX - 1).green1);

    testing::internal::CaptureStdout();
    ASys.RenderBuffer();
    ASys.RenderBuffer();   // nothing dropped since: no second line
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("> Draw list full: 5 commands dropped\n")) << out;
    EXPECT_EQ(out.find("Draw list full"), out.rfind("Draw list full")) << out;
    EXPECT_EQ(DRAW_LIST_MAX, DrawToRT);
    EXPECT_EQ(0, ASys.droppedCommands);
    EXPECT_EQ(0, memcmp(DrawR, ASys.drawList, sizeof(DrawCommand) * DRAW_LIST_MAX));

    ASys.drawCount = 0;
    g.Rect(1, 2, 3);
    EXPECT_EQ(1, ASys.drawCount);
}

TEST_F(Draw, CommitCopiesTheWholeListAndAnEmptyUpdateCommitsNothing) {
    MyGame& g = ThisGame;
    g.showStats = 0;
    g.Rect(1, 2, 3);
    g.Ink(4);
    g.Quad(1, 2, 3, 4, 5, 6, 7, 8);
    g.SetBlend(2);
    g.BufferGame();
    ASSERT_EQ(3, DrawToRT);
    EXPECT_EQ(0, memcmp(DrawR, ASys.drawList, sizeof(DrawCommand) * 3));
    EXPECT_EQ(0, ASys.drawCount);
    g.BufferGame();
    EXPECT_EQ(0, DrawToRT);
}

TEST_F(Draw, ClearColourOperations) {
    MyGame& g = ThisGame;
    g.CLS(300, -4, 20);
    for (float* v : {ASys.clsCurrent, ASys.clsTarget}) {
        EXPECT_FLOAT_EQ(255, v[0]);
        EXPECT_FLOAT_EQ(0, v[1]);
        EXPECT_FLOAT_EQ(20, v[2]);
    }
    EXPECT_FLOAT_EQ(1, ASys.clsSpeed);
    g.FadeCLS(0, 0, 400, 8);
    EXPECT_FLOAT_EQ(255, ASys.clsCurrent[0]);
    EXPECT_FLOAT_EQ(255, ASys.clsTarget[2]);
    EXPECT_FLOAT_EQ(8, ASys.clsSpeed);
    // hi + (hi - lo) sin(angle + 0, 120, 240), clamped.
    g.SetCLSRot(0, 0, 50);
    EXPECT_NEAR(50, ASys.clsCurrent[0], 1e-3);
    EXPECT_NEAR(50 + 50 * 0.8660254, ASys.clsCurrent[1], 1e-3);
    EXPECT_NEAR(50 - 50 * 0.8660254, ASys.clsTarget[2], 1e-3);
    EXPECT_FLOAT_EQ(1, ASys.clsSpeed);
    g.SetCLSRot(90, 300, -20);   // lo 255, hi 0
    EXPECT_NEAR(0, ASys.clsCurrent[0], 1e-3);
    EXPECT_NEAR(127.5, ASys.clsCurrent[1], 1e-3);
    EXPECT_NEAR(127.5, ASys.clsCurrent[2], 1e-3);
}

// Bad numbers: a NaN, or an infinity where a finite number is needed,
// makes the call do nothing, said once for that call; an infinity where a
// range holds the value is clamped like any other value out of range.
TEST_F(Draw, NaNAndInfinitiesAreRefusedOnceOrClamped) {
    MyGame& g = ThisGame;
    const float nan = NAN, inf = INFINITY;
    struct Case {
        const char* call;
        std::function<void()> run;
        const char* instead;
        const char* what;   // what the log says was wrong
    } cases[] = {
        {"Rect", [&] { g.Rect(nan, 300, 10, 10); }, "nothing drawn", "NaN or infinite"},
        {"Rect_UL", [&] { g.Rect_UL(400, 300, inf); }, "nothing drawn", "NaN or infinite"},
        {"Plot", [&] { g.Plot(1, -inf); }, "nothing drawn", "NaN or infinite"},
        {"Oval", [&] { g.Oval(400, 300, nan, 3); }, "nothing drawn", "NaN or infinite"},
        {"Circle", [&] { g.Circle(400, 300, inf); }, "nothing drawn", "NaN or infinite"},
        {"Circle_UL", [&] { g.Circle_UL(nan, 0, 3); }, "nothing drawn", "NaN or infinite"},
        {"Fan", [&] { g.Fan(400, 300, nan); }, "nothing drawn", "NaN or infinite"},
        {"Quad", [&] { g.Quad(0, 0, 1, 0, 1, inf, 0, 1); }, "nothing drawn", "NaN or infinite"},
        {"FullTri", [&] { g.FullTri(0, 0, nan, 0, 1, 1); }, "nothing drawn", "NaN or infinite"},
        {"Tri", [&] { g.Tri(0, 0, 10, -inf); }, "nothing drawn", "NaN or infinite"},
        {"Tri_Fix", [&] { g.Tri_Fix(0, 0, 10, 10, nan); }, "nothing drawn", "NaN or infinite"},
        {"Line", [&] { g.Line(0, 0, inf, 5); }, "nothing drawn", "NaN or infinite"},
        {"DrawImg", [&] { g.DrawImg(0, nan, 5); }, "nothing drawn", "NaN or infinite"},
        {"DrawBlur", [&] { g.DrawBlur(0, 5, inf); }, "nothing drawn", "NaN or infinite"},
        {"QuadImg", [&] { g.QuadImg(0, 0, 0, 1, 0, 1, 1, nan, 1, 0); }, "nothing drawn", "NaN or infinite"},
        {"Text", [&] { g.Text(10, 10, "hi", nan); }, "nothing drawn", "NaN or infinite"},
        {"SetCol", [&] { g.SetCol(1, nan, 3); }, "the drawing state is kept", "NaN"},
        {"SetGradient", [&] { g.SetGradient(1, 2, 3, nan, 5, 6, 7, 1); }, "the drawing state is kept", "NaN"},
        {"SetAlpha", [&] { g.SetAlpha(nan); }, "the drawing state is kept", "NaN"},
        {"SetSize", [&] { g.SetSize(inf); }, "the drawing state is kept", "NaN or infinite"},
        {"SetRot", [&] { g.SetRot(nan); }, "the drawing state is kept", "NaN or infinite"},
        {"SetLineThickness", [&] { g.Thick(-inf); }, "the drawing state is kept", "NaN or infinite"},
        {"HSV2RGB", [&] { g.InkRot(inf); }, "the drawing state is kept", "NaN or infinite"},
        {"SetCLS", [&] { g.CLS(nan, 0, 0); }, "the drawing state is kept", "NaN"},
        {"FadeCLS", [&] { g.FadeCLS(0, 0, 0, inf); }, "the drawing state is kept", "NaN or infinite"},
        {"SetCLSRot", [&] { g.SetCLSRot(nan, 0, 255); }, "the drawing state is kept", "NaN or infinite"},
    };
    g.SetCol(10, 20, 30, 0.5f);
    g.SetSize(2);
    g.SetRot(45);
    g.SetLineThickness(3);
    g.CLS(40, 50, 60);
    const float sizeX = ASys.sizeX, rot = ASys.rot, thick = ASys.lineHalf;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        KELPSys::ForgetLogged(c.call);
        testing::internal::CaptureStdout();
        c.run();
        c.run();
        std::string out = testing::internal::GetCapturedStdout();
        const std::string line = std::string("> ") + c.call + ": an argument is " + c.what + "; " + c.instead +
                                 " (said once)\n";
        EXPECT_NE(std::string::npos, out.find(line)) << out;
        EXPECT_EQ(out.find(line), out.rfind(line)) << "said twice: " << out;
        EXPECT_EQ(0, ASys.drawCount);
        ExpectState(10, 20, 30, 127.5f, "the colour is kept");
        EXPECT_EQ(sizeX, ASys.sizeX);
        EXPECT_EQ(rot, ASys.rot);
        EXPECT_EQ(thick, ASys.lineHalf);
        EXPECT_FLOAT_EQ(50, ASys.clsTarget[1]);
    }

    // Infinities where a range holds the value: clamped, nothing said.
    testing::internal::CaptureStdout();
    g.SetCol(inf, -inf, 7, inf);
    ExpectState(255, 0, 7, 255, "infinite components");
    g.InkRot(0, inf, -inf);
    ExpectState(0, 0, 0, 255, "infinite saturation and value");
    g.CLS(-inf, inf, 3);
    EXPECT_FLOAT_EQ(0, ASys.clsTarget[0]);
    EXPECT_FLOAT_EQ(255, ASys.clsTarget[1]);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());

    // Finite arguments whose product at the current size overflows: the
    // command is not kept, and that is said once.
    KELPSys::ForgetLogged("draw overflow");
    testing::internal::CaptureStdout();
    g.SetSize(1e30f);
    g.Rect(400, 300, 1e30f, 1);
    g.Rect(400, 300, 1e30f, 1);
    g.SetSize(1);
    g.Rect(400, 300, -10, -20);   // a negative size is drawn, mirrored
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, ASys.drawCount);
    EXPECT_FLOAT_EQ(-10, Cmd(0).w);
    const std::string overflow = "> A shape or image too large to draw (its numbers overflow); not drawn (said once)\n";
    EXPECT_NE(std::string::npos, out.find(overflow)) << out;
    EXPECT_EQ(out.find(overflow), out.rfind(overflow)) << out;
}

// The fade is a step of every render; without a window a render still
// takes that step.
TEST_F(Draw, ClearColourFadesOneStepPerRender) {
    ASSERT_EQ(nullptr, ASys.window);
    struct Case { float from, to, speed; int renders; float expect; } cases[] = {
        {0, 80, 8, 1, 10},
        {0, 80, 8, 2, 18.75f},
        {200, 0, 4, 1, 150},
        {0, 80, 1, 1, 80},
        {0, 80, 0, 1, 80},       // speed 0 jumps
        {0, 80, 0.5f, 1, 80},    // below 1 would overshoot: jumps too
        {0, 80, -3, 1, 80},
        {79, 80, 8, 1, 80},      // a gap under 2 after the step closes
        {77, 80, 8, 1, 77.375f}, // 2.625 left: not yet
    };
    for (auto& c : cases) {
        ThisGame.CLS(c.from, 0, c.from);
        ThisGame.FadeCLS(c.to, 0, c.to, c.speed);
        for (int i = 0; i < c.renders; i++) ASys.RenderSys(0);
        std::string what = std::to_string(c.from) + " -> " + std::to_string(c.to) + " at " + std::to_string(c.speed);
        EXPECT_FLOAT_EQ(c.expect, ASys.clsCurrent[0]) << what;
        EXPECT_FLOAT_EQ(c.expect, ASys.clsCurrent[2]) << what;
        EXPECT_FLOAT_EQ(0, ASys.clsCurrent[1]) << what;
    }
}

}  // namespace
