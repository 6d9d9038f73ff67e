// Front-end icons, 64x64 frames in a 3x3 sheet (the packer's smallest
// texture for nine 64-pixel frames is 256).
//   0 pause/resume   1 exit          2 trophy (spare)
//   3 gear ring      4 inner gear    5 credits
//   6 play (spare)   7 replay (spare) 8 backdrop tile
#include "sheets.h"

namespace art {

namespace {

constexpr int kF = 64;
const V2 kC{32.f, 32.f};

// A round button face: soft drop shadow, vertical gradient body, a glassy
// highlight over the top half and a light rim.
void ButtonFace(Canvas& c, Col top, Col bottom) {
  const float r = 28.f;
  Glow(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {33.f, 34.5f}, 26.f); },
       Col{0, 0, 0, 0.45f}, 4.f);
  Fill(c, c.All(), [&](float x, float y) { return SdCircle({x, y}, kC, r); },
       [&](float, float y) { return Mix(top, bottom, Clamp01((y - 4.f) / 56.f)); });
  // Highlight: an ellipse clipped to the body, fading downwards.
  Fill(c, c.All(),
       [&](float x, float y) {
         float e = Len(V2{(x - 32.f) / 22.f, (y - 20.f) / 13.f}) - 1.f;
         return Inter(e * 13.f, SdCircle({x, y}, kC, r - 2.f));
       },
       [](float, float y) { return Col{1, 1, 1, 0.32f * Clamp01((34.f - y) / 26.f)}; });
  FillCol(c, c.All(), [&](float x, float y) { return SdRing({x, y}, kC, r - 1.2f, 1.4f); },
          Col{1, 1, 1, 0.9f});
}

// White symbol with a soft shadow so it stands off the button.
template <class S>
void Symbol(Canvas& c, S sdf, Col col = Col{1, 1, 1, 1}) {
  FillCol(c, c.All(), [&](float x, float y) { return sdf(x - 1.2f, y - 1.6f); },
          Col{0, 0, 0, 0.4f}, 2.2f);
  FillCol(c, c.All(), sdf, col);
}

Canvas PauseResume() {
  Canvas c(kF, kF);
  ButtonFace(c, Rgb(70, 210, 190), Rgb(10, 95, 120));
  std::vector<V2> tri = {{17.f, 21.f}, {33.f, 32.f}, {17.f, 43.f}};
  Symbol(c, [&](float x, float y) {
    float t = SdPoly(tri, {x, y}) - 1.f;
    float b1 = SdBox({x, y}, {39.5f, 32.f}, {2.8f, 10.5f}, 1.f);
    float b2 = SdBox({x, y}, {47.5f, 32.f}, {2.8f, 10.5f}, 1.f);
    return Union(t, Union(b1, b2));
  });
  return c;
}

Canvas ExitIcon() {
  Canvas c(kF, kF);
  ButtonFace(c, Rgb(240, 95, 80), Rgb(140, 20, 35));
  // The power symbol: an open ring and a bar through its gap.
  Symbol(c, [&](float x, float y) {
    V2 p{x, y};
    float ring = SdRing(p, {32.f, 33.5f}, 13.f, 3.2f);
    float gap = SdPoly({{32.f, 33.5f}, {20.f, 8.f}, {44.f, 8.f}}, p);
    float bar = SdSeg(p, {32.f, 15.f}, {32.f, 31.f}, 3.2f);
    return Union(Cut(ring, gap - 2.5f), bar);
  });
  return c;
}

Canvas CreditsIcon() {
  Canvas c(kF, kF);
  ButtonFace(c, Rgb(120, 140, 255), Rgb(40, 35, 150));
  std::vector<V2> star = RegularStar({32.f, 33.f}, 5, 17.f, 7.5f, 0.f);
  Symbol(c, [&](float x, float y) { return SdPoly(star, {x, y}) - 1.f; });
  return c;
}

Canvas TrophyIcon() {
  Canvas c(kF, kF);
  ButtonFace(c, Rgb(255, 200, 80), Rgb(170, 90, 10));
  Symbol(c, [&](float x, float y) {
    V2 p{x, y};
    std::vector<V2> cup = {{19.f, 15.f}, {45.f, 15.f}, {43.f, 28.f}, {36.f, 35.f},
                           {28.f, 35.f}, {21.f, 28.f}};
    float body = SdPoly(cup, p) - 1.f;
    float handles = Union(SdRing(p, {19.f, 22.f}, 5.f, 1.6f), SdRing(p, {45.f, 22.f}, 5.f, 1.6f));
    float stem = SdBox(p, {32.f, 39.f}, {2.5f, 5.f});
    float base = SdBox(p, {32.f, 46.f}, {9.f, 2.8f}, 1.f);
    return Union(Union(body, handles), Union(stem, base));
  });
  return c;
}

Canvas PlayIcon() {
  Canvas c(kF, kF);
  ButtonFace(c, Rgb(130, 235, 110), Rgb(20, 120, 40));
  std::vector<V2> tri = {{25.f, 19.f}, {45.f, 32.f}, {25.f, 45.f}};
  Symbol(c, [&](float x, float y) { return SdPoly(tri, {x, y}) - 1.5f; });
  return c;
}

