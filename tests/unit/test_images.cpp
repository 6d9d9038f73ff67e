// The image table: PNG loading and packing, asset paths, image and text
// commands, pixel buffers, PNG saving and the screenshot name.
#include <gtest/gtest.h>
#include <lodepng.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

namespace {

using Pixels = std::vector<unsigned char>;

// A source pixel that names its own position, so a packed texel shows
// exactly where it came from.
void PositionPixel(unsigned char* p, int x, int y) {
    p[0] = (unsigned char)x;
    p[1] = (unsigned char)y;
    p[2] = 77;
    p[3] = 255;
}

Pixels PositionImage(int w, int h) {
    Pixels px((size_t)w * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) PositionPixel(&px[((size_t)y * w + x) * 4], x, y);
    return px;
}

Pixels Solid(int w, int h, unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    Pixels px((size_t)w * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = r;
        px[i + 1] = g;
        px[i + 2] = b;
        px[i + 3] = a;
    }
    return px;
}

void SetPixel(Pixels& px, int w, int x, int y, std::vector<int> rgba) {
    for (int c = 0; c < 4; c++) px[((size_t)y * w + x) * 4 + c] = (unsigned char)rgba[c];
}

std::vector<int> Texel(int slot, int x, int y) {
    const unsigned char* p = &Image[slot][((size_t)y * iSize[slot] + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

std::vector<int> BlurTexel(int slot, int x, int y) {
    const unsigned char* p = &ImageBlur[slot][((size_t)y * iSize[slot] + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

std::vector<std::string> Lines(const std::string& out) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        // Drop the numbered prefix "% 8i> ".
        if (line.size() > 10 && line[8] == '>') line = line.substr(10);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

class Images : public testing::Test {
protected:
    std::string root;
    std::string dataDir;
    char savedRoot[4100];
    int savedNumber;

    void SetUp() override {
        char tmpl[] = "/tmp/kelp_images_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        root = tmpl;
        dataDir = root + "/Data/550";
        std::filesystem::create_directories(dataDir + "/menus");
        memcpy(savedRoot, ThisGame.dataRoot, sizeof savedRoot);
        savedNumber = ThisGame.gameNumber;
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", root.c_str());
        ThisGame.gameNumber = 550;

        ASys.ResetImageTable();
        ASys.drawCount = 0;
        ASys.virtualW = 800;
        ASys.imageScale = 1;
        ASys.ViewScale = 2.0f / 800;
        ASys.sizeX = 1 / ASys.ViewScale;
        ASys.sizeY = -1 / ASys.ViewScale;
        ASys.rot = 0;
        ASys.rw2 = 400;
        ASys.rh2 = 300;
        ASys.curFont = 0;
        ASys.alpha1 = ASys.red1 = ASys.green1 = ASys.blue1 = 255;
        ASys.alpha2 = ASys.red2 = ASys.green2 = ASys.blue2 = 255;
    }

    void TearDown() override {
        memcpy(ThisGame.dataRoot, savedRoot, sizeof savedRoot);
        ThisGame.gameNumber = savedNumber;
        ASys.drawCount = 0;
        ASys.ResetImageTable();
        if (!root.empty()) std::filesystem::remove_all(root);
    }

    std::string Write(const std::string& rel, const Pixels& px, int w, int h) {
        std::string path = dataDir + "/" + rel;
        EXPECT_EQ(0u, lodepng::encode(path, px, w, h)) << path;
        return path;
    }

    std::string WriteBytes(const std::string& rel, const std::vector<unsigned char>& bytes) {
        std::string path = dataDir + "/" + rel;
        std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), bytes.size());
        return path;
    }

    // Loads through the platform entry and returns what it printed.
    std::string Load(int slot, const std::string& path, unsigned size) {
        testing::internal::CaptureStdout();
        ASys.GetPNG(slot, path.c_str(), size);
        return testing::internal::GetCapturedStdout();
    }
};

// ---- Sprite sheets and single images ---------------------------------------

TEST_F(Images, SheetFramesArePackedIntoPaddedCells) {
    // 64x32 at 32: two frames, d = 80, edge 128, three cells per row.
    std::string path = Write("pair.png", PositionImage(64, 32), 64, 32);
    std::string out = Load(3, path, 32);
    EXPECT_NE(std::string::npos, out.find("    Loaded Spritesheet of 2 x 32x32 sprites\n")) << out;
    EXPECT_EQ(2, imageFrames[3]);
    EXPECT_EQ(128, iSize[3]);
    EXPECT_EQ(3, iFramesW[3]);
    EXPECT_FLOAT_EQ(0.3125f, iFramesWz[3]);
    EXPECT_EQ(32, imageFrameSize[3]);
    EXPECT_FLOAT_EQ(40.0f / 800, imageUnit[3]);
    ASSERT_EQ(128u * 128 * 4, Image[3].size());
    ASSERT_EQ(128u * 128 * 4, ImageBlur[3].size());

    // Frame 0 covers texels x 4-35, frame 1 x 44-75, both y 4-35; every
    // other texel is transparent.
    for (int y = 0; y < 128; y++) {
        for (int x = 0; x < 128; x++) {
            std::vector<int> t = Texel(3, x, y);
            bool inY = y >= 4 && y <= 35;
            if (inY && x >= 4 && x <= 35) {
                ASSERT_EQ((std::vector<int>{x - 4, y - 4, 77, 255}), t) << x << "," << y;
            } else if (inY && x >= 44 && x <= 75) {
                ASSERT_EQ((std::vector<int>{32 + x - 44, y - 4, 77, 255}), t) << x << "," << y;
            } else {
                ASSERT_EQ(0, t[3]) << x << "," << y;
            }
        }
    }
}

TEST_F(Images, SheetTextureEdgeFollowsTheCellRow) {
    struct Case { int w, h, size; int frames, edge, perRow; } cases[] = {
        {16, 8, 8, 2, 64, 4},            // d = 32: the smallest texture
        {100, 56, 56, 1, 64, 1},         // d = 64 exactly stays 64
        {100, 57, 57, 1, 128, 1},        // d = 65 rounds up to 128
        {320, 32, 32, 10, 512, 12},      // d = 400
        {1984, 1, 248, 0, 2048, 8},      // d = 2048 exactly; no whole row
        {2000, 100, 100, 20, 2160, 20},  // d = 2160 keeps its exact edge
        {64, 16, 32, 0, 128, 3},         // shorter than a frame: 0 frames
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " at " << c.size);
        std::string path = Write("sheet.png", Solid(c.w, c.h, 9, 9, 9, 255), c.w, c.h);
        Load(1, path, c.size);
        EXPECT_EQ(c.frames, imageFrames[1]);
        EXPECT_EQ(c.edge, iSize[1]);
        EXPECT_EQ(c.perRow, iFramesW[1]);
        EXPECT_FLOAT_EQ((float)(c.size + 8) / c.edge, iFramesWz[1]);
        EXPECT_EQ((size_t)c.edge * c.edge * 4, Image[1].size());
    }
    // All ten frames of the 320x32 sheet sit in the top cell row: frame 9
    // starts at x = 9 * 40 + 4.
    Write("ten.png", PositionImage(320, 32), 320, 32);
    Load(1, dataDir + "/ten.png", 32);
    EXPECT_EQ((std::vector<int>{(9 * 32) & 255, 0, 77, 255}), Texel(1, 364, 4));
    EXPECT_EQ(0, Texel(1, 4, 44)[3]);
}

TEST_F(Images, SheetKeyColoursBecomeFringe) {
    // Frame 0 is magenta except two opaque pixels; their transparent
    // neighbours take the integer mean of the opaque texels around them.
    Pixels px = Solid(64, 32, 255, 0, 255, 255);
    SetPixel(px, 64, 10, 10, {91, 61, 31, 255});
    SetPixel(px, 64, 11, 10, {30, 0, 90, 255});
    SetPixel(px, 64, 20, 20, {0, 255, 255, 255});   // cyan
    std::string path = Write("fringe.png", px, 64, 32);
    Load(2, path, 32);
    ASSERT_EQ(2, imageFrames[2]);
    // Pixel (10, 10) of frame 0 lands on texel (14, 14).
    EXPECT_EQ((std::vector<int>{91, 61, 31, 255}), Texel(2, 14, 14));
    EXPECT_EQ((std::vector<int>{30, 0, 90, 255}), Texel(2, 15, 14));
    EXPECT_EQ((std::vector<int>{91, 61, 31, 0}), Texel(2, 13, 14));   // sees one
    EXPECT_EQ((std::vector<int>{60, 30, 60, 0}), Texel(2, 14, 13));   // sees both
    EXPECT_EQ((std::vector<int>{30, 0, 90, 0}), Texel(2, 16, 15));    // sees one
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), Texel(2, 24, 24));      // was cyan
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), Texel(2, 30, 8));       // was magenta
}

