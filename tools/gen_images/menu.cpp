// Menu art: 504-pixel frames in a 2x2 sheet (two 512 cells = 1024 texture).
//   0 background: drawn 2.25x enlarged behind the whole menu, so it is
//     built from soft shapes that survive the magnification; only the
//     middle ~360x270 is ever on screen.
//   2 overlay: drawn at 1x over the background, turning slowly: light rays
//     and rings that fade out well inside the frame so its square never shows.
// Frames 1 and 3 stay empty.
#include "sheets.h"

namespace art {

namespace {

constexpr int kF = 504;
constexpr float kMid = kF * 0.5f;

// Distance to the nearest cell edge of a jittered grid (period in cells),
// which traces the network of light that water throws on a sea bed.
float Caustic(float x, float y, float cell, int period, int seed) {
  float gx = x / cell, gy = y / cell;
  int ix = static_cast<int>(std::floor(gx)), iy = static_cast<int>(std::floor(gy));
  float d1 = 1e9f, d2 = 1e9f;
  for (int j = -1; j <= 1; j++)
    for (int i = -1; i <= 1; i++) {
      int cx = ix + i, cy = iy + j;
      int wx = ((cx % period) + period) % period, wy = ((cy % period) + period) % period;
      float px = cx + 0.15f + 0.7f * Hash01(wx, wy, seed);
      float py = cy + 0.15f + 0.7f * Hash01(wx, wy, seed + 1);
      float d = Len(V2{gx - px, gy - py});
      if (d < d1) {
        d2 = d1;
        d1 = d;
      } else if (d < d2) {
        d2 = d;
      }
    }
  return (d2 - d1) * cell;
}

Canvas Background() {
  Canvas c(kF, kF);
  const V2 glowAt{kMid, kMid - 40.f};
  Shade(c, c.All(), [&](float x, float y) {
    V2 p{x, y};
    float r = Len(p - glowAt);
    // Deep blue at the rim rising to teal behind the logo.
    float g = std::exp(-r * r / (2.f * 150.f * 150.f));
    Col col = Mix(Rgb(3, 10, 38), Rgb(8, 44, 92), Smooth(0.f, 0.6f, g));
    col = Mix(col, Rgb(22, 118, 136), Smooth(0.45f, 1.f, g));
    // Light from the surface: brighter towards the top.
    float surface = Clamp01(1.f - y / 300.f);
    col = Mix(col, Rgb(40, 150, 170), surface * surface * 0.25f);
    // Caustic network, strongest in the glow and broken up by noise so
    // it reads as moving light rather than tiles.
    float wx = x + 10.f * std::sin(y / 23.f) + 6.f * std::sin((x + y) / 17.f);
    float wy = y + 8.f * std::sin(x / 19.f) + 5.f * std::sin((x - y) / 13.f);
    float e = Caustic(wx, wy, 30.f, 64, 7);
    float patch = Smooth(0.35f, 0.8f, ValueNoise(x / 40.f, y / 40.f, 64, 5));
    float line = std::exp(-e * e / 5.f) * (0.02f + 0.12f * g) * (0.25f + 0.75f * patch);
    col = Mix(col, Rgb(150, 240, 230), line);
    // Dither a little so the long gradients do not band when enlarged.
    float n = (Hash01(static_cast<int>(x), static_cast<int>(y), 3) - 0.5f) / 255.f;
    return Col{col.r + n, col.g + n, col.b + n, 1.f};
  });
  // Soft rising bubbles (bokeh), placed from a fixed hash.
  for (int i = 0; i < 46; i++) {
    V2 at{40.f + 424.f * Hash01(i, 1, 11), 40.f + 424.f * Hash01(i, 2, 11)};
    float r = 3.f + 12.f * Hash01(i, 3, 11) * Hash01(i, 4, 11);
    float a = 0.05f + 0.10f * Hash01(i, 5, 11);
    Fill(c, Around(at.x, at.y, r + 3, r + 3), [&](float x, float y) { return SdCircle({x, y}, at, r); },
         [&](float x, float y) {
           float d = Len(V2{x, y} - at) / r;
           return Col{0.7f, 0.95f, 1.f, a * (0.5f + 0.5f * d * d)};
         }, 2.f);
  }
  // Kelp silhouettes swaying up from the sea bed at both sides, with
  // leaf blades along the stalk.
  for (int i = 0; i < 7; i++) {
    float baseX = (i < 4 ? 50.f + i * 36.f : 340.f + (i - 4) * 40.f) + 14.f * Hash01(i, 7, 13);
    float height = 190.f + 120.f * Hash01(i, 8, 13);
    float phase = 6.f * Hash01(i, 9, 13);
    float shade = 0.6f + 0.4f * Hash01(i, 10, 13);
    Col tone{0.02f * shade, 0.16f * shade, 0.16f * shade, 1.f};
    auto at = [&](float t) {
      return V2{baseX + 22.f * t * std::sin(phase + t * 4.f), kF + 6.f - height * t};
    };
    std::vector<V2> pts;
    std::vector<float> width;
    for (int k = 0; k <= 40; k++) {
      float t = k / 40.f;
      pts.push_back(at(t));
      width.push_back(7.f * (1.f - t * 0.6f));
    }
    std::vector<V2> stalk = Ribbon(pts, width);
    auto paint = [&](float, float y) {
      float fade = Clamp01((y - (kF - height)) / height);
      return WithA(tone, 0.45f + 0.45f * fade);
    };
    Fill(c, Bounds(stalk, 3.f), [&](float x, float y) { return SdPoly(stalk, {x, y}); }, paint, 2.f);
    for (int b = 0; b < 6; b++) {
      float t = 0.2f + b * 0.14f;
      V2 root = at(t);
      float side = (b % 2) ? 1.f : -1.f, len = 34.f * (1.f - t * 0.5f);
      std::vector<V2> bp;
      std::vector<float> bw;
      for (int k = 0; k <= 12; k++) {
        float u = k / 12.f;
        bp.push_back(root + V2{side * len * 0.55f * u, -len * u + 6.f * u * u});
        bw.push_back(12.f * (1.f - t * 0.4f) * std::sin(u * kPi) + 0.5f);
      }
      std::vector<V2> blade = Ribbon(bp, bw);
      Fill(c, Bounds(blade, 3.f), [&](float x, float y) { return SdPoly(blade, {x, y}); }, paint, 2.f);
    }
  }
  // Vignette.
  Shade(c, c.All(), [](float x, float y) {
    float d = Len(V2{(x - kMid) / kMid, (y - kMid) / kMid});
    return Col{0.f, 0.02f, 0.08f, 0.55f * Smooth(0.55f, 1.35f, d)};
  });
  return c;
}

Canvas Overlay() {
  Canvas c(kF, kF);
  const V2 m{kMid, kMid};
  Shade(c, c.All(), [&](float x, float y) {
    V2 p = V2{x, y} - m;
    float r = Len(p);
    if (r > 250.f) return Col{0, 0, 0, 0};
    float a = std::atan2(p.y, p.x);
    // Twelve rays with soft edges, alternating in strength.
    float ray = 0.5f + 0.5f * std::cos(a * 12.f);
    ray = ray * ray * ray;
    float strength = (0.5f + 0.5f * std::cos(a * 6.f)) * 0.5f + 0.5f;
    float radial = Smooth(20.f, 90.f, r) * (1.f - Smooth(120.f, 245.f, r));
    float alpha = ray * strength * radial * 0.16f;
    // Two faint rings.
    float ring1 = std::exp(-(r - 150.f) * (r - 150.f) / 6.f) * 0.10f;
    float ring2 = std::exp(-(r - 196.f) * (r - 196.f) / 12.f) * 0.06f;
    float dash = 0.5f + 0.5f * std::cos(a * 36.f);
    alpha += ring1 + ring2 * Smooth(0.2f, 0.6f, dash);
    return Col{0.8f, 1.f, 1.f, Clamp01(alpha)};
  });
  return c;
}

}  // namespace

Canvas MenuSheet() {
  Canvas sheet(kF * 2, kF * 2);
  sheet.Blit(Background(), 0, 0);
  sheet.Blit(Overlay(), 0, kF);
  return sheet;
}

}  // namespace art
