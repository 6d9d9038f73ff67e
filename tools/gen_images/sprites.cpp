// Game sprites, 32x32 frames, 3x3 (three 40-pixel cells fit a 128 texture).
//   0 ship   1 coin      2 gem
//   3 enemy  4 star      5 heart
//   6 laser  7 asteroid  8 power-up
#include "sheets.h"

namespace art {

namespace {

constexpr int kF = 32;
const V2 kC{16.f, 16.f};

// Dark outline around a filled shape, the usual sprite treatment.
template <class S, class P>
void Outlined(Canvas& c, S sdf, P paint, Col line = Rgb(20, 20, 40)) {
  FillCol(c, c.All(), [&](float x, float y) { return sdf(x, y) - 1.2f; }, line);
  Fill(c, c.All(), sdf, paint);
}
auto Vertical(Col top, Col bottom, float y0, float y1) {
  return [=](float, float y) { return Mix(top, bottom, Clamp01((y - y0) / (y1 - y0))); };
}

Canvas Ship() {
  Canvas c(kF, kF);
  // Engine flame first, under the hull.
  Glow(c, c.All(), [](float x, float y) { return SdSeg({x, y}, {16.f, 25.f}, {16.f, 28.5f}, 1.5f); },
       Rgb(255, 170, 40, 0.9f), 3.f);
  FillCol(c, c.All(), [](float x, float y) { return SdSeg({x, y}, {16.f, 25.f}, {16.f, 27.5f}, 1.2f); },
          Rgb(255, 245, 200));
  std::vector<V2> wings = {{16.f, 9.f}, {28.f, 22.f}, {27.f, 25.f}, {16.f, 21.f}, {5.f, 25.f}, {4.f, 22.f}};
  std::vector<V2> hull = {{16.f, 2.f}, {20.f, 11.f}, {20.5f, 22.f}, {18.f, 25.f}, {14.f, 25.f},
                          {11.5f, 22.f}, {12.f, 11.f}};
  Outlined(c, [&](float x, float y) { return SdPoly(wings, {x, y}); },
           Vertical(Rgb(120, 170, 255), Rgb(40, 70, 170), 9.f, 25.f));
  Outlined(c, [&](float x, float y) { return SdPoly(hull, {x, y}); }, [](float x, float y) {
    Col base = Mix(Rgb(250, 250, 255), Rgb(160, 170, 200), Clamp01((y - 2.f) / 23.f));
    return x < 16.f ? base : Scale(base, 0.85f);
  });
  Fill(c, c.All(), [](float x, float y) { return (Len(V2{(x - 16.f) / 2.3f, (y - 13.f) / 4.f}) - 1.f) * 2.3f; },
       Vertical(Rgb(170, 240, 255), Rgb(30, 110, 200), 9.f, 17.f));
  return c;
}

Canvas Coin() {
  Canvas c(kF, kF);
  auto disc = [](float x, float y) { return SdCircle({x, y}, kC, 13.f); };
  Outlined(c, disc, Vertical(Rgb(255, 230, 110), Rgb(210, 130, 20), 3.f, 29.f), Rgb(90, 50, 0));
  FillCol(c, c.All(), [](float x, float y) { return SdRing({x, y}, kC, 10.f, 1.f); }, Rgb(190, 110, 10));
  std::vector<V2> star = RegularStar(kC, 5, 7.f, 3.f, 0.f);
  FillCol(c, c.All(), [&](float x, float y) { return SdPoly(star, {x - 0.7f, y - 0.7f}); }, Rgb(170, 95, 10));
  FillCol(c, c.All(), [&](float x, float y) { return SdPoly(star, {x, y}); }, Rgb(255, 245, 180));
  return c;
}

Canvas Gem() {
  Canvas c(kF, kF);
  std::vector<V2> outline = {{10.f, 6.f}, {22.f, 6.f}, {29.f, 13.f}, {16.f, 29.f}, {3.f, 13.f}};
  auto sdf = [&](float x, float y) { return SdPoly(outline, {x, y}); };
  Outlined(c, sdf, [](float x, float y) {
    // Facets: crown (above y 13) split in three, pavilion in two.
    if (y < 13.f) {
      if (x < 12.f) return Rgb(255, 150, 200);
      if (x > 20.f) return Rgb(210, 40, 120);
      return Rgb(255, 110, 170);
    }
    return x < 16.f ? Rgb(230, 50, 130) : Rgb(160, 20, 90);
  }, Rgb(60, 0, 30));
  FillCol(c, c.All(), [](float x, float y) { return SdSeg({x, y}, {9.f, 10.f}, {13.f, 8.f}, 1.f); },
          Rgb(255, 255, 255, 0.9f));
  return c;
}

Canvas Enemy() {
  Canvas c(kF, kF);
  // A flying saucer with a green pilot.
  Fill(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {16.f, 14.f}, 7.5f); },
       Vertical(Rgb(200, 255, 220, 0.9f), Rgb(60, 160, 120, 0.9f), 6.f, 16.f));
  FillCol(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {16.f, 14.f}, 4.f); }, Rgb(90, 220, 90));
  FillCol(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {14.5f, 13.f}, 1.1f); }, Rgb(10, 10, 10));
  FillCol(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {17.5f, 13.f}, 1.1f); }, Rgb(10, 10, 10));
  auto disc = [](float x, float y) { return (Len(V2{(x - 16.f) / 14.f, (y - 19.f) / 5.f}) - 1.f) * 5.f; };
  Outlined(c, disc, Vertical(Rgb(230, 120, 255), Rgb(110, 30, 160), 14.f, 24.f), Rgb(40, 0, 60));
  for (int i = 0; i < 5; i++) {
    float x0 = 6.f + i * 5.f;
    FillCol(c, c.All(), [&](float x, float y) { return SdCircle({x, y}, {x0, 20.f}, 1.3f); },
            i % 2 ? Rgb(255, 240, 120) : Rgb(255, 255, 255));
  }
  return c;
}

