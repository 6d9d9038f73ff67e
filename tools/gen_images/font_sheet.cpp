// The bitmap font: 96 white glyphs (codes 32..127), 32x32 each, 8 a row.
//
// The text layout centres every 32-pixel frame on the pen and starts a line
// one space advance (14 px) right of its x, so a glyph whose ink begins 14 px
// left of its frame centre starts exactly at the text's x, and each glyph's
// ink then ends just short of where the next one begins.  Glyphs are
// therefore anchored at a fixed left edge (x = 2) and squeezed or centred
// to fill their advance, which keeps mixed-width text evenly spaced
// ("Time" would overlap if each glyph were centred in its own frame).
#include <algorithm>
#include <cstring>

#include "sheets.h"

namespace art {

int FontWidth(int code) {
  if (code < 32 || code > 127) return 0;
  if (code == 127) return 0;
  if (code >= '0' && code <= '9') return 16;
  if (std::strchr("!',.:;il`|", code)) return 5;
  if (std::strchr("()[]j", code)) return 10;
  if (code == '{') return 11;
  if (std::strchr("\"^}", code)) return 12;
  if (std::strchr("V_", code)) return 16;
  if (code == '#') return 19;
  if (std::strchr("%MWw", code)) return 22;
  if (std::strchr("@m~", code)) return 25;
  return 15;
}

namespace {

constexpr int kCell = 32;
constexpr int kPerRow = 8;
constexpr float kCapHeight = 16.f;  // capitals span rows 8..24: centred on the pen
constexpr float kBaseline = 24.f;
constexpr float kLeft = 2.f;          // frame centre minus the 14 px start offset

}  // namespace

Canvas FontSheet(Face& face) {
  Canvas sheet(kCell * kPerRow, kCell * 12);
  float em = kCapHeight / face.CapRatio();
  for (int code = 33; code < 127; code++) {
    int n = code - 32;
    float advance = static_cast<float>(FontWidth(code) - 1);
    float box = advance - (advance >= 9.f ? 2.f : 1.f);  // ink width allowed
    GlyphBox b;
    if (!face.Box(static_cast<char>(code), em, b)) continue;
    float ink = b.x1 - b.x0;
    // Squeeze glyphs that are too wide; never stretch narrow ones.
    float xs = std::min(1.f, box / ink);
    // Narrow glyphs sit in the middle of their advance, monospace style.
    float left = kLeft + (box - ink * xs) * 0.5f;
    Mask m(kCell, kCell);
    face.Glyph(m, static_cast<char>(code), em, left - b.x0 * xs, kBaseline, xs);
    int ox = (n % kPerRow) * kCell, oy = (n / kPerRow) * kCell;
    for (int y = 0; y < kCell; y++)
      for (int x = 0; x < kCell; x++) sheet.Over(ox + x, oy + y, Col{1, 1, 1, 1}, m.Get(x, y));
  }
  return sheet;
}

}  // namespace art
