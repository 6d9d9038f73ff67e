// Images on a real window: a sprite frame with key colours and its fringe,
// text glyph positions, the screen grab and the screenshot file.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>
#include <lodepng.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

using Pixels = std::vector<unsigned char>;

class ImagesGL : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!ASys.window) ASys.SysInit("images test");
    }
    static void TearDownTestSuite() { ASys.Close(); }

    std::string root;
    char savedRoot[4100];
    int savedFont = 0;

    void SetUp() override {
        ASSERT_NE(nullptr, ASys.window);
        char tmpl[] = "/tmp/kelp_images_gl_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        root = tmpl;
        std::filesystem::create_directories(root + "/Data/550");
        memcpy(savedRoot, ThisGame.dataRoot, sizeof savedRoot);
        savedFont = ASys.curFont;
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", root.c_str());
        ThisGame.gameNumber = 550;
        ThisGame.showStats = 0;
        Wireframe = 0;
        ASys.Button[66] = 0;
        ASys.drawCount = 0;
        ASys.curBlend = 1;
        ThisGame.Smooth(0);
        Resize(800, 600);
        ThisGame.CLS(0, 0, 0);
        ThisGame.ResetDraw();
    }

    void TearDown() override {
        // Other suites in this program expect the image table as start-up left it.
        for (int slot : {20, 21, 100, 101, 102}) {
            imageFrames[slot] = -1;
            Image[slot].clear();
            ImageBlur[slot].clear();
        }
        ThisGame.Smooth(0);
        ASys.Button[66] = 0;
        ASys.drawCount = 0;
        memcpy(ThisGame.dataRoot, savedRoot, sizeof savedRoot);
        ASys.curFont = savedFont;
        std::filesystem::remove_all(root);
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
        ThisGame.screenW = sw;
        ThisGame.screenH = sh;
        DrawToRT = 0;
        ASys.RenderSys(0);
        width = w;
        height = h;
    }

    // Commits what was queued, renders it and reads the frame back.
    void Frame() {
        ThisGame.BufferGame();
        ASys.RenderSys(0);
        ASSERT_EQ((GLenum)GL_NO_ERROR, glGetError());
        pixels.assign((size_t)width * height * 4, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    }

    // Screen pixel at column x, row y counted from the top.
    std::vector<int> At(int x, int y) const {
        const unsigned char* p = &pixels[((size_t)(height - 1 - y) * width + x) * 4];
        return {p[0], p[1], p[2]};
    }

    std::string Write(const std::string& name, const Pixels& px, int w, int h) {
        std::string path = root + "/Data/550/" + name;
        EXPECT_EQ(0u, lodepng::encode(path, px, w, h));
        return path;
    }

    int width = 0, height = 0;
    Pixels pixels;
};

void Put(Pixels& px, int w, int x, int y, int r, int g, int b, int a) {
    unsigned char* p = &px[((size_t)y * w + x) * 4];
    p[0] = (unsigned char)r;
    p[1] = (unsigned char)g;
    p[2] = (unsigned char)b;
    p[3] = (unsigned char)a;
}

void ExpectNear(std::vector<int> want, std::vector<int> got, int tol, const std::string& what) {
    for (int c = 0; c < 3; c++) EXPECT_NEAR(want[c], got[c], tol) << what << " channel " << c;
}

// Loads are held to the largest texture this GL implementation takes,
// which the window's start-up reads.
TEST_F(ImagesGL, TheLargestTextureEdgeComesFromGL) {
    GLint edge = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &edge);
    EXPECT_GT(edge, 0);
    EXPECT_EQ(edge, MaxTextureEdge);
}

TEST_F(ImagesGL, SpriteFrameShowsUprightWithKeyColoursTransparent) {
    // Frame 1 of a 64x32 sheet: a yellow top row, red elsewhere, and a
    // magenta block in the middle. Frame 0 is all blue and must not show.
    Pixels px(64 * 32 * 4);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++) {
            if (x < 32) Put(px, 64, x, y, 0, 0, 255, 255);
            else if (y == 0) Put(px, 64, x, y, 255, 255, 0, 255);
            else Put(px, 64, x, y, 255, 0, 0, 255);
        }
    for (int y = 12; y < 20; y++)
        for (int x = 32 + 12; x < 32 + 20; x++) Put(px, 64, x, y, 255, 0, 255, 255);
    Write("sheet.png", px, 64, 32);
    testing::internal::CaptureStdout();
    ThisGame.LoadImg(20, "sheet", 32);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(2, imageFrames[20]);

    ThisGame.CLS(0, 255, 0);
    ThisGame.DrawImg(20, 400, 300, 1);
    Frame();
    // The 40-unit cell is centred on (400, 300); the frame sits 4 in, so
    // frame pixel (i, j) is screen pixel (384 + i, 284 + j).
    ExpectNear({255, 255, 0}, At(384, 284), 0, "top row");
    ExpectNear({255, 255, 0}, At(415, 284), 0, "top row, right end");
    ExpectNear({255, 0, 0}, At(384, 285), 0, "second row");
    ExpectNear({255, 0, 0}, At(415, 315), 0, "bottom right");
    ExpectNear({0, 255, 0}, At(384 + 12, 284 + 12), 0, "key colour block");
    ExpectNear({0, 255, 0}, At(384 + 19, 284 + 19), 0, "key colour block");
    ExpectNear({0, 255, 0}, At(383, 300), 0, "left margin");
    ExpectNear({0, 255, 0}, At(416, 300), 0, "right margin");
    ExpectNear({0, 255, 0}, At(400, 283), 0, "top margin");
    ExpectNear({0, 255, 0}, At(400, 316), 0, "bottom margin");
    for (int y = 270; y < 330; y++)
        for (int x = 370; x < 430; x++) ASSERT_LT(At(x, y)[2], 10) << "frame 0 showed at " << x << "," << y;
}