TEST_F(Images, SingleImageZeroesKeyColours) {
    struct Case { std::vector<int> in; bool key; } cases[] = {
        {{255, 0, 255, 255}, true},    // magenta
        {{251, 4, 251, 200}, true},    // magenta at the tolerance
        {{0, 255, 255, 255}, true},    // cyan
        {{4, 251, 251, 9}, true},      // cyan at the tolerance
        {{250, 0, 255, 255}, false},
        {{255, 5, 255, 255}, false},
        {{5, 255, 255, 255}, false},
        {{0, 255, 250, 255}, false},
    };
    Pixels px = PositionImage(32, 32);
    for (int i = 0; i < 8; i++) SetPixel(px, 32, i, 3, cases[i].in);
    std::string path = Write("single.png", px, 32, 32);
    std::string out = Load(0, path, 32);
    EXPECT_NE(std::string::npos, out.find("    Loaded 32x32 Image\n")) << out;
    EXPECT_EQ(1, imageFrames[0]);
    EXPECT_EQ(32, iSize[0]);
    EXPECT_EQ(32, iFramesW[0]);
    EXPECT_FLOAT_EQ(1.0f, iFramesWz[0]);
    EXPECT_EQ(32, imageFrameSize[0]);
    EXPECT_FLOAT_EQ(32.0f / 800, imageUnit[0]);
    for (int i = 0; i < 8; i++) {
        std::vector<int> want = cases[i].key ? std::vector<int>{0, 0, 0, 0} : cases[i].in;
        EXPECT_EQ(want, Texel(0, i, 3)) << "case " << i;
    }
    EXPECT_EQ((std::vector<int>{31, 31, 77, 255}), Texel(0, 31, 31));
}

TEST_F(Images, SingleImageSmallerThanItsSizeKeepsItsPixelsInPlace) {
    std::string path = Write("small.png", PositionImage(20, 10), 20, 10);
    Load(4, path, 32);
    ASSERT_EQ(1, imageFrames[4]);
    ASSERT_EQ(32u * 32 * 4, Image[4].size());
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            std::vector<int> want = (x < 20 && y < 10) ? std::vector<int>{x, y, 77, 255} : std::vector<int>{0, 0, 0, 0};
            ASSERT_EQ(want, Texel(4, x, y)) << x << "," << y;
        }
    }
}

TEST_F(Images, SingleImageTallerThanItsSizeKeepsTheTopRows) {
    std::string path = Write("tall.png", PositionImage(16, 40), 16, 40);
    Load(4, path, 16);
    ASSERT_EQ(1, imageFrames[4]);
    EXPECT_EQ(16, iSize[4]);
    EXPECT_EQ((std::vector<int>{15, 15, 77, 255}), Texel(4, 15, 15));
}

TEST_F(Images, BlurPlaneHoldsASoftCopyInsideEachCell) {
    // One opaque pixel at the left edge of frame 1: its blur spreads two
    // texels with the 1-4-6-4-1 kernel, into the margin but never into the
    // neighbouring cell, and keeps the pixel's own colour.
    Pixels px = Solid(64, 32, 0, 0, 0, 0);
    SetPixel(px, 64, 32, 10, {200, 100, 50, 255});
    std::string path = Write("blur.png", px, 64, 32);
    Load(6, path, 32);
    ASSERT_EQ(2, imageFrames[6]);
    // The pixel sits at texel (44, 14). Weights out of 256: centre 36,
    // one step 24, two steps 6, diagonal two-by-two 1.
    struct Case { int dx, dy, alpha; } cases[] = {
        {0, 0, 36}, {1, 0, 24}, {-1, 0, 24}, {0, 1, 24}, {2, 0, 6}, {-2, 0, 6}, {0, -2, 6},
        {1, 1, 16}, {2, 2, 1}, {-2, -2, 1}, {3, 0, 0}, {0, 3, 0},
    };
    for (auto& c : cases) {
        std::vector<int> t = BlurTexel(6, 44 + c.dx, 14 + c.dy);
        EXPECT_EQ(c.alpha, t[3]) << c.dx << "," << c.dy;
        if (c.alpha > 0) { EXPECT_EQ((std::vector<int>{200, 100, 50}), std::vector<int>(t.begin(), t.begin() + 3)); }
    }
    // Nothing reaches frame 0's cell (x 0-39).
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 40; x++) ASSERT_EQ(0, BlurTexel(6, x, y)[3]) << x << "," << y;
    // The pixel plane itself is untouched by the blur.
    EXPECT_EQ((std::vector<int>{200, 100, 50, 255}), Texel(6, 44, 14));
}

TEST_F(Images, ReloadReplacesTheSlot) {
    Write("a.png", Solid(64, 32, 1, 2, 3, 255), 64, 32);
    Write("b.png", Solid(16, 16, 4, 5, 6, 255), 16, 16);
    Load(7, dataDir + "/a.png", 32);
    ASSERT_EQ(2, imageFrames[7]);
    Load(7, dataDir + "/b.png", 16);
    EXPECT_EQ(1, imageFrames[7]);
    EXPECT_EQ(16, iSize[7]);
    EXPECT_EQ(16u * 16 * 4, Image[7].size());
    EXPECT_EQ((std::vector<int>{4, 5, 6, 255}), Texel(7, 3, 3));
}

