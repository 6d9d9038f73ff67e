// Options-screen icons: 32x32 frames, 5 across and 2 down (256 texture).
//   0 back arrow   1 effects (speaker)   2 music (notes)   3 screen (monitor)
//   4 keyboard     5 star                6 system (chip)   7 controller
//   8 thumbstick   9 life (heart)
// Icons are white so that the screens can tint them; a soft dark shadow
// keeps them readable on light row colours.  The heart stays red, as a
// life counter is expected to be.
#include "sheets.h"

namespace art {

namespace {

constexpr int kF = 32;

template <class S>
Canvas Icon(S sdf) {
  Canvas c(kF, kF);
  Glow(c, c.All(), [&](float x, float y) { return sdf(x - 0.8f, y - 1.2f); }, Col{0, 0, 0, 0.55f},
       2.f);
  Fill(c, c.All(), sdf, [](float, float y) {
    // A faint top-to-bottom shade gives the flat glyphs some body.
    return Mix(Col{1, 1, 1, 1}, Rgb(215, 225, 240), Clamp01((y - 6.f) / 22.f));
  });
  return c;
}

float BackArrow(V2 p) {
  std::vector<V2> head = {{4.f, 16.f}, {15.f, 5.5f}, {15.f, 26.5f}};
  float shaft = SdBox(p, {20.5f, 16.f}, {8.5f, 4.f}, 1.5f);
  return Union(SdPoly(head, p) - 1.f, shaft);
}

float Speaker(V2 p) {
  std::vector<V2> cone = {{4.f, 12.f}, {9.f, 12.f}, {16.f, 5.f}, {16.f, 27.f}, {9.f, 20.f},
                          {4.f, 20.f}};
  float body = SdPoly(cone, p) - 0.8f;
  // Two sound waves: ring segments to the right of the cone.
  float wedge = SdPoly({{14.f, 16.f}, {34.f, -4.f}, {34.f, 36.f}}, p);
  float w1 = Inter(SdRing(p, {14.f, 16.f}, 6.5f, 1.5f), wedge);
  float w2 = Inter(SdRing(p, {14.f, 16.f}, 12.f, 1.6f), wedge);
  return Union(body, Union(w1, w2));
}

float Notes(V2 p) {
  float h1 = Len(V2{(p.x - 9.5f) / 4.6f, (p.y - 24.5f) / 3.6f}) - 1.f;
  float h2 = Len(V2{(p.x - 23.5f) / 4.6f, (p.y - 21.5f) / 3.6f}) - 1.f;
  float heads = Union(h1 * 3.6f, h2 * 3.6f);
  float s1 = SdBox(p, {12.6f, 14.5f}, {1.3f, 10.f});
  float s2 = SdBox(p, {26.6f, 11.5f}, {1.3f, 10.f});
  std::vector<V2> beam = {{11.3f, 4.5f}, {27.9f, 1.5f}, {27.9f, 7.f}, {11.3f, 10.f}};
  return Union(heads, Union(Union(s1, s2), SdPoly(beam, p)));
}

float Monitor(V2 p) {
  float frame = SdBox(p, {16.f, 13.f}, {13.5f, 9.5f}, 2.f);
  float screen = SdBox(p, {16.f, 13.f}, {10.5f, 6.5f}, 0.5f);
  float neck = SdBox(p, {16.f, 24.5f}, {2.5f, 3.f});
  float foot = SdBox(p, {16.f, 27.5f}, {8.f, 1.5f}, 1.f);
  // A glint in the screen so it does not read as an empty frame.
  std::vector<V2> glint = {{8.f, 17.f}, {17.f, 8.f}, {20.f, 8.f}, {11.f, 17.f}};
  return Union(Union(Cut(frame, screen), SdPoly(glint, p)), Union(neck, foot));
}

float Keyboard(V2 p) {
  float body = SdBox(p, {16.f, 16.f}, {14.f, 9.f}, 2.f);
  float keys = 1e9f;
  for (int r = 0; r < 2; r++)
    for (int k = 0; k < 5; k++)
      keys = Union(keys, SdBox(p, {6.f + k * 5.f, 11.5f + r * 4.5f}, {1.5f, 1.3f}));
  keys = Union(keys, SdBox(p, {16.f, 20.5f}, {7.f, 1.3f}));
  return Cut(body, keys);
}

float Star(V2 p) { return SdPoly(RegularStar({16.f, 17.f}, 5, 14.f, 6.f, 0.f), p) - 0.8f; }

float Chip(V2 p) {
  float body = SdBox(p, {16.f, 16.f}, {9.f, 9.f}, 1.5f);
  float pins = 1e9f;
  for (int i = 0; i < 3; i++) {
    float o = 10.f + i * 6.f;
    pins = Union(pins, SdBox(p, {o, 4.f}, {1.3f, 3.f}));
    pins = Union(pins, SdBox(p, {o, 28.f}, {1.3f, 3.f}));
    pins = Union(pins, SdBox(p, {4.f, o}, {3.f, 1.3f}));
    pins = Union(pins, SdBox(p, {28.f, o}, {3.f, 1.3f}));
  }
  // A small cog cut into the die.
  std::vector<V2> cog = GearPoly({16.f, 16.f}, 6, 3.6f, 5.8f, 0.f);
  float hole = Cut(SdPoly(cog, p), SdCircle(p, {16.f, 16.f}, 1.6f));
  return Union(Cut(body, hole), pins);
}

float Gamepad(V2 p) {
  // Body with two grips hanging below.
  float body = SdBox(p, {16.f, 14.f}, {13.5f, 7.f}, 5.f);
  float gl = SdSeg(p, {7.5f, 15.f}, {5.f, 24.f}, 4.5f);
  float gr = SdSeg(p, {24.5f, 15.f}, {27.f, 24.f}, 4.5f);
  float pad = Union(body, Union(gl, gr));
  float dpad = Union(SdBox(p, {9.f, 14.f}, {4.f, 1.3f}), SdBox(p, {9.f, 14.f}, {1.3f, 4.f}));
  float buttons = Union(SdCircle(p, {23.f, 11.5f}, 1.8f), SdCircle(p, {23.f, 16.5f}, 1.8f));
  buttons = Union(buttons, Union(SdCircle(p, {20.5f, 14.f}, 1.8f), SdCircle(p, {25.5f, 14.f}, 1.8f)));
  return Cut(Cut(pad, dpad), buttons);
}

float Thumbstick(V2 p) {
  float base = Len(V2{(p.x - 16.f) / 13.f, (p.y - 25.f) / 5.f}) - 1.f;
  float baseTop = Len(V2{(p.x - 16.f) / 9.5f, (p.y - 24.f) / 3.f}) - 1.f;
  float shaft = SdSeg(p, {16.f, 23.f}, {16.f, 11.f}, 2.2f);
  float knob = Len(V2{(p.x - 16.f) / 9.f, (p.y - 9.5f) / 6.f}) - 1.f;
  // The base ring is drawn as an outline around its raised top.
  float ring = Cut(base * 5.f, baseTop * 3.f + 0.8f);
  return Union(Union(ring, shaft), knob * 6.f);
}

Canvas Heart() {
  Canvas c(kF, kF);
  std::vector<V2> heart = HeartPoly({16.f, 16.5f}, 14.f);
  Glow(c, c.All(), [&](float x, float y) { return SdPoly(heart, {x - 0.8f, y - 1.2f}); },
       Col{0, 0, 0, 0.55f}, 2.f);
  Fill(c, c.All(), [&](float x, float y) { return SdPoly(heart, {x, y}); },
       [](float, float y) { return Mix(Rgb(255, 110, 120), Rgb(200, 10, 40), Clamp01((y - 4.f) / 24.f)); });
  // Glossy highlight on the upper left lobe.
  Fill(c, c.All(),
       [](float x, float y) { return (Len(V2{(x - 10.f) / 3.6f, (y - 10.f) / 2.4f}) - 1.f) * 2.4f; },
       [](float, float) { return Col{1, 1, 1, 0.75f}; }, 1.5f);
  FillCol(c, c.All(), [&](float x, float y) {
    float d = SdPoly(heart, {x, y});
    return Inter(d, -d - 1.2f);
  }, Col{0.35f, 0.f, 0.05f, 0.6f});
  return c;
}

}  // namespace

Canvas OptionIcons() {
  Canvas sheet(kF * 5, kF * 2);
  auto at = [](float (*f)(V2)) { return Icon([f](float x, float y) { return f({x, y}); }); };
  Canvas frames[10] = {at(BackArrow), at(Speaker), at(Notes),      at(Monitor),    at(Keyboard),
                       at(Star),      at(Chip),    at(Gamepad),    at(Thumbstick), Heart()};
  for (int i = 0; i < 10; i++) sheet.Blit(frames[i], (i % 5) * kF, (i / 5) * kF);
  return sheet;
}

}  // namespace art
