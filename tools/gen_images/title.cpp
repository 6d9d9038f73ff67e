// Title art "Test Game": 1024x512 of art centred in a 1024x1024 image (it
// is loaded as one image).  The menu shows it at about three quarters
// size, and half that on the level page, with nearest-texel sampling, so
// every outline is many pixels thick.
#include "sheets.h"

namespace art {

namespace {

constexpr int kW = 1024;
constexpr int kTop = 256;  // art rows 256..767

struct Line {
  const char* text;
  float em, baseline, tracking;
};

Mask Lettering(Face& face, const Line* lines, int n, float grow) {
  Mask m(kW, kW);
  for (int i = 0; i < n; i++) {
    float w = face.LineWidth(lines[i].text, lines[i].em, 1.f, lines[i].tracking);
    face.Line(m, lines[i].text, lines[i].em, (kW - w) * 0.5f, lines[i].baseline, 1.f,
              lines[i].tracking, grow);
  }
  return m;
}

// A sunburst badge behind the words: the game's emblem.
void Burst(Canvas& c, V2 at, float r) {
  Shade(c, Around(at.x, at.y, r + 8.f, r + 8.f), [&](float x, float y) {
    V2 p = V2{x, y} - at;
    float d = Len(p);
    float a = std::atan2(p.y, p.x);
    float ray = 0.5f + 0.5f * std::cos(a * 16.f);
    float edge = r * (0.86f + 0.14f * ray);
    float cov = Cover(d - edge, 1.5f);
    Col inner = Mix(Rgb(255, 120, 60), Rgb(200, 30, 90), Clamp01(d / r));
    Col col = ray > 0.5f ? inner : Scale(inner, 0.86f);
    return WithA(col, cov);
  });
  FillCol(c, Around(at.x, at.y, r, r), [&](float x, float y) { return SdRing({x, y}, at, r * 0.7f, 4.f); },
          Rgb(255, 220, 120, 0.8f));
}

}  // namespace

Canvas TitleLogo(Face& face) {
  Canvas c(kW, kW);
  const float cap = face.CapRatio();
  const float em1 = 212.f, em2 = 272.f, gap = 44.f;
  const float base1 = kTop + 44.f + em1 * cap;
  const float base2 = base1 + gap + em2 * cap;
  const Line lines[2] = {{"TEST", em1, base1, 10.f}, {"GAME", em2, base2, 8.f}};

  Mask fill = Lettering(face, lines, 2, 0.f);
  Mask inner = Lettering(face, lines, 2, 7.f);
  Mask rim = Lettering(face, lines, 2, 15.f);
  Mask outer = Lettering(face, lines, 2, 24.f);

  // Emblems: a star in a sunburst at each side of the shorter top line.
  float half1 = face.LineWidth(lines[0].text, em1, 1.f, lines[0].tracking) * 0.5f;
  for (int side = -1; side <= 1; side += 2) {
    V2 at{kW * 0.5f + side * (half1 + 96.f), base1 - em1 * cap * 0.5f};
    FillCol(c, Around(at.x + 8.f, at.y + 14.f, 80.f, 80.f),
            [&](float x, float y) { return SdCircle({x, y}, at + V2{8.f, 14.f}, 66.f); },
            Col{0, 0, 0.05f, 0.35f}, 14.f);
    Burst(c, at, 72.f);
    std::vector<V2> star = RegularStar(at, 5, 44.f, 19.f, side * 8.f);
    FillCol(c, Around(at.x, at.y, 56.f, 56.f),
            [&](float x, float y) { return SdPoly(star, {x, y}) - 7.f; }, Rgb(110, 36, 6));
    Fill(c, Around(at.x, at.y, 50.f, 50.f), [&](float x, float y) { return SdPoly(star, {x, y}); },
         [&](float, float y) { return Mix(Rgb(255, 252, 200), Rgb(255, 190, 40), Clamp01((y - at.y + 40.f) / 80.f)); });
  }

  // Soft shadow, then a deep extrusion, then the stacked outlines.
  FillMask(c, Shifted(Blur(outer, 10), 12, 22), 0, 0, [](float, float) { return Col{0, 0, 0.05f, 1}; }, 0.6f);
  for (int d = 14; d >= 1; d -= 1) {
    Mask s = Shifted(outer, 0, d);
    FillMask(c, s, 0, 0, [d](float, float) { return Mix(Rgb(6, 10, 34), Rgb(20, 34, 90), d / 14.f); });
  }
  FillMask(c, outer, 0, 0, [](float, float) { return Rgb(14, 22, 62); });
  FillMask(c, rim, 0, 0, [](float, float y) {
    return Mix(Rgb(255, 255, 255), Rgb(150, 220, 255), Clamp01((y - kTop) / 480.f));
  });
  FillMask(c, inner, 0, 0, [](float, float) { return Rgb(110, 36, 6); });

  // Letter faces: warm gold per line, light at the top and deep at the foot.
  auto gold = [&](float, float y) {
    float b = y < base1 + 20.f ? base1 : base2;
    float h = (b < base2 ? em1 : em2) * cap;
    float t = Clamp01((y - (b - h)) / h);
    Col top = Rgb(255, 250, 170), mid = Rgb(255, 196, 40), foot = Rgb(245, 104, 12);
    return t < 0.5f ? Mix(top, mid, t * 2.f) : Mix(mid, foot, (t - 0.5f) * 2.f);
  };
  FillMask(c, fill, 0, 0, gold);
  // Gloss over the upper part of each line, bounded by a gentle curve.
  FillMask(c, fill, 0, 0, [&](float x, float y) {
    float b = y < base1 + 20.f ? base1 : base2;
    float h = (b < base2 ? em1 : em2) * cap;
    float curve = b - h * 0.52f + 18.f * std::sin((x / kW) * kPi * 2.f);
    float k = 1.f - Smooth(curve - 3.f, curve + 3.f, y);
    return Col{1, 1, 1, 0.32f * k};
  });
  // A few sparkles on the letters.
  const V2 glints[3] = {{250.f, base1 - em1 * cap + 30.f}, {700.f, base2 - em2 * cap + 26.f},
                        {150.f, base2 - em2 * cap + 40.f}};
  for (V2 g : glints) {
    std::vector<V2> s4 = RegularStar(g, 4, 26.f, 5.f, 0.f);
    Glow(c, Around(g.x, g.y, 34.f, 34.f), [&](float x, float y) { return SdPoly(s4, {x, y}); },
         Col{1, 1, 1, 0.9f}, 6.f);
  }
  return c;
}

}  // namespace art