// The sheet's packing and both passes done the plain way: the fringe over
// every texel of the plane, the blur as a full 5 x 5 sum in each frame's cell.
void PlainSheet(Pixels src, int w, int h, int size, Pixels& plane, Pixels& blur) {
    const int cell = size + 8, columns = w / size, rows = h / size, d = columns * cell;
    int s = 64;
    if (d > 64)
        for (s = 128; s < d; s *= 2) {
        }
    const int perRow = s / cell;
    for (size_t i = 0; i < src.size(); i += 4) {
        const unsigned char* p = &src[i];
        if ((p[0] >= 251 && p[1] <= 4 && p[2] >= 251) || (p[0] <= 4 && p[1] >= 251 && p[2] >= 251)) src[i + 3] = 0;
    }
    plane.assign((size_t)s * s * 4, 0);
    blur.assign((size_t)s * s * 4, 0);
    auto at = [&](Pixels& v, int x, int y) { return &v[((size_t)y * s + x) * 4]; };
    for (int f = 0; f < columns * rows; f++) {
        int cx = (f % perRow) * cell + 4, cy = (f / perRow) * cell + 4;
        int sx = (f % columns) * size, sy = (f / columns) * size;
        for (int y = 0; y < size; y++)
            memcpy(at(plane, cx, cy + y), &src[((size_t)(sy + y) * w + sx) * 4], (size_t)size * 4);
    }
    for (int y = 1; y <= s - 2; y++)
        for (int x = 1; x <= s - 2; x++) {
            unsigned char* t = at(plane, x, y);
            if (t[3]) continue;
            int sum[3] = {0, 0, 0}, k = 0;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    const unsigned char* n = at(plane, x + dx, y + dy);
                    if (!n[3]) continue;
                    for (int c = 0; c < 3; c++) sum[c] += n[c];
                    k++;
                }
            for (int c = 0; c < 3; c++) t[c] = (unsigned char)(k ? sum[c] / k : 0);
        }
    const int K[5] = {1, 4, 6, 4, 1};
    for (int f = 0; f < columns * rows; f++) {
        int x0 = (f % perRow) * cell, y0 = (f / perRow) * cell;
        for (int y = y0; y < y0 + cell; y++)
            for (int x = x0; x < x0 + cell; x++) {
                long acc[4] = {0, 0, 0, 0};
                for (int dy = -2; dy <= 2; dy++)
                    for (int dx = -2; dx <= 2; dx++) {
                        int xx = x + dx, yy = y + dy;
                        if (xx < x0 || xx >= x0 + cell || yy < y0 || yy >= y0 + cell) continue;
                        const unsigned char* n = at(plane, xx, yy);
                        long wgt = K[dx + 2] * K[dy + 2] * n[3];
                        for (int c = 0; c < 3; c++) acc[c] += wgt * n[c];
                        acc[3] += wgt;
                    }
                unsigned char* o = at(blur, x, y);
                if (acc[3] > 0) {
                    for (int c = 0; c < 3; c++) o[c] = (unsigned char)std::min(255L, (acc[c] + acc[3] / 2) / acc[3]);
                    o[3] = (unsigned char)((acc[3] + 128) / 256);
                } else {
                    memcpy(o, at(plane, x, y), 3);
                    o[3] = 0;
                }
            }
    }
}

TEST_F(Images, SheetPlanesMatchThePlainPasses) {
    // Twelve 16-pixel frames: an empty one, one all magenta, one transparent
    // with colour left in it, and the rest speckled with opaque, half and
    // clear pixels in all sorts of colours, key colours among them.
    const int w = 64, h = 48;
    Pixels px((size_t)w * h * 4);
    uint32_t r = 2024;
    auto rnd = [&r](int n) {
        r = r * 1103515245u + 12345u;
        return (int)((r >> 16) % (uint32_t)n);
    };
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int f = (y / 16) * 4 + x / 16;
            std::vector<int> c = {rnd(256), rnd(256), rnd(256), (int[]){0, 0, 128, 255, 255}[rnd(5)]};
            if (rnd(6) == 0) c = {255, 0, 255, 255};
            if (rnd(9) == 0) c = {0, 255, 255, 200};
            if (f == 0) c = {0, 0, 0, 0};
            if (f == 1) c = {255, 0, 255, 255};
            if (f == 2) c = {10, 20, 30, 0};
            SetPixel(px, w, x, y, c);
        }
    Pixels plane, blur;
    PlainSheet(px, w, h, 16, plane, blur);
    Load(8, Write("speckled.png", px, w, h), 16);
    ASSERT_EQ(12, imageFrames[8]);
    ASSERT_EQ(plane.size(), Image[8].size());
    for (size_t i = 0; i < plane.size(); i += 4) {
        int x = (int)(i / 4) % iSize[8], y = (int)(i / 4) / iSize[8];
        ASSERT_EQ(std::vector<int>(plane.begin() + i, plane.begin() + i + 4), Texel(8, x, y)) << x << "," << y;
        ASSERT_EQ(std::vector<int>(blur.begin() + i, blur.begin() + i + 4), BlurTexel(8, x, y)) << x << "," << y;
    }
}

TEST_F(Images, QueuedLoadsFillTheSlotAndLogAsLoadImgDoes) {
    Pixels sheet = PositionImage(64, 32);
    SetPixel(sheet, 64, 3, 3, {255, 0, 255, 255});
    Write("sheet.png", sheet, 64, 32);
    Write("single.png", PositionImage(32, 32), 32, 32);
    Write("tall.png", PositionImage(8, 800), 8, 800);
    struct Case { const char* name; int size, slot; bool font; } cases[] = {
        {"sheet", 32, 20, false},  {"single.png", 32, 21, false}, {"missing", 32, 22, false},
        {"tall", 8, 23, false},    {"sheet", 0, 24, false},       {"sheet", 32, 100, false},
        {"sheet", 32, 25, true},   {"missing", 32, 26, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.slot));
        ASys.curFont = 0;
        testing::internal::CaptureStdout();
        if (c.font) ThisGame.LoadFont(c.slot, c.name);
        else ThisGame.LoadImg(c.slot, c.name, c.size);
        std::string direct = testing::internal::GetCapturedStdout();
        std::vector<std::vector<unsigned char>> planes;
        std::vector<double> table;
        auto remember = [&](int slot, std::vector<std::vector<unsigned char>>& p, std::vector<double>& t) {
            if (slot < 0 || slot >= IMAGE_SLOTS) return;
            p = {Image[slot], ImageBlur[slot]};
            t = {(double)imageFrames[slot], (double)iFramesW[slot], iFramesWz[slot], (double)iSize[slot],
                 (double)imageFrameSize[slot], imageUnit[slot], (double)ASys.curFont};
        };
        remember(c.slot, planes, table);
        if (c.slot < IMAGE_SLOTS) {
            imageFrames[c.slot] = -1;
            Image[c.slot].clear();
            ImageBlur[c.slot].clear();
        }
        ASys.curFont = 0;
        KELPSys::ForgetLogged("image slot");   // a slot out of range is explained once per slot

        testing::internal::CaptureStdout();
        if (c.font) ThisGame.QueueFont(1, c.slot, c.name);
        else ThisGame.QueueImg(1, c.slot, c.name, c.size);
        std::string queued = testing::internal::GetCapturedStdout();
        EXPECT_EQ("", queued) << "nothing shows before the load is collected";
        if (c.slot < IMAGE_SLOTS) { EXPECT_EQ(-1, imageFrames[c.slot]); }
        testing::internal::CaptureStdout();
        ThisGame.FinishLoads();
        queued = testing::internal::GetCapturedStdout();
        EXPECT_EQ(Lines(direct), Lines(queued));
        std::vector<std::vector<unsigned char>> qplanes;
        std::vector<double> qtable;
        remember(c.slot, qplanes, qtable);
        EXPECT_EQ(table, qtable);
        EXPECT_TRUE(planes == qplanes);
    }
    EXPECT_EQ(0, ThisGame.LoadsQueued());
}

// ---- Rejected loads -----------------------------------------------------------

