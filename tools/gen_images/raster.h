// Small software rasteriser for the demo's generated art.
//
// Shapes are described by signed distance functions in pixel units
// (negative inside) and filled with analytic anti-aliasing; paints are
// functions of position.  Everything is plain float maths with no
// randomness from the environment, so the same build writes the same bytes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace art {

constexpr float kPi = 3.14159265358979f;

struct V2 {
  float x, y;
};
inline V2 operator+(V2 a, V2 b) { return {a.x + b.x, a.y + b.y}; }
inline V2 operator-(V2 a, V2 b) { return {a.x - b.x, a.y - b.y}; }
inline V2 operator*(V2 a, float s) { return {a.x * s, a.y * s}; }
inline float Dot(V2 a, V2 b) { return a.x * b.x + a.y * b.y; }
inline float Len(V2 a) { return std::sqrt(Dot(a, a)); }
inline V2 Rot(V2 a, float deg) {
  float r = deg * kPi / 180.f, c = std::cos(r), s = std::sin(r);
  return {a.x * c - a.y * s, a.x * s + a.y * c};
}
// Unit vector for an angle in degrees, 0 = up, turning clockwise on screen.
inline V2 Dir(float deg) {
  float r = deg * kPi / 180.f;
  return {std::sin(r), -std::cos(r)};
}

inline float Clamp01(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }
inline float Lerp(float a, float b, float t) { return a + (b - a) * t; }
inline float Smooth(float e0, float e1, float v) {
  float t = Clamp01((v - e0) / (e1 - e0));
  return t * t * (3.f - 2.f * t);
}

// Straight (non-premultiplied) colour, components 0..1.
struct Col {
  float r, g, b, a;
};
inline Col Rgb(int r, int g, int b, float a = 1.f) {
  return {r / 255.f, g / 255.f, b / 255.f, a};
}
inline Col Mix(Col p, Col q, float t) {
  return {Lerp(p.r, q.r, t), Lerp(p.g, q.g, t), Lerp(p.b, q.b, t), Lerp(p.a, q.a, t)};
}
inline Col WithA(Col c, float a) { return {c.r, c.g, c.b, a}; }
inline Col Scale(Col c, float k) { return {c.r * k, c.g * k, c.b * k, c.a}; }
// Hue in degrees, saturation and value 0..1.
Col Hsv(float h, float s, float v, float a = 1.f);

// Integer hash noise: the same inputs always give the same value.
float Hash01(int x, int y, int seed);
// Smooth value noise with period `period` cells in both directions, so
// tiles built from it wrap seamlessly.
float ValueNoise(float x, float y, int period, int seed);

struct Rect {
  int x0, y0, x1, y1;  // half-open
};

// RGBA image held premultiplied so that compositing is a plain sum.
class Canvas {
 public:
  Canvas(int w, int h) : w_(w), h_(h), p_(static_cast<size_t>(w) * h * 4, 0.f) {}
  int W() const { return w_; }
  int H() const { return h_; }
  Rect All() const { return {0, 0, w_, h_}; }
  float* At(int x, int y) { return &p_[(static_cast<size_t>(y) * w_ + x) * 4]; }
  const float* At(int x, int y) const { return &p_[(static_cast<size_t>(y) * w_ + x) * 4]; }

  // Source-over of colour c scaled by coverage.
  void Over(int x, int y, Col c, float cov) {
    float a = c.a * cov;
    if (a <= 0.f) return;
    float* d = At(x, y);
    float k = 1.f - a;
    d[0] = c.r * a + d[0] * k;
    d[1] = c.g * a + d[1] * k;
    d[2] = c.b * a + d[2] * k;
    d[3] = a + d[3] * k;
  }
  // Copies src (all channels) with its top-left at (dx, dy), clipped.
  void Blit(const Canvas& src, int dx, int dy);
  // Straight 8-bit RGBA, rows top to bottom.  Transparent texels are
  // black, and opaque ones never carry the loader's key colours.
  std::vector<unsigned char> Bytes() const;

 private:
  int w_, h_;
  std::vector<float> p_;
};

inline Rect Clip(Rect r, const Canvas& c) {
  return {std::max(0, r.x0), std::max(0, r.y0), std::min(c.W(), r.x1), std::min(c.H(), r.y1)};
}
inline Rect Around(float cx, float cy, float rx, float ry) {
  return {static_cast<int>(std::floor(cx - rx)) - 1, static_cast<int>(std::floor(cy - ry)) - 1,
          static_cast<int>(std::ceil(cx + rx)) + 2, static_cast<int>(std::ceil(cy + ry)) + 2};
}

// Runs f(x, y) -> Col at every pixel centre of r and composites the result.
template <class F>
void Shade(Canvas& c, Rect r, F f) {
  r = Clip(r, c);
  for (int y = r.y0; y < r.y1; y++)
    for (int x = r.x0; x < r.x1; x++) c.Over(x, y, f(x + 0.5f, y + 0.5f), 1.f);
}
// Coverage of a pixel from a signed distance (pixel units).
inline float Cover(float d, float soft = 1.f) { return Clamp01(0.5f - d / soft); }

