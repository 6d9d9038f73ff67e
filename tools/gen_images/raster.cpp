#include "raster.h"

#include <lodepng.h>

#include <cstdio>

namespace art {

Col Hsv(float h, float s, float v, float a) {
  h = std::fmod(h, 360.f);
  if (h < 0.f) h += 360.f;
  float c = v * s, hp = h / 60.f, x = c * (1.f - std::fabs(std::fmod(hp, 2.f) - 1.f));
  float r = 0, g = 0, b = 0;
  if (hp < 1) r = c, g = x;
  else if (hp < 2) r = x, g = c;
  else if (hp < 3) g = c, b = x;
  else if (hp < 4) g = x, b = c;
  else if (hp < 5) r = x, b = c;
  else r = c, b = x;
  float m = v - c;
  return {r + m, g + m, b + m, a};
}

float Hash01(int x, int y, int seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               static_cast<uint32_t>(seed) * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return (h & 0xFFFFFF) / 16777215.f;
}

float ValueNoise(float x, float y, int period, int seed) {
  int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
  float fx = x - ix, fy = y - iy;
  auto wrap = [period](int v) { return ((v % period) + period) % period; };
  int x0 = wrap(ix), x1 = wrap(ix + 1), y0 = wrap(iy), y1 = wrap(iy + 1);
  float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  float a = Lerp(Hash01(x0, y0, seed), Hash01(x1, y0, seed), sx);
  float b = Lerp(Hash01(x0, y1, seed), Hash01(x1, y1, seed), sx);
  return Lerp(a, b, sy);
}

void Canvas::Blit(const Canvas& src, int dx, int dy) {
  for (int y = 0; y < src.H(); y++)
    for (int x = 0; x < src.W(); x++) {
      int tx = x + dx, ty = y + dy;
      if (tx < 0 || ty < 0 || tx >= w_ || ty >= h_) continue;
      const float* s = src.At(x, y);
      float* d = At(tx, ty);
      for (int i = 0; i < 4; i++) d[i] = s[i];
    }
}

static unsigned char ToByte(float v) {
  v = Clamp01(v) * 255.f + 0.5f;
  return static_cast<unsigned char>(v);
}

std::vector<unsigned char> Canvas::Bytes() const {
  std::vector<unsigned char> out(static_cast<size_t>(w_) * h_ * 4);
  for (size_t i = 0; i < static_cast<size_t>(w_) * h_; i++) {
    const float* s = &p_[i * 4];
    unsigned char* d = &out[i * 4];
    unsigned char a = ToByte(s[3]);
    if (a == 0) {
      d[0] = d[1] = d[2] = d[3] = 0;
      continue;
    }
    float inv = 1.f / s[3];
    d[0] = ToByte(s[0] * inv);
    d[1] = ToByte(s[1] * inv);
    d[2] = ToByte(s[2] * inv);
    d[3] = a;
    // The loader makes magenta and cyan transparent: keep art off them.
    bool magenta = d[0] >= 251 && d[1] <= 4 && d[2] >= 251;
    bool cyan = d[0] <= 4 && d[1] >= 251 && d[2] >= 251;
    if (magenta) d[1] = 5;
    if (cyan) d[0] = 5;
  }
  return out;
}

bool SavePng(const Canvas& c, const std::string& path) {
  std::vector<unsigned char> px = c.Bytes();
  unsigned err = lodepng::encode(path, px, static_cast<unsigned>(c.W()), static_cast<unsigned>(c.H()));
  if (err) {
    std::fprintf(stderr, "gen_images: cannot write %s: %s\n", path.c_str(), lodepng_error_text(err));
    return false;
  }
  return true;
}

float SdPoly(const std::vector<V2>& v, V2 p) {
  size_t n = v.size();
  float d = Dot(p - v[0], p - v[0]);
  float s = 1.f;
  for (size_t i = 0, j = n - 1; i < n; j = i, i++) {
    V2 e = v[j] - v[i], w = p - v[i];
    V2 b = w - e * Clamp01(Dot(w, e) / Dot(e, e));
    d = std::min(d, Dot(b, b));
    bool c1 = p.y >= v[i].y, c2 = p.y < v[j].y, c3 = e.x * w.y > e.y * w.x;
    if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
  }
  return s * std::sqrt(d);
}

std::vector<V2> RegularStar(V2 c, int points, float rOut, float rIn, float rotDeg) {
  std::vector<V2> v;
  for (int i = 0; i < points * 2; i++) {
    float r = (i % 2) ? rIn : rOut;
    v.push_back(c + Dir(rotDeg + 180.f * i / points) * r);
  }
  return v;
}

std::vector<V2> RegularPoly(V2 c, int sides, float r, float rotDeg) {
  std::vector<V2> v;
  for (int i = 0; i < sides; i++) v.push_back(c + Dir(rotDeg + 360.f * i / sides) * r);
  return v;
}

std::vector<V2> GearPoly(V2 c, int teeth, float rRoot, float rTip, float rotDeg) {
  std::vector<V2> v;
  float step = 360.f / teeth;
  for (int i = 0; i < teeth; i++) {
    float a = rotDeg + i * step;
    // Root gap, rising flank, flat tip, falling flank.
    v.push_back(c + Dir(a - step * 0.32f) * rRoot);
    v.push_back(c + Dir(a - step * 0.19f) * rTip);
    v.push_back(c + Dir(a + step * 0.19f) * rTip);
    v.push_back(c + Dir(a + step * 0.32f) * rRoot);
  }
  return v;
}

std::vector<V2> HeartPoly(V2 c, float size) {
  std::vector<V2> v;
  for (int i = 0; i < 96; i++) {
    float t = 2.f * kPi * i / 96.f;
    float x = 16.f * std::pow(std::sin(t), 3.f);
    float y = 13.f * std::cos(t) - 5.f * std::cos(2 * t) - 2.f * std::cos(3 * t) - std::cos(4 * t);
    v.push_back({c.x + x * size / 16.f, c.y - (y + 2.5f) * size / 16.f});
  }
  return v;
}

std::vector<V2> Ribbon(const std::vector<V2>& pts, const std::vector<float>& width) {
  std::vector<V2> left, right;
  size_t n = pts.size();
  for (size_t i = 0; i < n; i++) {
    V2 t = (i + 1 < n ? pts[i + 1] : pts[i]) - (i > 0 ? pts[i - 1] : pts[i]);
    float l = Len(t);
    V2 nrm = l > 0 ? V2{-t.y / l, t.x / l} : V2{1, 0};
    left.push_back(pts[i] + nrm * (width[i] * 0.5f));
    right.push_back(pts[i] - nrm * (width[i] * 0.5f));
  }
  std::vector<V2> v(left);
  for (size_t i = n; i-- > 0;) v.push_back(right[i]);
  return v;
}

std::vector<V2> Transform(std::vector<V2> v, V2 about, float rotDeg, V2 scale, V2 move) {
  for (V2& p : v) {
    V2 q = p - about;
    q = {q.x * scale.x, q.y * scale.y};
    p = Rot(q, rotDeg) + about + move;
  }
  return v;
}

Rect Bounds(const std::vector<V2>& v, float pad) {
  float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
  for (V2 p : v) {
    x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
    x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
  }
  return {static_cast<int>(std::floor(x0 - pad)), static_cast<int>(std::floor(y0 - pad)),
          static_cast<int>(std::ceil(x1 + pad)) + 1, static_cast<int>(std::ceil(y1 + pad)) + 1};
}

static void BoxPass(const std::vector<float>& in, std::vector<float>& out, int w, int h, int r,
                    bool horizontal) {
  int n = horizontal ? w : h, lines = horizontal ? h : w;
  float k = 1.f / (2 * r + 1);
  for (int l = 0; l < lines; l++) {
    auto idx = [&](int i) {
      return horizontal ? static_cast<size_t>(l) * w + i : static_cast<size_t>(i) * w + l;
    };
    float sum = 0.f;
    for (int i = -r; i <= r; i++)
      if (i >= 0 && i < n) sum += in[idx(i)];
    for (int i = 0; i < n; i++) {
      out[idx(i)] = sum * k;
      int add = i + r + 1, sub = i - r;
      if (add < n) sum += in[idx(add)];
      if (sub >= 0) sum -= in[idx(sub)];
    }
  }
}

Mask Blur(const Mask& m, int radius) {
  Mask out = m;
  if (radius <= 0) return out;
  std::vector<float> tmp(out.a.size());
  int r = radius;
  for (int pass = 0; pass < 3; pass++) {
    BoxPass(out.a, tmp, m.w, m.h, r, true);
    BoxPass(tmp, out.a, m.w, m.h, r, false);
  }
  return out;
}

Mask Shifted(const Mask& m, int dx, int dy) {
  Mask out(m.w, m.h);
  for (int y = 0; y < m.h; y++)
    for (int x = 0; x < m.w; x++) out.Ref(x, y) = m.Get(x - dx, y - dy);
  return out;
}

}  // namespace art