// A valid 1x1 PNG whose header claims other dimensions (with a correct CRC,
// so only the size can be the reason for refusing it).
std::vector<unsigned char> ClaimedSize(unsigned w, unsigned h) {
    std::vector<unsigned char> png;
    lodepng::encode(png, Solid(1, 1, 1, 1, 1, 255), 1, 1);
    // Signature (8), then the IHDR chunk: length (4), type (4), width, height.
    for (int i = 0; i < 4; i++) {
        png[16 + i] = (unsigned char)(w >> (24 - 8 * i));
        png[20 + i] = (unsigned char)(h >> (24 - 8 * i));
    }
    lodepng_chunk_generate_crc(&png[8]);
    return png;
}

TEST_F(Images, BadFilesAreRejectedAndLeaveTheSlotEmpty) {
    std::vector<unsigned char> good;
    lodepng::encode(good, PositionImage(64, 32), 64, 32);
    std::vector<unsigned char> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<unsigned char> text = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;   // empty: no file at all
        unsigned size;
        const char* firstLine;
        bool pathLine;   // a second line names the file
    } cases[] = {
        {"missing", {}, 32, "OMGERRORZ", true},
        {"not a png", text, 32, "OMGERRORZ", true},
        {"truncated", truncated, 32, "OMGERRORZ", true},
        {"empty file", {0}, 32, "OMGERRORZ", true},
        {"zero frame size", good, 0, "    Frame size 0 is not usable", true},
        {"negative frame size", good, (unsigned)-5, "    Frame size -5 is not usable", true},
        {"huge frame size", good, 100000, "    Frame size 100000 is not usable", true},
        {"huge dimensions", ClaimedSize(100000, 100000), 32, "OMGERRORZ", true},
        {"huge width", ClaimedSize(70000, 1), 32, "OMGERRORZ", true},
        {"frames do not fit", {}, 32, "    Spritesheet of 12 x 32x32 sprites does not fit a 64 texture", true},
        {"strip too wide", {}, 8, "    Spritesheet of 600 x 8x8 sprites needs a 9600 texture; the limit is 4096", true},
    };
    // A 40x400 sheet at 32: one column of 12 frames, a 64 texture with room
    // for one cell row.
    std::vector<unsigned char> tall;
    lodepng::encode(tall, Solid(40, 400, 5, 5, 5, 255), 40, 400);
    cases[9].bytes = tall;
    // A 4800x8 strip at 8: 600 cells of 16 in one row, 9600 texels wide.
    std::vector<unsigned char> strip;
    lodepng::encode(strip, Solid(4800, 8, 5, 5, 5, 255), 4800, 8);
    cases[10].bytes = strip;

    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The slot held an image before; the failed load empties it and
        // leaves its planes as they were.
        Image[8].assign(64, 0xAB);
        imageFrames[8] = 1;
        iSize[8] = 4;
        std::string path = dataDir + "/bad.png";
        std::remove(path.c_str());
        if (!c.bytes.empty()) WriteBytes("bad.png", c.bytes);
        std::vector<std::string> lines = Lines(Load(8, path, c.size));
        EXPECT_EQ(-1, imageFrames[8]);
        EXPECT_EQ(std::vector<unsigned char>(64, 0xAB), Image[8]);
        ASSERT_GE(lines.size(), c.pathLine ? 2u : 1u);
        EXPECT_EQ(c.firstLine, lines[0]);
        if (c.pathLine) { EXPECT_NE(std::string::npos, lines.back().find(path)) << lines.back(); }
    }
}

// A legal but enormous image would take hundreds of megabytes and make every
// frame crawl: images are held to a memory budget and to what GL takes.
TEST_F(Images, ImagesOverTheMemoryBudgetOrTheGLLimitAreRefused) {
    auto png = [](int w, int h) {
        std::vector<unsigned char> bytes;
        lodepng::encode(bytes, Solid(w, h, 9, 9, 9, 255), w, h);
        return bytes;
    };
    const std::string path = dataDir + "/big.png";
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        unsigned size;
        int glEdge;   // GL's largest texture edge; 0: no window yet
        std::vector<std::string> lines;
    } cases[] = {
        {"8192 x 8192 pixels", ClaimedSize(8192, 8192), 512, 0,
         {"OMGERRORZ", "    Image of 8192x8192 is over the budget of 16777216 pixels", "    Not loaded: " + path}},
        // 325 frames of 8 in one row: d = 5200, kept as the texture edge.
        {"a sheet needing a 5200 texture", png(2600, 8), 8, 0,
         {"    Spritesheet of 325 x 8x8 sprites needs a 5200 texture; the limit is 4096", "    Not loaded: " + path}},
        {"a single image in a 5000 texture", png(8, 8), 5000, 0,
         {"    Image of 5000x5000 needs a 5000 texture; the limit is 4096", "    Not loaded: " + path}},
        {"a 512 sheet where GL takes 256", png(320, 32), 32, 256,
         {"    Spritesheet of 10 x 32x32 sprites needs a 512 texture; the limit is 256", "    Not loaded: " + path}},
        {"a 300 image where GL takes 256", png(8, 8), 300, 256,
         {"    Image of 300x300 needs a 300 texture; the limit is 256", "    Not loaded: " + path}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("big.png", c.bytes);
        MaxTextureEdge = c.glEdge;
        std::vector<std::string> lines = Lines(Load(8, path, c.size));
        MaxTextureEdge = 0;
        EXPECT_EQ(c.lines, lines);
        EXPECT_EQ(-1, imageFrames[8]);
    }
    // Within the limits the same kind of files load.
    WriteBytes("big.png", png(320, 32));
    MaxTextureEdge = 512;
    Load(8, path, 32);
    MaxTextureEdge = 0;
    EXPECT_EQ(10, imageFrames[8]);
    EXPECT_EQ(512, iSize[8]);
}

TEST_F(Images, DecodeFailureNamesLodepngsReason) {
    std::string path = dataDir + "/nothing_here.png";
    std::vector<std::string> lines = Lines(Load(9, path, 32));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("OMGERRORZ", lines[0]);
    // LodePNG's own words for a file it could not open (code 78).
    EXPECT_EQ("    " + path + " : " + lodepng_error_text(78), lines[1]);
}

TEST_F(Images, SlotsOutsideZeroToNinetyNineAreRefused) {
    Write("ok.png", Solid(8, 8, 1, 1, 1, 255), 8, 8);
    for (int slot : {-1, 100, 101, 102, 104, 105}) {
        SCOPED_TRACE(slot);
        int before = slot >= 0 && slot < IMAGE_SLOTS ? imageFrames[slot] : 0;
        // The old message as plain text on standard output; the slot and the
        // range on a numbered line of their own, the first time only.
        std::string first = Load(slot, dataDir + "/ok.png", 8);
        EXPECT_EQ((std::vector<std::string>{"Image number out of bounds",
                                            "    Image slot " + std::to_string(slot) + " is outside 0..99: nothing is loaded"}),
                  Lines(first));
        EXPECT_EQ('\n', first.back());
        EXPECT_EQ("Image number out of bounds", Load(slot, dataDir + "/ok.png", 8));
        if (slot >= 0 && slot < IMAGE_SLOTS) { EXPECT_EQ(before, imageFrames[slot]); }
    }
}

// ---- Asset paths -----------------------------------------------------------------

