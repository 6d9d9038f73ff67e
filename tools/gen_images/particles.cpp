// Particle sprites: 12 rows of 12 frames, 32x32 each.  The game tints them
// by multiplying with a hue, so they are white or nearly so, and their
// alpha falls off softly.  A spark keeps the frame it was thrown with, so
// the frames of a row are variations (size, angle, phase) of one shape.
//   0 glow spark     1 four-point twinkle   2 bubble       3 star
//   4 striped ball   5 streak               6 crystal      7 smoke puff
//   8 heart          9 shock ring          10 kelp leaf   11 confetti
#include "sheets.h"

namespace art {

namespace {

constexpr int kF = 32;
const V2 kC{16.f, 16.f};

// Fraction through the row, 0..1.
float T(int k) { return k / 11.f; }

Canvas GlowSpark(int k) {
  Canvas c(kF, kF);
  float size = 10.f + 6.f * T(k);
  Shade(c, c.All(), [&](float x, float y) {
    float r = Len(V2{x, y} - kC);
    float halo = std::exp(-(r * r) / (size * size * 0.28f));
    float core = 1.f - Smooth(size * 0.12f, size * 0.3f, r);
    return Col{1, 1, 1, Clamp01(halo * 0.75f + core)};
  });
  return c;
}

Canvas Twinkle(int k) {
  Canvas c(kF, kF);
  float len = 10.f + 5.f * T(k), tilt = (k % 3) * 15.f;
  Shade(c, c.All(), [&](float x, float y) {
    V2 p = Rot(V2{x, y} - kC, -tilt);
    float ax = std::fabs(p.x), ay = std::fabs(p.y);
    // Rays taper to a point: width shrinks with distance along the ray.
    float rayH = Clamp01(1.f - ax / len) * Clamp01(1.f - ay / (1.2f + 2.f * (1.f - ax / len)));
    float rayV = Clamp01(1.f - ay / len) * Clamp01(1.f - ax / (1.2f + 2.f * (1.f - ay / len)));
    float r = Len(p);
    float glow = std::exp(-r * r / (len * 1.2f));
    return Col{1, 1, 1, Clamp01(std::max(rayH, rayV) + glow * 0.8f)};
  });
  return c;
}

Canvas Bubble(int k) {
  Canvas c(kF, kF);
  float r = 6.f + 7.f * T(k);
  Fill(c, c.All(), [&](float x, float y) { return SdCircle({x, y}, kC, r); },
       [&](float x, float y) {
         float d = Len(V2{x, y} - kC) / r;
         return Col{1, 1, 1, 0.12f + 0.75f * std::pow(d, 6.f)};
       });
  FillCol(c, c.All(),
          [&](float x, float y) {
            V2 h = kC + V2{-r * 0.4f, -r * 0.45f};
            return (Len(V2{(x - h.x) / (r * 0.3f), (y - h.y) / (r * 0.2f)}) - 1.f) * r * 0.2f;
          },
          Col{1, 1, 1, 0.9f});
  return c;
}

Canvas StarShape(int k) {
  Canvas c(kF, kF);
  float r = 8.f + 6.f * T(k);
  std::vector<V2> star = RegularStar(kC, 5, r, r * 0.45f, (k % 4) * 9.f);
  auto sdf = [&](float x, float y) { return SdPoly(star, {x, y}) - 0.8f; };
  Glow(c, c.All(), sdf, Col{1, 1, 1, 0.35f}, 3.f);
  Fill(c, c.All(), sdf, [&](float x, float y) {
    // Facets: each arm is lighter on one side of its centre line.
    V2 p = V2{x, y} - kC;
    float a = std::atan2(p.x, -p.y) * 180.f / kPi - (k % 4) * 9.f;
    float f = std::fmod(a + 360.f + 36.f, 72.f) < 36.f ? 1.f : 0.82f;
    return Col{f, f, f, 1};
  });
  return c;
}

Canvas Ball(int k) {
  Canvas c(kF, kF);
  float r = 9.f + 2.f * (k % 3);
  int pattern = k / 3;  // stripe, two stripes, spots, ring
  Fill(c, c.All(), [&](float x, float y) { return SdCircle({x, y}, kC, r); }, [&](float x, float y) {
    V2 p = V2{x, y} - kC;
    float shade = 1.f - 0.35f * Clamp01((p.x + p.y) / (r * 1.6f) + 0.3f);
    // Signed distance (px) to the marking, softened to one pixel of blend.
    float md = 1e9f;
    if (pattern == 0) md = std::fabs(p.y) - r * 0.22f;
    if (pattern == 1) md = std::fabs(std::fabs(p.x) - r * 0.45f) - r * 0.14f;
    if (pattern == 2) md = std::min(Len(p - V2{0, -r * 0.5f}), Len(p - V2{0, r * 0.5f})) - r * 0.28f;
    if (pattern == 3) md = std::fabs(Len(p) - r * 0.5f) - r * 0.13f;
    float mark = Cover(md);
    float v = shade * (1.f - 0.4f * mark);
    return Col{v, v, v, 1};
  });
  FillCol(c, c.All(),
          [&](float x, float y) {
            return (Len(V2{(x - 16.f + r * 0.38f) / (r * 0.3f), (y - 16.f + r * 0.42f) / (r * 0.22f)}) -
                    1.f) * r * 0.22f;
          },
          Col{1, 1, 1, 0.85f});
  return c;
}

Canvas Streak(int k) {
  Canvas c(kF, kF);
  float half = 8.f + 7.f * T(k);
  Shade(c, c.All(), [&](float x, float y) {
    V2 p = V2{x, y} - kC;
    float along = Clamp01(1.f - std::fabs(p.x) / half);
    float w = 0.6f + 2.6f * along;
    float core = Clamp01(1.f - std::fabs(p.y) / w) * along;
    float glow = std::exp(-p.y * p.y / (w * 6.f)) * along * 0.5f;
    return Col{1, 1, 1, Clamp01(core * 1.3f + glow)};
  });
  return c;
}

Canvas Crystal(int k) {
  Canvas c(kF, kF);
  float h = 9.f + 5.f * T(k), w = h * (0.55f + 0.05f * (k % 3));
  std::vector<V2> gem = {{16.f, 16.f - h}, {16.f + w, 16.f}, {16.f, 16.f + h}, {16.f - w, 16.f}};
  auto sdf = [&](float x, float y) { return SdPoly(gem, {x, y}); };
  Glow(c, c.All(), sdf, Col{1, 1, 1, 0.3f}, 2.5f);
  Fill(c, c.All(), sdf, [&](float x, float y) {
    // Four facets lit from the top left.
    bool left = x < 16.f, top = y < 16.f;
    float v = top ? (left ? 1.f : 0.85f) : (left ? 0.75f : 0.6f);
    return Col{v, v, v, 1};
  });
  return c;
}

Canvas Smoke(int k) {
  Canvas c(kF, kF);
  float r = 7.f + 6.f * T(k);
  Shade(c, c.All(), [&](float x, float y) {
    V2 p = V2{x, y} - kC;
    float n = ValueNoise(x / 5.f, y / 5.f, 7, 71 + k) * 0.7f + ValueNoise(x / 2.5f, y / 2.5f, 13, 91 + k) * 0.3f;
    float d = Len(p) / r + (n - 0.5f) * 0.6f;
    float a = Clamp01(1.f - d) * 0.8f;
    return Col{0.95f, 0.95f, 0.95f, a * a * (3.f - 2.f * a)};
  });
  return c;
}

Canvas HeartSprite(int k) {
  Canvas c(kF, kF);
  float s = 8.f + 5.f * T(k);
  std::vector<V2> heart = Transform(HeartPoly(kC, s), kC, (k % 3 - 1) * 12.f, {1, 1}, {0, 0});
  auto sdf = [&](float x, float y) { return SdPoly(heart, {x, y}); };
  Glow(c, c.All(), sdf, Col{1, 1, 1, 0.3f}, 2.5f);
  Fill(c, c.All(), sdf, [&](float, float y) {
    float v = 1.f - 0.25f * Clamp01((y - 16.f + s) / (2.f * s));
    return Col{v, v, v, 1};
  });
  return c;
}

Canvas ShockRing(int k) {
  Canvas c(kF, kF);
  float r = 3.f + 11.f * T(k), w = 2.6f - 1.4f * T(k);
  Shade(c, c.All(), [&](float x, float y) {
    float d = std::fabs(Len(V2{x, y} - kC) - r);
    float a = std::exp(-d * d / (w * w)) * (1.f - 0.4f * T(k));
    return Col{1, 1, 1, Clamp01(a)};
  });
  return c;
}

Canvas Leaf(int k) {
  Canvas c(kF, kF);
  float len = 10.f + 4.f * T(k), bend = ((k % 4) - 1.5f) * 2.f;
  std::vector<V2> pts;
  std::vector<float> width;
  for (int i = 0; i <= 16; i++) {
    float t = i / 16.f;
    pts.push_back({16.f + bend * std::sin(t * kPi), 16.f - len + 2.f * len * t});
    width.push_back(len * 1.05f * std::pow(std::fabs(std::sin(t * kPi)), 0.8f) + 0.4f);
  }
  std::vector<V2> leaf = Ribbon(pts, width);
  auto sdf = [&](float x, float y) { return SdPoly(leaf, {x, y}); };
  Fill(c, c.All(), sdf, [&](float x, float) {
    float side = x < 16.f + bend * 0.5f ? 1.f : 0.85f;
    return Col{side, side, side, 0.95f};
  });
  // Mid-rib.
  FillCol(c, c.All(), [&](float x, float y) {
    float t = Clamp01((y - 16.f + len) / (2.f * len));
    return Inter(std::fabs(x - 16.f - bend * std::sin(t * kPi)) - 0.5f, sdf(x, y) + 1.5f);
  }, Col{0.6f, 0.6f, 0.6f, 0.7f});
  return c;
}

Canvas Confetti(int k) {
  Canvas c(kF, kF);
  // Tumbling: the frames show the strip turning edge-on and back.
  float turn = std::cos(T(k) * kPi * 1.8f);
  float hw = 3.f + 5.f * std::fabs(turn), hh = 8.f;
  float v = turn >= 0.f ? 1.f : 0.75f;  // the back face is darker
  Fill(c, c.All(), [&](float x, float y) {
    V2 p = Rot(V2{x, y} - kC, -20.f);
    return SdBox(p, {0, 0}, {hw, hh}, 1.f);
  }, [&](float, float) { return Col{v, v, v, 1}; });
  return c;
}

}  // namespace

Canvas ParticleSheet() {
  Canvas sheet(kF * 12, kF * 12);
  Canvas (*rows[12])(int) = {GlowSpark, Twinkle, Bubble,      StarShape, Ball,  Streak,
                             Crystal,   Smoke,   HeartSprite, ShockRing, Leaf,  Confetti};
  for (int r = 0; r < 12; r++)
    for (int k = 0; k < 12; k++) sheet.Blit(rows[r](k), k * kF, r * kF);
  return sheet;
}

}  // namespace art
