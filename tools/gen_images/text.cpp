#include "text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_STROKER_H

#include <cstdio>

namespace art {

namespace {

FT_Library Lib(void* p) { return static_cast<FT_Library>(p); }
FT_Face Fc(void* p) { return static_cast<FT_Face>(p); }

// Coverage spans from the rasteriser, merged into the mask by maximum so
// that overlapping letters and outlines union cleanly.
void Spans(int y, int count, const FT_Span* spans, void* user) {
  Mask* m = static_cast<Mask*>(user);
  int row = m->h - 1 - y;
  if (row < 0 || row >= m->h) return;
  for (int i = 0; i < count; i++) {
    float v = spans[i].coverage / 255.f;
    for (int x = spans[i].x; x < spans[i].x + spans[i].len; x++) {
      if (x < 0 || x >= m->w) continue;
      float& d = m->Ref(x, row);
      d = std::max(d, v);
    }
  }
}

void RenderOutline(FT_Library lib, FT_Outline* o, Mask& m) {
  FT_Raster_Params p{};
  p.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  p.gray_spans = Spans;
  p.user = &m;
  p.clip_box.xMin = 0;
  p.clip_box.yMin = 0;
  p.clip_box.xMax = m.w;
  p.clip_box.yMax = m.h;
  FT_Outline_Render(lib, o, &p);
}

}  // namespace

Face::Face() {}

Face::~Face() {
  if (stroker_) FT_Stroker_Done(static_cast<FT_Stroker>(stroker_));
  if (face_) FT_Done_Face(Fc(face_));
  if (lib_) FT_Done_FreeType(Lib(lib_));
}

bool Face::Open(const std::string& path) {
  FT_Library lib;
  if (FT_Init_FreeType(&lib)) return false;
  lib_ = lib;
  FT_Face face;
  if (FT_New_Face(lib, path.c_str(), 0, &face)) {
    std::fprintf(stderr, "gen_images: cannot open font %s\n", path.c_str());
    return false;
  }
  face_ = face;
  FT_Stroker st;
  if (FT_Stroker_New(lib, &st)) return false;
  stroker_ = st;
  if (!FT_Load_Char(face, 'H', FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING)) {
    FT_BBox b;
    FT_Outline_Get_CBox(&face->glyph->outline, &b);
    capRatio_ = static_cast<float>(b.yMax - b.yMin) / face->units_per_EM;
  }
  return true;
}

bool Face::Load(char c, float emPx) {
  FT_Face f = Fc(face_);
  if (!f) return false;
  if (FT_Set_Char_Size(f, 0, static_cast<FT_F26Dot6>(emPx * 64.f + 0.5f), 72, 72)) return false;
  return FT_Load_Char(f, static_cast<unsigned char>(c), FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0 &&
         f->glyph->format == FT_GLYPH_FORMAT_OUTLINE;
}

bool Face::Box(char c, float emPx, GlyphBox& out) {
  if (!Load(c, emPx)) return false;
  FT_GlyphSlot g = Fc(face_)->glyph;
  FT_BBox b;
  FT_Outline_Get_CBox(&g->outline, &b);
  out = {b.xMin / 64.f, b.xMax / 64.f, b.yMin / 64.f, b.yMax / 64.f, g->advance.x / 64.f};
  if (g->outline.n_points == 0) out.x0 = out.x1 = out.y0 = out.y1 = 0.f;
  return true;
}

void Face::Glyph(Mask& m, char c, float emPx, float penX, float baseline, float xscale,
                 float grow) {
  if (!Load(c, emPx)) return;
  FT_GlyphSlot slot = Fc(face_)->glyph;
  FT_Matrix mat = {static_cast<FT_Fixed>(xscale * 65536.f + 0.5f), 0, 0, 0x10000};
  FT_Outline_Transform(&slot->outline, &mat);
  // Outline y points up from the baseline; the mask's rows run downwards
  // with the raster's row 0 at the bottom.
  FT_Pos dx = static_cast<FT_Pos>(std::lround(penX * 64.f));
  FT_Pos dy = static_cast<FT_Pos>(std::lround((m.h - baseline) * 64.f));
  if (grow > 0.f) {
    FT_Glyph g;
    if (FT_Get_Glyph(slot, &g) == 0) {
      FT_Stroker st = static_cast<FT_Stroker>(stroker_);
      FT_Stroker_Set(st, static_cast<FT_Fixed>(grow * 64.f), FT_STROKER_LINECAP_ROUND,
                     FT_STROKER_LINEJOIN_ROUND, 0);
      if (FT_Glyph_Stroke(&g, st, 1) == 0 && g->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Outline* o = &reinterpret_cast<FT_OutlineGlyph>(g)->outline;
        FT_Outline_Translate(o, dx, dy);
        RenderOutline(Lib(lib_), o, m);
      }
      FT_Done_Glyph(g);
    }
  }
  FT_Outline_Translate(&slot->outline, dx, dy);
  RenderOutline(Lib(lib_), &slot->outline, m);
}

float Face::LineWidth(const char* s, float emPx, float xscale, float tracking) {
  float x = 0.f;
  GlyphBox b{};
  FT_Face f = Fc(face_);
  FT_UInt prev = 0;
  for (const char* p = s; *p; p++) {
    if (!Box(*p, emPx, b)) continue;
    FT_UInt gi = FT_Get_Char_Index(f, static_cast<unsigned char>(*p));
    if (prev && FT_HAS_KERNING(f)) {
      FT_Vector k;
      if (FT_Get_Kerning(f, prev, gi, FT_KERNING_UNFITTED, &k) == 0) x += k.x / 64.f * xscale;
    }
    prev = gi;
    x += b.advance * xscale + (p[1] ? tracking : 0.f);
  }
  return x;
}

void Face::Line(Mask& m, const char* s, float emPx, float x, float baseline, float xscale,
                float tracking, float grow) {
  FT_Face f = Fc(face_);
  FT_UInt prev = 0;
  GlyphBox b{};
  for (const char* p = s; *p; p++) {
    if (!Box(*p, emPx, b)) continue;
    FT_UInt gi = FT_Get_Char_Index(f, static_cast<unsigned char>(*p));
    if (prev && FT_HAS_KERNING(f)) {
      FT_Vector k;
      if (FT_Get_Kerning(f, prev, gi, FT_KERNING_UNFITTED, &k) == 0) x += k.x / 64.f * xscale;
    }
    prev = gi;
    Glyph(m, *p, emPx, x, baseline, xscale, grow);
    x += b.advance * xscale + tracking;
  }
}

}  // namespace art