TEST_F(Images, NamesResolveBelowTheGamesDataFolder) {
    // Each name has a decoy file that a wrong rule would load instead; the
    // right file is recognised by its colour.
    struct Case { const char* name; const char* file; const char* decoy; } cases[] = {
        {"menus\\title", "menus/title.png", "menus\\title.png"},
        {"pic.PNG", "pic.PNG", "pic.PNG.png"},
        {"pic.Png", "pic.Png", "pic.Png.png"},
        {"pic.png", "pic.png", "pic.png.png"},
        {"pic.pNg", "pic.pNg.png", "pic.pNg"},
        {"pic.pnG", "pic.pnG.png", "pic.pnG"},
        {"ab", "ab.png", "ab"},
        {"png", "png.png", "png"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.file, Solid(8, 8, 10, 200, 30, 255), 8, 8);
        Write(c.decoy, Solid(8, 8, 250, 1, 1, 255), 8, 8);
        testing::internal::CaptureStdout();
        ThisGame.LoadImg(11, c.name, 8);
        std::vector<std::string> lines = Lines(testing::internal::GetCapturedStdout());
        ASSERT_EQ(1, imageFrames[11]);
        EXPECT_EQ((std::vector<int>{10, 200, 30, 255}), Texel(11, 2, 2));
        std::string slashed = c.name;
        for (char& ch : slashed) if (ch == '\\') ch = '/';
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("Load Image : " + slashed + " ", lines[0]);
        std::remove((dataDir + "/" + c.file).c_str());
        std::remove((dataDir + "/" + c.decoy).c_str());
    }
}

TEST_F(Images, LoadFontSelectsTheSlotEvenWhenTheFileIsMissing) {
    Write("entplain.png", Solid(96, 32, 255, 255, 255, 255), 96, 32);
    testing::internal::CaptureStdout();
    ThisGame.LoadFont(51, "entplain.png");
    std::vector<std::string> lines = Lines(testing::internal::GetCapturedStdout());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Load Font  : entplain.png ", lines[0]);
    EXPECT_EQ(3, imageFrames[51]);
    EXPECT_EQ(32, imageFrameSize[51]);
    EXPECT_EQ(51, ASys.curFont);

    testing::internal::CaptureStdout();
    ThisGame.LoadFont(52, "nofont");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, imageFrames[52]);
    EXPECT_EQ(52, ASys.curFont);
}

TEST_F(Images, LoadIntoSlotHundredLeavesItAsItWas) {
    Write("x.png", Solid(8, 8, 1, 1, 1, 255), 8, 8);
    ThisGame.CreateBuffer(100, 16);
    testing::internal::CaptureStdout();
    ThisGame.LoadImg(100, "x", 8);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("\nImage number out of bounds\n")) << out;
    EXPECT_EQ(1, imageFrames[100]);
    EXPECT_EQ(16, iSize[100]);
}

// ---- Image commands ---------------------------------------------------------------

TEST_F(Images, ImageCommandsCarryPositionSizeSlotAndFrame) {
    Write("s.png", Solid(64, 32, 1, 1, 1, 255), 64, 32);
    Load(5, dataDir + "/s.png", 32);
    ASys.imageScale = 1.5625f;
    ASys.red1 = 12;
    ASys.rot = 30;

    ThisGame.DrawImg(5, 100, 50, 1);
    ThisGame.DrawBlur(5, 10, 20);
    ThisGame.QuadImg(5, 1, 2, 3, 4, 5, 6, 7, 8, 1);
    ASSERT_EQ(3, ASys.drawCount);

    const DrawCommand& img = ASys.drawList[0];
    EXPECT_EQ(CMD_IMAGE, img.kind);
    EXPECT_DOUBLE_EQ(100 - 400, img.x);
    EXPECT_DOUBLE_EQ(50 - 300, img.y);
    EXPECT_FLOAT_EQ(400 * 1.5625f, (float)img.w);
    EXPECT_FLOAT_EQ(-400 * 1.5625f, (float)img.h);
    EXPECT_EQ(5, img.image);
    EXPECT_EQ(1, img.frame);
    EXPECT_EQ(12, img.red1);   // the drawing state came along
    EXPECT_EQ(30, img.rot);

    const DrawCommand& blur = ASys.drawList[1];
    EXPECT_EQ(CMD_BLUR, blur.kind);
    EXPECT_DOUBLE_EQ(10 - 400, blur.x);
    EXPECT_DOUBLE_EQ(20 - 300, blur.y);
    EXPECT_EQ(5, blur.image);
    EXPECT_EQ(0, blur.frame);

    const DrawCommand& quad = ASys.drawList[2];
    EXPECT_EQ(CMD_QUADIMAGE, quad.kind);
    const double want[8] = {1 - 400, 2 - 300, 3 - 400, 4 - 300, 5 - 400, 6 - 300, 7 - 400, 8 - 300};
    const double got[8] = {quad.x, quad.y, quad.X2(), quad.Y2(), quad.x3, quad.y3, quad.x4, quad.y4};
    for (int i = 0; i < 8; i++) EXPECT_DOUBLE_EQ(want[i], got[i]) << i;
    EXPECT_EQ(5, quad.image);
    EXPECT_EQ(1, quad.frame);
}

TEST_F(Images, EmptySlotsLogMissingImageOnceAndQueueNothing) {
    // Numbers outside the table are reported once in the program's life.
    for (int slot : {7, -1, 105, 1000}) {
        testing::internal::CaptureStdout();
        for (int frame = 0; frame < 50; frame++) {
            ThisGame.DrawImg(slot, 1, 1);
            ThisGame.DrawBlur(slot, 1, 1);
            ThisGame.QuadImg(slot, 0, 0, 1, 0, 1, 1, 0, 1, 0);
        }
        std::vector<std::string> lines = Lines(testing::internal::GetCapturedStdout());
        EXPECT_EQ((std::vector<std::string>{"Missing Image " + std::to_string(slot)}), lines);
        EXPECT_EQ(0, ASys.drawCount);
    }
}

TEST_F(Images, MissingImageIsReportedAgainOnlyAfterTheSlotChanges) {
    auto missingLines = [](const std::function<void()>& run) {
        testing::internal::CaptureStdout();
        run();
        int n = 0;
        for (const std::string& l : Lines(testing::internal::GetCapturedStdout())) n += l == "Missing Image 9";
        return n;
    };
    auto draws = [] {
        for (int frame = 0; frame < 30; frame++) ThisGame.DrawImg(9, 1, 1);
    };
    EXPECT_EQ(1, missingLines(draws));
    EXPECT_EQ(0, missingLines(draws));
    // A load that fails is a change: the still missing slot is reported once more.
    EXPECT_EQ(1, missingLines([&] {
        ThisGame.LoadImg(9, "nothing_here", 8);
        draws();
    }));
    // Loaded, it draws quietly; emptied again by a failed reload, it is
    // reported again, once.
    Write("dot.png", Solid(8, 8, 1, 2, 3, 255), 8, 8);
    EXPECT_EQ(0, missingLines([&] {
        ThisGame.LoadImg(9, "dot", 8);
        draws();
    }));
    EXPECT_EQ(1, missingLines([&] {
        ThisGame.LoadImg(9, "nothing_here", 8);
        draws();
        draws();
    }));
    // A font slot reports once for a whole text, not once a character.
    ASys.curFont = 9;
    EXPECT_EQ(0, missingLines([] { ThisGame.Text(10, 10, std::string("Hello")); }));
}