// Fills the shape sdf(x, y) < 0 with paint(x, y) inside r.
template <class S, class P>
void Fill(Canvas& c, Rect r, S sdf, P paint, float soft = 1.f) {
  r = Clip(r, c);
  for (int y = r.y0; y < r.y1; y++)
    for (int x = r.x0; x < r.x1; x++) {
      float px = x + 0.5f, py = y + 0.5f;
      float cov = Cover(sdf(px, py), soft);
      if (cov > 0.f) c.Over(x, y, paint(px, py), cov);
    }
}
template <class S>
void FillCol(Canvas& c, Rect r, S sdf, Col col, float soft = 1.f) {
  Fill(c, r, sdf, [col](float, float) { return col; }, soft);
}
// A soft halo around a shape: full strength inside, fading to nothing
// `radius` pixels outside.
template <class S>
void Glow(Canvas& c, Rect r, S sdf, Col col, float radius) {
  r = Clip(r, c);
  for (int y = r.y0; y < r.y1; y++)
    for (int x = r.x0; x < r.x1; x++) {
      float d = sdf(x + 0.5f, y + 0.5f);
      float k = d <= 0.f ? 1.f : 1.f - Smooth(0.f, radius, d);
      c.Over(x, y, col, k * k);
    }
}

// ---- Distance functions (negative inside) ----
inline float SdCircle(V2 p, V2 c, float r) { return Len(p - c) - r; }
inline float SdRing(V2 p, V2 c, float r, float halfWidth) {
  return std::fabs(Len(p - c) - r) - halfWidth;
}
inline float SdBox(V2 p, V2 c, V2 half, float round = 0.f) {
  float dx = std::fabs(p.x - c.x) - half.x + round, dy = std::fabs(p.y - c.y) - half.y + round;
  float ox = std::max(dx, 0.f), oy = std::max(dy, 0.f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(dx, dy), 0.f) - round;
}
// Capsule around the segment a-b.
inline float SdSeg(V2 p, V2 a, V2 b, float r) {
  V2 pa = p - a, ba = b - a;
  float h = Clamp01(Dot(pa, ba) / Dot(ba, ba));
  return Len(pa - ba * h) - r;
}
float SdPoly(const std::vector<V2>& v, V2 p);
inline float Union(float a, float b) { return std::min(a, b); }
inline float Cut(float a, float b) { return std::max(a, -b); }
inline float Inter(float a, float b) { return std::max(a, b); }

// ---- Polygon builders ----
std::vector<V2> RegularStar(V2 c, int points, float rOut, float rIn, float rotDeg);
std::vector<V2> RegularPoly(V2 c, int sides, float r, float rotDeg);
// Gear outline: `teeth` trapezoid teeth between radii rRoot and rTip.
std::vector<V2> GearPoly(V2 c, int teeth, float rRoot, float rTip, float rotDeg);
// Heart of width about 2*size centred on c.
std::vector<V2> HeartPoly(V2 c, float size);
// A tapered ribbon along a polyline; width[i] is the full width at pts[i].
std::vector<V2> Ribbon(const std::vector<V2>& pts, const std::vector<float>& width);
std::vector<V2> Transform(std::vector<V2> v, V2 about, float rotDeg, V2 scale, V2 move);
Rect Bounds(const std::vector<V2>& v, float pad);

// ---- Coverage masks (text, blurs) ----
struct Mask {
  int w = 0, h = 0;
  std::vector<float> a;
  Mask() = default;
  Mask(int w_, int h_) : w(w_), h(h_), a(static_cast<size_t>(w_) * h_, 0.f) {}
  float Get(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return 0.f;
    return a[static_cast<size_t>(y) * w + x];
  }
  float& Ref(int x, int y) { return a[static_cast<size_t>(y) * w + x]; }
};
// Separable box blur run three times: close to a gaussian whose sigma is
// about the radius.
Mask Blur(const Mask& m, int radius);
Mask Shifted(const Mask& m, int dx, int dy);
// Composites paint through the mask placed with its top-left at (ox, oy).
template <class P>
void FillMask(Canvas& c, const Mask& m, int ox, int oy, P paint, float strength = 1.f) {
  Rect r = Clip(Rect{ox, oy, ox + m.w, oy + m.h}, c);
  for (int y = r.y0; y < r.y1; y++)
    for (int x = r.x0; x < r.x1; x++) {
      float k = m.Get(x - ox, y - oy) * strength;
      if (k > 0.f) c.Over(x, y, paint(x + 0.5f, y + 0.5f), k);
    }
}

bool SavePng(const Canvas& c, const std::string& path);

}  // namespace art