Canvas ReplayIcon() {
  Canvas c(kF, kF);
  ButtonFace(c, Rgb(255, 170, 70), Rgb(175, 70, 10));
  Symbol(c, [&](float x, float y) {
    V2 p{x, y};
    float ring = SdRing(p, kC, 12.f, 3.f);
    // Open the ring at the upper right; the arrow head sits on the end at
    // 35 degrees and points clockwise along the ring.
    float gap = SdPoly({kC, kC + Dir(38.f) * 30.f, kC + Dir(95.f) * 30.f}, p);
    V2 end = kC + Dir(35.f) * 12.f, tangent = Dir(125.f), radial = Dir(35.f);
    std::vector<V2> head = {end + tangent * 8.f, end + radial * 7.5f - tangent * 1.f,
                            end - radial * 7.5f - tangent * 1.f};
    return Union(Cut(ring, gap), SdPoly(head, p) - 0.5f);
  });
  return c;
}

// Shaded metal: a light diagonal gradient plus a darker rim.
template <class S>
void Metal(Canvas& c, S sdf, Col light, Col dark) {
  Glow(c, c.All(), [&](float x, float y) { return sdf(x - 1.f, y - 2.f); }, Col{0, 0, 0, 0.5f},
       3.f);
  Fill(c, c.All(), sdf, [&](float x, float y) {
    return Mix(light, dark, Smooth(16.f, 112.f, x + y));
  });
  // Dark rim just inside the edge gives the plate some thickness.
  FillCol(c, c.All(), [&](float x, float y) {
    float d = sdf(x, y);
    return Inter(d, -d - 1.6f);
  }, WithA(Scale(dark, 0.55f), 0.8f));
}

Canvas GearRing() {
  Canvas c(kF, kF);
  std::vector<V2> gear = GearPoly(kC, 12, 24.5f, 30.5f, 0.f);
  auto sdf = [&](float x, float y) {
    V2 p{x, y};
    return Cut(SdPoly(gear, p), SdCircle(p, kC, 17.f));
  };
  Metal(c, sdf, Rgb(255, 255, 255), Rgb(150, 170, 195));
  // A groove around the middle of the ring.
  FillCol(c, c.All(), [&](float x, float y) { return SdRing({x, y}, kC, 20.5f, 0.6f); },
          Col{0.25f, 0.3f, 0.4f, 0.5f});
  return c;
}

Canvas GearCore() {
  Canvas c(kF, kF);
  std::vector<V2> gear = GearPoly(kC, 8, 11.f, 15.f, 22.5f);
  auto sdf = [&](float x, float y) {
    V2 p{x, y};
    return Cut(SdPoly(gear, p), SdCircle(p, kC, 4.5f));
  };
  Metal(c, sdf, Rgb(255, 235, 150), Rgb(190, 120, 30));
  return c;
}

// Seamless 64-pixel backdrop tile, shown at 30% over a shifting colour:
// a bevelled panel with a faint diamond, so the grid reads as tiles.
Canvas BackdropTile() {
  Canvas c(kF, kF);
  Shade(c, c.All(), [](float x, float y) {
    // Distance to the panel edge (panels are inset 2 px: 4 px grooves).
    float d = SdBox({x, y}, kC, {30.f, 30.f}, 6.f);
    if (d > 0.f) return Col{0, 0, 0, 0.4f * Clamp01(d + 0.5f)};
    float depth = -d;
    // Bevel: lit from the top-left over the outer 5 px.
    float bevel = 1.f - Smooth(0.f, 5.f, depth);
    float light = ((64.f - x) + (64.f - y)) / 128.f - 0.5f;  // +0.5 top-left .. -0.5
    float face = 0.10f + 0.06f * ((64.f - y) / 64.f);
    Col out{1, 1, 1, face};
    if (bevel > 0.f) {
      Col edge = light > 0.f ? Col{1, 1, 1, 0.15f + light * 0.6f} : Col{0, 0, 0, 0.15f - light * 0.5f};
      out = Mix(out, edge, bevel);
    }
    // Embossed diamond in the middle of the panel.
    float dm = std::fabs(x - 32.f) + std::fabs(y - 32.f) - 9.f;
    float ridge = 1.f - Smooth(0.f, 2.f, std::fabs(dm));
    if (ridge > 0.f) {
      Col r = (x + y < 64.f) ? Col{0, 0, 0, 0.25f} : Col{1, 1, 1, 0.35f};
      if (dm < 0.f) r = (x + y < 64.f) ? Col{1, 1, 1, 0.35f} : Col{0, 0, 0, 0.25f};
      out = Mix(out, r, ridge);
    }
    return out;
  });
  return c;
}

}  // namespace

Canvas IconSheet() {
  Canvas sheet(kF * 3, kF * 3);
  Canvas frames[9] = {PauseResume(), ExitIcon(),    TrophyIcon(), GearRing(),    GearCore(),
                      CreditsIcon(), PlayIcon(),    ReplayIcon(), BackdropTile()};
  for (int i = 0; i < 9; i++) sheet.Blit(frames[i], (i % 3) * kF, (i / 3) * kF);
  return sheet;
}

}  // namespace art
