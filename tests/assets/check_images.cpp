// Checks the generated demo images: they are reproducible, sized for the
// loads that read them, and the frames the screens draw hold what the
// screens expect.
#include <gtest/gtest.h>
#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kFiles[] = {"entplain.png", "KELPLogo.png", "icons.png", "particles.png",
                              "options.png",  "menu.png",     "logo.png",  "gfx.png"};

struct Png {
  std::vector<unsigned char> px;
  unsigned w = 0, h = 0;
  unsigned err = 1;
  const unsigned char* At(unsigned x, unsigned y) const { return &px[(y * w + x) * 4]; }
};

Png Load(const fs::path& p) {
  Png png;
  png.err = lodepng::decode(png.px, png.w, png.h, p.string());
  return png;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path FreshDir(const char* tag) {
  std::string tmpl = (fs::temp_directory_path() / (std::string("kelp_art_") + tag + "_XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* made = mkdtemp(buf.data());
  return made ? fs::path(made) : fs::path();
}

bool Generate(const fs::path& dir) {
  std::string cmd = std::string("\"") + KELP_GEN_IMAGES + "\" \"" + dir.string() + "\"";
  return std::system(cmd.c_str()) == 0;
}

// The font's advance table, codes 32..127 (pen step = width - 1).
int FontWidth(int code) {
  static const struct {
    const char* chars;
    int width;
  } groups[] = {
      {"!',.:;il`|", 5}, {"()[]j", 10}, {"{", 11},       {"\"^}", 12}, {"0123456789V_", 16},
      {"#", 19},         {"%MWw", 22},  {"@m~", 25},
  };
  if (code == 127) return 0;
  for (const auto& g : groups)
    if (std::strchr(g.chars, code)) return g.width;
  return 15;
}

// Ink bounds of one frame: columns/rows holding texels with alpha >= 32.
struct Ink {
  int x0 = 1 << 30, x1 = -1, y0 = 1 << 30, y1 = -1;
  double rowSum = 0, weight = 0;
  bool Empty() const { return x1 < 0; }
};
Ink InkOf(const Png& p, unsigned fx, unsigned fy, unsigned size) {
  Ink ink;
  for (unsigned y = 0; y < size; y++)
    for (unsigned x = 0; x < size; x++) {
      unsigned a = p.At(fx + x, fy + y)[3];
      if (a < 32) continue;
      ink.x0 = std::min<int>(ink.x0, x), ink.x1 = std::max<int>(ink.x1, x);
      ink.y0 = std::min<int>(ink.y0, y), ink.y1 = std::max<int>(ink.y1, y);
      ink.rowSum += (y + 0.5) * a, ink.weight += a;
    }
  return ink;
}

// The build has already drawn the images into the demo's data folder; the
// content checks read those, and only the determinism check runs the
// generator itself.
class GeneratedImages : public ::testing::Test {
 protected:
  static Png Open(const char* name) {
    Png p = Load(fs::path(KELP_DATA_DIR) / name);
    EXPECT_EQ(p.err, 0u) << name << ": " << lodepng_error_text(p.err);
    return p;
  }
};

TEST(ImageGenerator, TwoRunsWriteTheSameBytes) {
  fs::path first = FreshDir("a"), second = FreshDir("b");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  ASSERT_TRUE(Generate(first));
  ASSERT_TRUE(Generate(second));
  for (const char* name : kFiles) {
    std::string a = Slurp(first / name), b = Slurp(second / name);
    EXPECT_FALSE(a.empty()) << name;
    EXPECT_TRUE(a == b) << name << " differs between runs";
  }
  std::error_code ec;
  fs::remove_all(first, ec);
  fs::remove_all(second, ec);
}

// Sizes follow from the frame size of each load and from the packer: every
// sheet is laid out so its cells fit the smallest texture edge possible.
TEST_F(GeneratedImages, SizesMatchTheirLoads) {
  const struct {
    const char* name;
    unsigned w, h;
  } want[] = {
      {"entplain.png", 256, 384}, {"KELPLogo.png", 800, 800}, {"icons.png", 192, 192},
      {"particles.png", 384, 384}, {"options.png", 160, 64},  {"menu.png", 1008, 1008},
      {"logo.png", 1024, 1024},    {"gfx.png", 96, 96},
  };
  for (const auto& w : want) {
    Png p = Open(w.name);
    EXPECT_EQ(p.w, w.w) << w.name;
    EXPECT_EQ(p.h, w.h) << w.name;
  }
}

// Text is laid out with each 32-pixel frame centred on the pen and a line
// starting one space advance (14) right of its x: a glyph's ink must start
// at column 2 and end before its own advance does, or letters collide.
TEST_F(GeneratedImages, GlyphsFitTheirAdvances) {
  Png p = Open("entplain.png");
  ASSERT_EQ(p.w, 256u);
  for (int code = 32; code <= 127; code++) {
    int n = code - 32;
    Ink ink = InkOf(p, (n % 8) * 32, (n / 8) * 32, 32);
    if (code == ' ' || code == 127) {
      EXPECT_TRUE(ink.Empty()) << "code " << code;
      continue;
    }
    ASSERT_FALSE(ink.Empty()) << "glyph '" << static_cast<char>(code) << "' is blank";
    int advance = FontWidth(code) - 1;
    EXPECT_GE(ink.x0, 2) << "'" << static_cast<char>(code) << "'";
    EXPECT_LT(ink.x1, 2 + advance) << "'" << static_cast<char>(code) << "'";
  }
  // Wide letters use their room and narrow ones stay narrow.
  const struct {
    char c;
    int minInk, maxInk;
  } widths[] = {{'M', 17, 21}, {'W', 17, 21}, {'m', 19, 24}, {'i', 2, 4}, {'l', 2, 4}, {'A', 11, 14}};
  for (const auto& w : widths) {
    int n = w.c - 32;
    Ink ink = InkOf(p, (n % 8) * 32, (n / 8) * 32, 32);
    int span = ink.x1 - ink.x0 + 1;
    EXPECT_GE(span, w.minInk) << w.c;
    EXPECT_LE(span, w.maxInk) << w.c;
  }
  // Capitals sit on the pen's row: their ink is centred in the frame.
  for (char c : {'H', 'E', 'T'}) {
    int n = c - 32;
    Ink ink = InkOf(p, (n % 8) * 32, (n / 8) * 32, 32);
    EXPECT_NEAR((ink.y0 + ink.y1 + 1) * 0.5, 16.0, 1.0) << c;
  }
  // Glyphs are white so that text colour comes from the draw colour.
  for (size_t i = 0; i < p.px.size(); i += 4)
    if (p.px[i + 3] > 0) {
      ASSERT_EQ(p.px[i], 255);
      ASSERT_EQ(p.px[i + 1], 255);
      ASSERT_EQ(p.px[i + 2], 255);
    }
}

// Every frame a screen draws must have something in it, and no opaque
// texel may carry a key colour, which the loader would punch out.
TEST_F(GeneratedImages, DrawnFramesHaveArtAndNoKeyColours) {
  const struct {
    const char* name;
    unsigned size;
    std::vector<int> frames;
    unsigned minAlpha;  // what counts as drawn: overlay and backdrop are faint by design
  } sheets[] = {
      {"icons.png", 64, {0, 1, 3, 4, 5}, 128},
      {"icons.png", 64, {8}, 16},
      {"options.png", 32, {0, 1, 2, 3, 6, 7, 8, 9}, 128},
      {"menu.png", 504, {0, 2}, 16},
      {"gfx.png", 32, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 128},
      {"KELPLogo.png", 32, {0 * 25 + 12, 12 * 25 + 12, 20 * 25 + 5}, 128},
  };
  for (const auto& s : sheets) {
    Png p = Open(s.name);
    ASSERT_EQ(p.err, 0u);
    unsigned cols = p.w / s.size;
    for (int f : s.frames) {
      unsigned fx = (f % cols) * s.size, fy = (f / cols) * s.size;
      int solid = 0;
      for (unsigned y = 0; y < s.size; y++)
        for (unsigned x = 0; x < s.size; x++) solid += p.At(fx + x, fy + y)[3] >= s.minAlpha;
      EXPECT_GE(solid, static_cast<int>(s.size * s.size / 20)) << s.name << " frame " << f;
    }
  }
  Png parts = Open("particles.png");
  for (int f = 0; f < 144; f++) {
    Ink ink = InkOf(parts, (f % 12) * 32, (f / 12) * 32, 32);
    EXPECT_GE(ink.x1 - ink.x0, 4) << "particle frame " << f;
  }
  for (const char* name : kFiles) {
    Png p = Open(name);
    for (size_t i = 0; i < p.px.size(); i += 4) {
      const unsigned char* t = &p.px[i];
      if (t[3] == 0) continue;
      bool magenta = t[0] >= 251 && t[1] <= 4 && t[2] >= 251;
      bool cyan = t[0] <= 4 && t[1] >= 251 && t[2] >= 251;
      ASSERT_FALSE(magenta || cyan) << name << " texel " << i / 4;
    }
  }
}

// The menu background is drawn enlarged to cover the whole canvas, so it
// must be opaque; the title art stays inside its 1024x512 band.
TEST_F(GeneratedImages, BackgroundOpaqueAndTitleInsideItsBand) {
  Png menu = Open("menu.png");
  ASSERT_EQ(menu.w, 1008u);
  for (unsigned y = 0; y < 504; y++)
    for (unsigned x = 0; x < 504; x++) ASSERT_EQ(menu.At(x, y)[3], 255) << x << "," << y;
  Png logo = Open("logo.png");
  ASSERT_EQ(logo.w, 1024u);
  Ink ink = InkOf(logo, 0, 0, 1024);
  ASSERT_FALSE(ink.Empty());
  EXPECT_GE(ink.y0, 256);
  EXPECT_LT(ink.y1, 768);
  // It should fill its band, not float small inside it.
  EXPECT_GE(ink.x1 - ink.x0, 900);
  EXPECT_GE(ink.y1 - ink.y0, 400);
}

// The backdrop tile repeats every 64 pixels: the step across a tile seam
// must be no harsher than the steps inside the tile.
TEST_F(GeneratedImages, BackdropTileIsSeamless) {
  Png p = Open("icons.png");
  ASSERT_EQ(p.w, 192u);
  const unsigned ox = 128, oy = 128;  // frame 8
  auto colStep = [&](unsigned a, unsigned b) {
    double sum = 0;
    for (unsigned y = 0; y < 64; y++)
      for (int k = 0; k < 4; k++) sum += std::abs(p.At(ox + a, oy + y)[k] - p.At(ox + b, oy + y)[k]);
    return sum / 64;
  };
  auto rowStep = [&](unsigned a, unsigned b) {
    double sum = 0;
    for (unsigned x = 0; x < 64; x++)
      for (int k = 0; k < 4; k++) sum += std::abs(p.At(ox + x, oy + a)[k] - p.At(ox + x, oy + b)[k]);
    return sum / 64;
  };
  double innerCol = 0, innerRow = 0;
  for (unsigned i = 0; i + 1 < 64; i++) {
    innerCol = std::max(innerCol, colStep(i, i + 1));
    innerRow = std::max(innerRow, rowStep(i, i + 1));
  }
  EXPECT_LE(colStep(63, 0), innerCol);
  EXPECT_LE(rowStep(63, 0), innerRow);
}

}  // namespace