TEST_F(Images, DrawBufferNeedsAGrabAndIgnoresImageScale) {
    testing::internal::CaptureStdout();
    ThisGame.DrawBuffer();
    EXPECT_EQ((std::vector<std::string>{"Previous Buffer Missing"}), Lines(testing::internal::GetCapturedStdout()));
    EXPECT_EQ(0, ASys.drawCount);

    imageFrames[102] = 1;
    ASys.imageScale = 1.5625f;
    ThisGame.DrawBuffer();
    ASSERT_EQ(1, ASys.drawCount);
    const DrawCommand& cmd = ASys.drawList[0];
    EXPECT_EQ(CMD_IMAGE, cmd.kind);
    EXPECT_EQ(0, cmd.x);
    EXPECT_EQ(0, cmd.y);
    EXPECT_FLOAT_EQ(400, (float)cmd.w);
    EXPECT_FLOAT_EQ(-400, (float)cmd.h);
    EXPECT_EQ(102, cmd.image);
    EXPECT_EQ(0, cmd.frame);
}

TEST_F(Images, AFullCommandListTakesNoMoreImages) {
    imageFrames[5] = 1;
    imageFrames[102] = 1;
    ASys.curFont = 5;
    ASys.drawCount = DRAW_LIST_MAX;
    int dropped = ASys.droppedCommands;
    ThisGame.DrawImg(5, 0, 0);
    ThisGame.DrawBlur(5, 0, 0);
    ThisGame.QuadImg(5, 0, 0, 1, 0, 1, 1, 0, 1, 0);
    ThisGame.DrawBuffer();
    ThisGame.Text(0, 0, "ABC");
    EXPECT_EQ(DRAW_LIST_MAX, ASys.drawCount);
    EXPECT_EQ(dropped + 7, ASys.droppedCommands);
    ASys.droppedCommands = 0;
}

// ---- Text -------------------------------------------------------------------------

TEST(ImagesFont, GlyphWidthsByCharacterClass) {
    struct Class { const char* chars; int width; } classes[] = {
        {"!',.:;il`|", 5},
        {"()[]j", 10},
        {"{", 11},
        {"\"^}", 12},
        {" $&*+-/<=>?ABCDEFGHIJKLNOPQRSTUXYZ\\abcdefghknopqrstuvxyz", 15},
        {"0123456789V_", 16},
        {"#", 19},
        {"%MWw", 22},
        {"@m~", 25},
    };
    std::set<int> seen;
    for (auto& c : classes) {
        for (const char* p = c.chars; *p; p++) {
            EXPECT_EQ(c.width, fontw[*p - 32]) << "'" << *p << "'";
            seen.insert(*p);
        }
    }
    // The classes name every printable character once.
    EXPECT_EQ(95u, seen.size());
    for (int i = 95; i < 132; i++) EXPECT_EQ(0, fontw[i]) << i;
}

class ImagesText : public Images {
protected:
    void SetUp() override {
        Images::SetUp();
        imageFrames[51] = 96;
        ASys.curFont = 51;
    }
    // x, y (canvas) and frame of queued command i.
    std::vector<double> Glyph(int i) {
        const DrawCommand& c = ASys.drawList[i];
        return {c.x + ASys.rw2, c.y + ASys.rh2, c.frame};
    }
};

TEST_F(ImagesText, StringWidthSumsAdvancesTimesTheScale) {
    struct Case { const char* s; float size; float width; } cases[] = {
        {"AB", 1, 28},
        {"AB", 2, 56},
        {"Mi", 1, 21 + 4},
        {"", 1, 0},
        {"\x7f", 1, -1},
        {"A\tB", 1, 28},          // control characters add nothing
        {"A\xe9" "B", 1, 28},     // nor do bytes above 127
    };
    for (auto& c : cases) {
        ASys.sizeX = c.size / ASys.ViewScale;
        EXPECT_FLOAT_EQ(c.width, ThisGame.StringWidth(std::string(c.s))) << c.s << " at " << c.size;
    }
    ASys.sizeX = 1 / ASys.ViewScale;
    EXPECT_FLOAT_EQ(14, ThisGame.StringWidth(std::string("A\0B", 3)));   // stops at the NUL
    EXPECT_FLOAT_EQ(14, ThisGame.StringWidth('A'));
    EXPECT_FLOAT_EQ(24, ThisGame.CharWidth('m'));
    EXPECT_FLOAT_EQ(0, ThisGame.StringWidth('\n'));
    EXPECT_FLOAT_EQ(0, ThisGame.CharWidth('\xe9'));
    EXPECT_FLOAT_EQ(-1, ThisGame.CharWidth('\x7f'));
}

TEST_F(ImagesText, StringGlyphsFollowTheBaseline) {
    struct Case {
        const char* s; float align; float rot; float size;
        std::vector<std::vector<double>> glyphs;   // x, y, frame
    } cases[] = {
        {"AB", 1, 0, 1, {{100, 50, 33}, {114, 50, 34}}},
        {"AB", 0, 0, 1, {{114, 50, 33}, {128, 50, 34}}},
        {"AB", 2, 0, 1, {{86, 50, 33}, {100, 50, 34}}},
        {"AB", 1, 0, 2, {{100, 50, 33}, {128, 50, 34}}},
        // Rotated 90 degrees clockwise the baseline runs down the screen.
        {"AB", 0, 90, 1, {{100, 64, 33}, {100, 78, 34}}},
        {"AB", 1, 90, 1, {{100, 50, 33}, {100, 64, 34}}},
        // Code 127 steps back one unit; a byte above 127 is queued with a
        // negative frame and does not move the pen.
        {"A\x7f" "B", 0, 0, 1, {{114, 50, 33}, {128, 50, 95}, {127, 50, 34}}},
        {"A\xe9" "B", 0, 0, 1, {{114, 50, 33}, {128, 50, -23 - 32}, {128, 50, 34}}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s << " align " << c.align << " rot " << c.rot << " size " << c.size);
        ASys.drawCount = 0;
        ASys.rot = c.rot;
        ASys.sizeX = c.size / ASys.ViewScale;
        ThisGame.Text(100, 50, std::string(c.s), c.align);
        ASSERT_EQ((int)c.glyphs.size(), ASys.drawCount);
        for (size_t i = 0; i < c.glyphs.size(); i++) {
            std::vector<double> g = Glyph((int)i);
            EXPECT_NEAR(c.glyphs[i][0], g[0], 1e-3) << "glyph " << i;
            EXPECT_NEAR(c.glyphs[i][1], g[1], 1e-3) << "glyph " << i;
            EXPECT_EQ(c.glyphs[i][2], g[2]) << "glyph " << i;
            EXPECT_EQ(51, ASys.drawList[i].image);
        }
    }
}

TEST_F(ImagesText, CharacterFormCentresOnTheUnscaledWidth) {
    struct Case { char c; float align; float size; double x; double frame; } cases[] = {
        // Width 15 - 0.5 moves left by 14.5 at align 1; the start offset is
        // half the string form's: 7 units a scale step.
        {'A', 1, 1, 100 - 14.5 + 7, 33},
        {'A', 0, 1, 100 + 7, 33},
        {'A', 1, 2, 100 - 14.5 + 14, 33},
        {'m', 1, 1, 100 - 24.5 + 7, 77},
        {'\n', 1, 1, 100 + 7, 10 - 32},
    };
    for (auto& c : cases) {
        ASys.drawCount = 0;
        ASys.sizeX = c.size / ASys.ViewScale;
        ThisGame.Text(100, 50, c.c, c.align);
        ASSERT_EQ(1, ASys.drawCount);
        std::vector<double> g = Glyph(0);
        EXPECT_NEAR(c.x, g[0], 1e-3) << (int)c.c;
        EXPECT_NEAR(50, g[1], 1e-3) << (int)c.c;
        EXPECT_EQ(c.frame, g[2]) << (int)c.c;
    }
    // The default alignment of the character form is 1.
    ASys.drawCount = 0;
    ASys.sizeX = 1 / ASys.ViewScale;
    ThisGame.Text(100, 50, 'A');
    EXPECT_NEAR(100 - 14.5 + 7, Glyph(0)[0], 1e-3);
}

