// The framework's logo for the loading screen: 800x800, cut into 25x25
// tiles of 32 that fly in one by one and settle at half size.  A round
// badge with kelp fronds swaying in it, and the word KELP across its foot.
// Shown at half size with nearest-texel sampling: no detail thinner than
// about four pixels.
#include "sheets.h"

namespace art {

namespace {

constexpr int kS = 800;
const V2 kBadge{400.f, 292.f};
constexpr float kBadgeR = 250.f;

struct Frond {
  float x, height, sway, phase, width;
};

std::vector<V2> FrondStalk(const Frond& f, std::vector<V2>* spine) {
  std::vector<V2> pts;
  std::vector<float> width;
  for (int k = 0; k <= 48; k++) {
    float t = k / 48.f;
    pts.push_back({f.x + f.sway * std::sin(f.phase + t * 5.f) * t, kBadge.y + kBadgeR - f.height * t});
    width.push_back(f.width * (1.f - 0.7f * t) + 3.f);
  }
  if (spine) *spine = pts;
  return Ribbon(pts, width);
}

// A long kelp blade: a wavy strip rising at an angle from the stalk.
std::vector<V2> Blade(V2 root, float side, float len, float w, float phase) {
  std::vector<V2> pts;
  std::vector<float> width;
  for (int k = 0; k <= 24; k++) {
    float u = k / 24.f;
    V2 dir = Dir(side * (58.f - 26.f * u));
    V2 p = root + dir * (len * u);
    p = p + V2{dir.y, -dir.x} * (6.f * std::sin(u * 9.f + phase) * u);
    pts.push_back(p);
    float body = std::sin(std::min(1.f, u * 1.15f) * kPi * 0.5f) * (1.f - u * u * 0.9f);
    width.push_back(w * body * (0.85f + 0.15f * std::sin(u * 20.f + phase)) + 3.f);
  }
  return Ribbon(pts, width);
}

}  // namespace

Canvas FrameworkLogo(Face& face) {
  Canvas c(kS, kS);
  auto badge = [](float x, float y) { return SdCircle({x, y}, kBadge, kBadgeR); };
  Rect box = Around(kBadge.x, kBadge.y, kBadgeR + 30.f, kBadgeR + 30.f);

  // Shadow and body: deep water, lighter at the top.
  FillCol(c, box, [&](float x, float y) { return badge(x - 10.f, y - 16.f); }, Col{0, 0, 0.05f, 0.45f}, 18.f);
  FillCol(c, box, [&](float x, float y) { return badge(x, y) - 12.f; }, Rgb(6, 24, 44));
  Fill(c, box, badge, [](float x, float y) {
    float r = Len(V2{x, y} - (kBadge + V2{0.f, -120.f})) / 380.f;
    return Mix(Rgb(30, 150, 160), Rgb(4, 36, 70), Smooth(0.f, 1.f, r));
  });
  // Light beams from the surface.
  Shade(c, box, [&](float x, float y) {
    float inside = Cover(badge(x, y) + 6.f);
    if (inside <= 0.f) return Col{0, 0, 0, 0};
    float a = (x - kBadge.x) * 0.9f + (y - 40.f) * 0.35f;
    float beam = 0.5f + 0.5f * std::sin(a / 38.f);
    beam = beam * beam * beam * beam;
    float fade = Clamp01(1.f - (y - 40.f) / 420.f);
    return Col{0.75f, 1.f, 0.95f, inside * beam * fade * 0.18f};
  });

  // Three fronds, clipped to the badge so they grow out of its floor.
  const Frond fronds[3] = {{282.f, 400.f, 40.f, 0.3f, 18.f},
                           {404.f, 455.f, -46.f, 1.4f, 20.f},
                           {520.f, 370.f, 36.f, 2.6f, 16.f}};
  const Col dark = Rgb(34, 92, 40), light = Rgb(178, 222, 84);
  for (int i = 0; i < 3; i++) {
    std::vector<V2> spine;
    std::vector<V2> stalk = FrondStalk(fronds[i], &spine);
    std::vector<std::vector<V2>> shapes{stalk};
    std::vector<V2> bulbs;
    for (int b = 0; b < 5; b++) {
      size_t at = 9 + b * 8;
      if (at >= spine.size()) break;
      float t = at / 48.f;
      float side = ((b + i) % 2) ? 1.f : -1.f;
      shapes.push_back(Blade(spine[at], side, 150.f * (1.f - 0.4f * t), 46.f * (1.f - 0.3f * t), b + i * 2.f));
      bulbs.push_back(spine[at]);
    }
    auto paint = [&](float x, float y) {
      float t = Clamp01((kBadge.y + kBadgeR - y) / 460.f);
      Col col = Mix(dark, light, t);
      return x < fronds[i].x + 4.f ? col : Scale(col, 0.88f);
    };
    for (const auto& s : shapes) {
      auto sdf = [&](float x, float y) { return Inter(SdPoly(s, {x, y}), badge(x, y) + 10.f); };
      // Dark edge first, then the lit body: flat colours read at half size.
      FillCol(c, Bounds(s, 8.f), [&](float x, float y) { return sdf(x, y) - 4.f; }, Rgb(6, 40, 30));
      Fill(c, Bounds(s, 4.f), sdf, paint);
    }
    // Gas bulbs where the blades leave the stalk.
    for (V2 b : bulbs) {
      FillCol(c, Around(b.x, b.y, 16.f, 16.f), [&](float x, float y) { return SdCircle({x, y}, b, 12.f); },
              Rgb(6, 40, 30));
      Fill(c, Around(b.x, b.y, 12.f, 12.f), [&](float x, float y) { return SdCircle({x, y}, b, 8.5f); },
           [&](float x, float y) { return Mix(Rgb(235, 240, 140), Rgb(150, 150, 40), Clamp01(Len(V2{x, y} - b + V2{3, 3}) / 11.f)); });
    }
  }
  // Bubbles rising on the right.
  const V2 bubbles[5] = {{590.f, 210.f}, {560.f, 150.f}, {530.f, 104.f}, {616.f, 280.f}, {596.f, 330.f}};
  const float bubbleR[5] = {16.f, 12.f, 9.f, 10.f, 7.f};
  for (int i = 0; i < 5; i++) {
    V2 b = bubbles[i];
    float r = bubbleR[i];
    FillCol(c, Around(b.x, b.y, r + 4, r + 4), [&](float x, float y) { return SdRing({x, y}, b, r, 2.5f); },
            Rgb(210, 255, 250, 0.85f));
    FillCol(c, Around(b.x, b.y, r, r), [&](float x, float y) { return SdCircle({x, y}, b + V2{-r * 0.35f, -r * 0.35f}, r * 0.25f); },
            Rgb(255, 255, 255, 0.9f));
  }
  // Rim: a bright ring inside a dark edge.
  FillCol(c, box, [&](float x, float y) { return SdRing({x, y}, kBadge, kBadgeR - 3.f, 9.f); }, Rgb(6, 24, 44));
  Fill(c, box, [&](float x, float y) { return SdRing({x, y}, kBadge, kBadgeR - 3.f, 6.f); },
       [](float, float y) { return Mix(Rgb(200, 255, 235), Rgb(60, 190, 170), Clamp01((y - 40.f) / 500.f)); });

  // The word, across the foot of the badge.
  const float em = 236.f, base = 752.f, tracking = 6.f;
  float w = face.LineWidth("KELP", em, 1.f, tracking);
  float x0 = (kS - w) * 0.5f;
  Mask fill(kS, kS), edge(kS, kS), halo(kS, kS);
  face.Line(fill, "KELP", em, x0, base, 1.f, tracking, 0.f);
  face.Line(edge, "KELP", em, x0, base, 1.f, tracking, 14.f);
  face.Line(halo, "KELP", em, x0, base, 1.f, tracking, 22.f);
  FillMask(c, Shifted(Blur(halo, 8), 8, 14), 0, 0, [](float, float) { return Col{0, 0, 0.05f, 1}; }, 0.5f);
  FillMask(c, halo, 0, 0, [](float, float) { return Rgb(200, 255, 235); });
  FillMask(c, edge, 0, 0, [](float, float) { return Rgb(6, 24, 44); });
  const float cap = em * face.CapRatio();
  FillMask(c, fill, 0, 0, [&](float, float y) {
    float t = Clamp01((y - (base - cap)) / cap);
    return t < 0.5f ? Mix(Rgb(255, 255, 250), Rgb(150, 240, 170), t * 2.f)
                    : Mix(Rgb(150, 240, 170), Rgb(40, 170, 110), (t - 0.5f) * 2.f);
  });
  return c;
}

}  // namespace art
