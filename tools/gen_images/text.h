// Outline-font rendering into coverage masks.
#pragma once

#include <string>

#include "raster.h"

namespace art {

struct GlyphBox {
  float x0, x1, y0, y1;  // ink bounds in pixels from the pen, y up
  float advance;
};

class Face {
 public:
  Face();
  ~Face();
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;

  bool Open(const std::string& path);
  // Height of capital H in pixels for an em of one pixel.
  float CapRatio() const { return capRatio_; }

  // Ink box of one character at em size emPx, before any squeeze.
  bool Box(char c, float emPx, GlyphBox& out);
  // One character with its pen at penX and its baseline at row `baseline`
  // (rows grow downwards), squeezed horizontally by xscale about the pen.
  // grow > 0 thickens it by that many pixels all round.
  void Glyph(Mask& m, char c, float emPx, float penX, float baseline, float xscale = 1.f,
             float grow = 0.f);
  // A line of text: the pen starts at x; tracking adds space between letters.
  void Line(Mask& m, const char* s, float emPx, float x, float baseline, float xscale = 1.f,
            float tracking = 0.f, float grow = 0.f);
  float LineWidth(const char* s, float emPx, float xscale = 1.f, float tracking = 0.f);

 private:
  bool Load(char c, float emPx);
  void* lib_ = nullptr;
  void* face_ = nullptr;
  void* stroker_ = nullptr;
  float capRatio_ = 0.73f;
};

}  // namespace art