Canvas StarSprite() {
  Canvas c(kF, kF);
  std::vector<V2> star = RegularStar(kC, 5, 14.f, 6.5f, 0.f);
  auto sdf = [&](float x, float y) { return SdPoly(star, {x, y}) - 0.5f; };
  Glow(c, c.All(), sdf, Rgb(255, 240, 120, 0.6f), 3.f);
  Outlined(c, sdf, Vertical(Rgb(255, 250, 170), Rgb(255, 170, 0), 3.f, 28.f), Rgb(120, 60, 0));
  FillCol(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {13.5f, 15.f}, 1.2f); }, Rgb(60, 30, 0));
  FillCol(c, c.All(), [](float x, float y) { return SdCircle({x, y}, {18.5f, 15.f}, 1.2f); }, Rgb(60, 30, 0));
  return c;
}

Canvas HeartPickup() {
  Canvas c(kF, kF);
  std::vector<V2> heart = HeartPoly(kC, 13.f);
  Outlined(c, [&](float x, float y) { return SdPoly(heart, {x, y}); },
           Vertical(Rgb(255, 120, 130), Rgb(190, 10, 40), 4.f, 28.f), Rgb(70, 0, 10));
  Fill(c, c.All(), [](float x, float y) { return (Len(V2{(x - 10.5f) / 3.f, (y - 10.f) / 2.f}) - 1.f) * 2.f; },
       [](float, float) { return Col{1, 1, 1, 0.8f}; });
  return c;
}

Canvas Laser() {
  Canvas c(kF, kF);
  auto bolt = [](float x, float y) { return SdSeg({x, y}, {16.f, 5.f}, {16.f, 27.f}, 2.5f); };
  Glow(c, c.All(), bolt, Rgb(80, 220, 255, 0.8f), 5.f);
  FillCol(c, c.All(), bolt, Rgb(150, 240, 255));
  FillCol(c, c.All(), [](float x, float y) { return SdSeg({x, y}, {16.f, 6.f}, {16.f, 26.f}, 1.f); },
          Rgb(255, 255, 255));
  return c;
}

Canvas Asteroid() {
  Canvas c(kF, kF);
  auto rock = [](float x, float y) {
    V2 p = V2{x, y} - kC;
    float a = std::atan2(p.y, p.x);
    float r = 12.f + 1.6f * std::sin(a * 3.f + 0.5f) + 1.0f * std::sin(a * 5.f + 2.f);
    return Len(p) - r;
  };
  Outlined(c, rock, [](float x, float y) {
    float n = ValueNoise(x / 3.f, y / 3.f, 11, 5);
    float light = 1.f - Clamp01((x + y - 12.f) / 40.f) * 0.5f;
    return Scale(Rgb(150, 130, 115), (0.75f + 0.4f * n) * light);
  }, Rgb(30, 25, 20));
  const V2 craters[3] = {{11.f, 12.f}, {20.f, 19.f}, {18.f, 9.f}};
  const float rad[3] = {3.f, 3.5f, 2.f};
  for (int i = 0; i < 3; i++) {
    FillCol(c, c.All(), [&](float x, float y) { return SdCircle({x, y}, craters[i], rad[i]); },
            Rgb(80, 65, 55, 0.9f));
    FillCol(c, c.All(), [&](float x, float y) {
      return Cut(SdCircle({x, y}, craters[i], rad[i]), SdCircle({x, y}, craters[i] + V2{0.8f, 0.8f}, rad[i]));
    }, Rgb(60, 45, 35));
  }
  return c;
}

Canvas PowerUp() {
  Canvas c(kF, kF);
  auto orb = [](float x, float y) { return SdCircle({x, y}, kC, 12.f); };
  Glow(c, c.All(), orb, Rgb(120, 255, 140, 0.5f), 3.5f);
  Outlined(c, orb, [](float x, float y) {
    float d = Len(V2{x - 13.f, y - 12.f}) / 17.f;
    return Mix(Rgb(190, 255, 190), Rgb(20, 140, 50), Clamp01(d));
  }, Rgb(0, 60, 20));
  FillCol(c, c.All(), [](float x, float y) {
    V2 p{x, y};
    return Union(SdBox(p, kC, {6.5f, 2.f}, 0.5f), SdBox(p, kC, {2.f, 6.5f}, 0.5f));
  }, Rgb(255, 255, 255));
  return c;
}

}  // namespace

Canvas SpriteSheet() {
  Canvas sheet(kF * 3, kF * 3);
  Canvas frames[9] = {Ship(),  Coin(),       Gem(),         Enemy(),   StarSprite(),
                      HeartPickup(), Laser(), Asteroid(), PowerUp()};
  for (int i = 0; i < 9; i++) sheet.Blit(frames[i], (i % 3) * kF, (i / 3) * kF);
  return sheet;
}

}  // namespace art