TEST_F(ImagesText, EmptyTextQueuesNothingAndAnEmptyFontLogsOnce) {
    ThisGame.Text(10, 10, std::string(""));
    EXPECT_EQ(0, ASys.drawCount);

    ASys.curFont = 0;   // nothing loaded there
    testing::internal::CaptureStdout();
    ThisGame.Text(10, 10, std::string("Hi!"));
    ThisGame.Text(10, 30, std::string("Again"));
    std::vector<std::string> lines = Lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ((std::vector<std::string>{"Missing Image 0"}), lines);
    EXPECT_EQ(0, ASys.drawCount);
}

// ---- Pixel buffers ---------------------------------------------------------------------

class ImagesBuffer : public Images {
protected:
    void SetUp() override {
        Images::SetUp();
        ThisGame.CreateBuffer(5, 64);
        ASys.red1 = 10;
        ASys.green1 = 20;
        ASys.blue1 = 30;
        ASys.alpha1 = 40;
    }
    // The texels of slot 5 that are not transparent black.
    std::set<std::pair<int, int>> Painted() {
        std::set<std::pair<int, int>> s;
        for (int y = 0; y < iSize[5]; y++)
            for (int x = 0; x < iSize[5]; x++)
                if (Texel(5, x, y) != std::vector<int>{0, 0, 0, 0}) s.insert({x, y});
        return s;
    }
};

TEST_F(ImagesBuffer, CreateMakesAClearedSingleImage) {
    EXPECT_EQ(1, imageFrames[5]);
    EXPECT_EQ(64, iFramesW[5]);
    EXPECT_FLOAT_EQ(1.0f, iFramesWz[5]);
    EXPECT_EQ(64, iSize[5]);
    EXPECT_EQ(64, imageFrameSize[5]);
    EXPECT_FLOAT_EQ(64.0f / 800, imageUnit[5]);
    EXPECT_EQ(std::vector<unsigned char>(64 * 64 * 4, 0), Image[5]);
    EXPECT_EQ(std::vector<unsigned char>(64 * 64 * 4, 0), ImageBlur[5]);

    // A buffer replaces an image, and is cleared when created again.
    ThisGame.BufferFill(5, 1, 2, 3, 4);
    ThisGame.CreateBuffer(5, 16);
    EXPECT_EQ(std::vector<unsigned char>(16 * 16 * 4, 0), Image[5]);

    // A refusal is logged once per slot: a game may repeat the call.
    auto said = [](int slot, int size) {
        testing::internal::CaptureStdout();
        ThisGame.CreateBuffer(slot, size);
        return Lines(testing::internal::GetCapturedStdout());
    };
    for (int bad : {-1, 101, 102, 104}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(std::vector<std::string>{"Buffer slot " + std::to_string(bad) + " is outside 0..100: no buffer is made"},
                  said(bad, 16));
        EXPECT_TRUE(said(bad, 16).empty());
        if (bad >= 0) { EXPECT_EQ(-1, imageFrames[bad]); }
    }
    ThisGame.CreateBuffer(100, 16);
    EXPECT_EQ(1, imageFrames[100]);
    // A size that cannot make a plane leaves the slot alone.
    EXPECT_EQ(std::vector<std::string>{"Buffer size 0 for slot 6 is outside 1..8192: no buffer is made"}, said(6, 0));
    for (int bad : {-4, 1 << 20}) {
        EXPECT_TRUE(said(6, bad).empty()) << bad;
        EXPECT_EQ(-1, imageFrames[6]) << bad;
    }
    EXPECT_EQ(std::vector<std::string>{"Buffer size -4 for slot 7 is outside 1..8192: no buffer is made"}, said(7, -4));
}

TEST_F(ImagesBuffer, FillClampsEachComponent) {
    ThisGame.BufferFill(5, -5, 300, 128, 255);
    for (int i : {0, 63})
        EXPECT_EQ((std::vector<int>{0, 255, 128, 255}), Texel(5, i, 63 - i));
    ThisGame.BufferCLS(5);
    EXPECT_TRUE(Painted().empty());
    std::vector<unsigned char> before = Image[7];
    ThisGame.BufferFill(7, 1, 1, 1, 1);   // never created: nothing happens
    EXPECT_EQ(before, Image[7]);
}

TEST_F(ImagesBuffer, PlotSetsOneTexelInTheDrawColour) {
    struct Case { float x, y; bool inside; int tx, ty; } cases[] = {
        {-0.5f, 3, false, 0, 0},
        {63.9f, 0, true, 63, 0},
        {64, 0, false, 0, 0},
        {0, 64, false, 0, 0},
        {2.5f, 7.99f, true, 2, 7},
        {NAN, 1, false, 0, 0},
        {1e30f, 1, false, 0, 0},
    };
    for (auto& c : cases) {
        ThisGame.BufferCLS(5);
        ThisGame.BufferPlot(5, c.x, c.y);
        std::set<std::pair<int, int>> want;
        if (c.inside) want.insert({c.tx, c.ty});
        EXPECT_EQ(want, Painted()) << c.x << "," << c.y;
        if (c.inside) { EXPECT_EQ((std::vector<int>{10, 20, 30, 40}), Texel(5, c.tx, c.ty)); }
    }
    // Colours are clamped, then truncated.
    ASys.red1 = 300;
    ASys.green1 = -3;
    ASys.blue1 = 12.7f;
    ASys.alpha1 = 254.99f;
    ThisGame.BufferPlot(5, 1, 1);
    EXPECT_EQ((std::vector<int>{255, 0, 12, 254}), Texel(5, 1, 1));
}