TEST_F(ImagesGL, FringeKeepsSmoothedEdgesInTheSpritesColour) {
    // With linear filtering and the image half a pixel off the grid, the
    // pixel over the frame's right edge is half opaque red texel, half
    // margin texel. The margin carries the fringe colour (red), so the edge
    // blends red and the green background evenly; a black margin would
    // halve the red.
    Pixels px(64 * 32 * 4);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++) Put(px, 64, x, y, 255, 0, 0, 255);
    Write("red.png", px, 64, 32);
    testing::internal::CaptureStdout();
    ThisGame.LoadImg(21, "red", 32);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(2, imageFrames[21]);

    ThisGame.Smooth(1);
    ThisGame.CLS(0, 255, 0);
    ThisGame.DrawImg(21, 400.5f, 300, 1);
    Frame();
    // Pixel k samples halfway between cell texels k - 381 and k - 380; the
    // frame's last column is cell texel 35, so the edge pixel is 416.
    ExpectNear({255, 0, 0}, At(410, 300), 3, "inside");
    ExpectNear({128, 128, 0}, At(416, 300), 8, "edge");
    ExpectNear({0, 255, 0}, At(418, 300), 3, "outside");
}

TEST_F(ImagesGL, TextGlyphsLandOnTheirPenPositions) {
    // A font whose every glyph is a 2x2 white dot at the glyph's centre.
    Pixels px(256 * 384 * 4, 0);
    for (int gy = 0; gy < 12; gy++)
        for (int gx = 0; gx < 8; gx++)
            for (int y = 15; y <= 16; y++)
                for (int x = 15; x <= 16; x++) Put(px, 256, gx * 32 + x, gy * 32 + y, 255, 255, 255, 255);
    Write("dots.png", px, 256, 384);
    testing::internal::CaptureStdout();
    ThisGame.LoadFont(21, "dots");
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(96, imageFrames[21]);

    struct Case { const char* text; float align; std::set<int> columns; } cases[] = {
        // Centred: A at x, B at x + 14. A glyph centred on x covers pixel
        // columns x - 1 and x.
        {"AB", 1, {399, 400, 413, 414}},
        {"AB", 0, {413, 414, 427, 428}},
        {"Mi", 0, {413, 414, 434, 435}},
    };
    for (auto& c : cases) {
        ThisGame.CLS(0, 0, 0);
        ThisGame.ResetDraw();
        ThisGame.Text(400, 200, std::string(c.text), c.align);
        Frame();
        std::set<int> columns;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                if (At(x, y)[0] > 128) {
                    columns.insert(x);
                    EXPECT_TRUE(y == 199 || y == 200) << c.text << " row " << y;
                }
        EXPECT_EQ(c.columns, columns) << c.text;
    }
}

TEST_F(ImagesGL, GrabCentresTheFramebufferInItsTexture) {
    // The opaque rectangle of the grab, inclusive.
    struct Case { int w, h, edge, x0, x1, y0, y1; } cases[] = {
        {800, 600, 1024, 112, 911, 212, 811},
        {1024, 768, 1024, 0, 1023, 128, 895},
        {64, 48, 64, 0, 63, 8, 55},
        {65, 48, 128, 32, 96, 40, 87},
        // Wider than the largest grab texture: the middle 4096 columns.
        {4200, 64, 4096, 0, 4095, 2016, 2079},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        Resize(c.w, c.h);
        // Blue screen with a red quarter in the top-left corner.
        ThisGame.CLS(0, 0, 255);
        ThisGame.SetCol(255, 0, 0);
        ThisGame.Rect_UL(0, 0, ThisGame.screenW / 4, ThisGame.screenH / 4);
        Frame();
        ThisGame.CopyBuffer();
        ASSERT_EQ(1, imageFrames[102]);
        ASSERT_EQ(c.edge, iSize[102]);
        EXPECT_FLOAT_EQ((float)c.edge / c.w, imageUnit[102]);
        ASSERT_EQ((size_t)c.edge * c.edge * 4, Image[102].size());
        ASSERT_EQ((size_t)c.edge * c.edge * 4, ImageBlur[102].size());
        int x0 = c.edge, x1 = -1, y0 = c.edge, y1 = -1;
        for (int y = 0; y < c.edge; y++)
            for (int x = 0; x < c.edge; x++)
                if (Image[102][((size_t)y * c.edge + x) * 4 + 3] == 255) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                    y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
        EXPECT_EQ(c.x0, x0);
        EXPECT_EQ(c.x1, x1);
        EXPECT_EQ(c.y0, y0);
        EXPECT_EQ(c.y1, y1);
        // Upright: every grabbed texel is the window pixel it stands for,
        // rows counted from the top.
        const int ox = c.edge / 2 - c.w / 2, oy = c.edge / 2 - c.h / 2;
        int reds = 0;
        for (int ty = c.y0; ty <= c.y1; ty += 3) {
            for (int tx = c.x0; tx <= c.x1; tx += 7) {
                const unsigned char* t = &Image[102][((size_t)ty * c.edge + tx) * 4];
                ASSERT_EQ(At(tx - ox, ty - oy), (std::vector<int>{t[0], t[1], t[2]})) << tx << "," << ty;
                if (t[0] == 255) reds++;
            }
        }
        EXPECT_GT(reds, 0);
        imageFrames[102] = -1;
        Image[102].clear();
    }
}

TEST_F(ImagesGL, DrawBufferShowsTheGrabOverTheWholeCanvas) {
    ThisGame.CLS(0, 0, 255);
    ThisGame.SetCol(255, 0, 0);
    ThisGame.Rect_UL(0, 0, 50);
    ThisGame.SetCol(255, 255, 0);
    ThisGame.Rect_UL(700, 500, 100);
    Frame();
    Pixels first = pixels;
    ThisGame.CopyBuffer();

    ThisGame.CLS(0, 0, 0);
    ThisGame.ResetDraw();
    ThisGame.DrawBuffer();
    Frame();
    // Drawn back at the default size the grab covers the canvas exactly.
    auto differing = [&](const Pixels& want) {
        int differ = 0;
        for (size_t i = 0; i < pixels.size(); i += 4)
            if (memcmp(&pixels[i], &want[i], 3) != 0) differ++;
        return differ;
    };
    EXPECT_EQ(0, differing(first));

    // A second grab of another picture is what the next DrawBuffer shows.
    ThisGame.CLS(0, 80, 0);
    ThisGame.ResetDraw();
    ThisGame.SetCol(255, 255, 255);
    ThisGame.Rect_UL(300, 200, 60);
    Frame();
    Pixels second = pixels;
    ThisGame.CopyBuffer();
    ThisGame.CLS(0, 0, 0);
    ThisGame.ResetDraw();
    ThisGame.DrawBuffer();
    Frame();
    EXPECT_EQ(0, differing(second));
    EXPECT_GT(differing(first), 1000);
}

TEST_F(ImagesGL, ScreenshotWritesTheWindowTopRowFirst) {
    Resize(640, 480);
    std::string path = root + "/shot.png";
    snprintf(ASys.ScreenshotName, sizeof ASys.ScreenshotName, "%s", path.c_str());
    // Red band along the top, blue below, half-transparent green in the
    // middle: the file must still be opaque everywhere.
    ThisGame.CLS(0, 0, 255);
    ThisGame.SetCol(255, 0, 0);
    ThisGame.Rect_UL(0, 0, ThisGame.screenW, 20);
    ThisGame.SetCol(0, 255, 0, 0.5f);
    ThisGame.Rect(400, 300, 100, 100);
    ASys.Button[66] = 1;   // F10 held: the renderer saves this frame
    testing::internal::CaptureStdout();
    Frame();
    std::string out = testing::internal::GetCapturedStdout();
    ASys.Button[66] = 0;
    EXPECT_NE(std::string::npos, out.find("Saving Image - 640x480  ~ " + path + "\n")) << out;

    Pixels png;
    unsigned w = 0, h = 0;
    ASSERT_EQ(0u, lodepng::decode(png, w, h, path));
    ASSERT_EQ(640u, w);
    ASSERT_EQ(480u, h);
    for (size_t i = 3; i < png.size(); i += 4) ASSERT_EQ(255, png[i]) << "alpha at texel " << i / 4;
    // The file's first row is the window's top row, as read back from GL.
    for (int y : {0, 5, 100, 240, 479}) {
        for (int x : {0, 320, 639}) {
            const unsigned char* p = &png[((size_t)y * w + x) * 4];
            std::vector<int> got = {p[0], p[1], p[2]};
            EXPECT_EQ(At(x, y), got) << x << "," << y;
        }
    }
    const unsigned char* top = &png[0];
    EXPECT_EQ(255, top[0]);
    const unsigned char* bottom = &png[((size_t)479 * w) * 4];
    EXPECT_EQ(255, bottom[2]);
    EXPECT_EQ(0, bottom[0]);
}

}  // namespace