TEST_F(ImagesBuffer, LineIsTheUnionOfAColumnAndARowPass) {
    using P = std::set<std::pair<int, int>>;
    struct Case { float x1, y1, x2, y2; P texels; } cases[] = {
        {0, 0, 4, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}}},
        {0, 0, 0, 4, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {0, 0, 4, 4, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {4, 4, 0, 0, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        // Steep: the column pass gives one texel, the row pass the rest.
        {0, 0, 1, 4, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        // Vertical at a non-integral x: only the row pass draws.
        {2.5f, 0, 2.5f, 4, {{2, 0}, {2, 1}, {2, 2}, {2, 3}}},
        // Non-integral end: the pass visits 0, 1 and 2 (2 < 2.5).
        {0, 1, 2.5f, 1, {{0, 1}, {1, 1}, {2, 1}}},
        {1, 1, 1, 1, {}},
        {-3, 2, 1, 2, {{0, 2}}},
        {62, 10, 70, 10, {{62, 10}, {63, 10}}},
    };
    for (auto& c : cases) {
        ThisGame.BufferCLS(5);
        ThisGame.BufferLine(5, c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(c.texels, Painted()) << c.x1 << "," << c.y1 << " -> " << c.x2 << "," << c.y2;
    }
    EXPECT_EQ((std::vector<int>{10, 20, 30, 40}), Texel(5, 62, 10));
}

TEST_F(ImagesBuffer, LineWithFarEndpointsDrawsOnlyWhatIsInside) {
    // A line across a billion units fills one buffer row and returns at
    // once; infinite and NaN endpoints draw nothing.
    ThisGame.BufferLine(5, -1e9f, 10, 1e9f, 10);
    std::set<std::pair<int, int>> row;
    for (int x = 0; x < 64; x++) row.insert({x, 10});
    EXPECT_EQ(row, Painted());
    ThisGame.BufferCLS(5);
    ThisGame.BufferLine(5, 0, 0, INFINITY, 5);
    ThisGame.BufferLine(5, NAN, 0, 5, 5);
    EXPECT_TRUE(Painted().empty());
}

TEST_F(ImagesBuffer, TileStampsAFrameWithAnAlphaTest) {
    // Frame 1 of a 64x32 sheet: source texels x 44-75, y 4-35.
    Pixels px = PositionImage(64, 32);
    SetPixel(px, 64, 40, 5, {255, 0, 255, 255});    // key colour: skipped
    SetPixel(px, 64, 41, 5, {9, 8, 7, 128});        // half-transparent: copied as is
    Write("tiles.png", px, 64, 32);
    Load(3, dataDir + "/tiles.png", 32);
    ASSERT_EQ(2, imageFrames[3]);

    ThisGame.BufferFill(5, 1, 1, 1, 1);
    ThisGame.BufferTile(5, 3, 10, 20, 1);
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 64; x++) {
            int i = x - 10, j = y - 20;
            std::vector<int> want = {1, 1, 1, 1};
            if (i >= 0 && i < 32 && j >= 0 && j < 32) want = {32 + i, j, 77, 255};
            if (i == 8 && j == 5) want = {1, 1, 1, 1};
            if (i == 9 && j == 5) want = {9, 8, 7, 128};
            ASSERT_EQ(want, Texel(5, x, y)) << x << "," << y;
        }
    }

    // Cut at the buffer's edges; a frame number equal to the count, or a
    // source that holds nothing, does nothing.
    ThisGame.BufferCLS(5);
    ThisGame.BufferTile(5, 3, -10, 50, 0);
    EXPECT_EQ((std::vector<int>{10, 0, 77, 255}), Texel(5, 0, 50));
    EXPECT_EQ((std::vector<int>{31, 13, 77, 255}), Texel(5, 21, 63));
    EXPECT_EQ(22u * 14, Painted().size());
    ThisGame.BufferCLS(5);
    ThisGame.BufferTile(5, 3, 0, 0, 2);
    ThisGame.BufferTile(5, 3, 0, 0, -1);
    ThisGame.BufferTile(5, 9, 0, 0, 0);
    ThisGame.BufferTile(5, 3, 1e30f, -1e30f, 0);
    EXPECT_TRUE(Painted().empty());
}

TEST_F(ImagesBuffer, TileFromASingleImageSkipsItsBorder) {
    // The cell arithmetic treats a 16-texel image like a sheet cell: the
    // copy starts 4 in and stops at the image's edge.
    Write("one.png", PositionImage(16, 16), 16, 16);
    Load(3, dataDir + "/one.png", 16);
    ThisGame.BufferTile(5, 3, 0, 0, 0);
    std::set<std::pair<int, int>> want;
    for (int j = 0; j < 12; j++)
        for (int i = 0; i < 12; i++) want.insert({i, j});
    EXPECT_EQ(want, Painted());
    EXPECT_EQ((std::vector<int>{4, 4, 77, 255}), Texel(5, 0, 0));
    EXPECT_EQ((std::vector<int>{15, 15, 77, 255}), Texel(5, 11, 11));
}

TEST_F(ImagesBuffer, SlotHundredAfterAScreenshotIsNotWrittenPastItsPlane) {
    // The screenshot reuses slot 100's plane at window size; a buffer there
    // must not then be written beyond what the plane holds.
    ThisGame.CreateBuffer(100, 64);
    Image[100].resize(16);
    ThisGame.BufferFill(100, 1, 2, 3, 4);
    ThisGame.BufferPlot(100, 10, 10);
    ThisGame.BufferLine(100, 0, 0, 60, 60);
    ThisGame.BufferTile(100, 5, 0, 0, 0);
    EXPECT_EQ(16u, Image[100].size());
}

// ---- Saving and the screenshot name -------------------------------------------------

TEST_F(Images, SavePngWritesThePlaneAndLogs) {
    Image[100] = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 128, 10, 11, 12, 0};
    std::string path = root + "/shot.png";
    testing::internal::CaptureStdout();
    ASys.SavePNG(path.c_str(), 100, 2, 2);
    std::vector<std::string> lines = Lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ((std::vector<std::string>{"Saving Image - 2x2  ~ " + path}), lines);
    Pixels back;
    unsigned w = 0, h = 0;
    ASSERT_EQ(0u, lodepng::decode(back, w, h, path));
    EXPECT_EQ(2u, w);
    EXPECT_EQ(2u, h);
    EXPECT_EQ(Image[100], back);
}

TEST_F(Images, SavePngFailuresAreLoggedWithTheirCode) {
    Image[100].assign(2 * 2 * 4, 255);
    struct Case { std::string path; int slot; unsigned w, h; } cases[] = {
        {root + "/no/such/dir/shot.png", 100, 2, 2},   // cannot open the file
        {root + "/small.png", 100, 3, 3},              // plane smaller than 3x3
        {root + "/slot.png", 105, 2, 2},               // no such slot
    };
    for (auto& c : cases) {
        testing::internal::CaptureStdout();
        ASys.SavePNG(c.path.c_str(), c.slot, c.w, c.h);
        std::vector<std::string> lines = Lines(testing::internal::GetCapturedStdout());
        ASSERT_EQ(2u, lines.size()) << c.path;
        EXPECT_TRUE(std::regex_match(lines[1], std::regex(
            "The image save didn't work\\.  All the images are unsaved!! [1-9][0-9]*"))) << lines[1];
        EXPECT_NE(0, access(c.path.c_str(), F_OK)) << "written anyway: " << c.path;
    }
}

TEST_F(Images, ScreenshotNameHasRootGameAndTimeStamp) {
    snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "/some/root");
    PrepareScreenshotName(ThisGame);
    EXPECT_TRUE(std::regex_match(std::string(ASys.ScreenshotName),
        std::regex("/some/root/Screenshot_550_\\d\\d-\\d\\d-\\d{4}_\\d\\d-\\d\\d-\\d\\d\\.png")))
        << ASys.ScreenshotName;

    // The deepest data root that fits its field still gives the whole name.
    std::string deep(4099, 'd');
    memcpy(ThisGame.dataRoot, deep.c_str(), deep.size() + 1);
    ThisGame.gameNumber = -2147483647 - 1;
    PrepareScreenshotName(ThisGame);
    std::string name = ASys.ScreenshotName;
    EXPECT_EQ(0u, name.find(deep + "/Screenshot_-2147483648_"));
    EXPECT_EQ(deep.size() + strlen("/Screenshot_-2147483648_") + 19 + 4, name.size());
    EXPECT_EQ(".png", name.substr(name.size() - 4));
}

}  // namespace
