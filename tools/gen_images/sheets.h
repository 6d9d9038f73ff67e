// One function per generated sheet.  Each returns the finished image.
#pragma once

#include "raster.h"
#include "text.h"

namespace art {

Canvas FontSheet(Face& face);       // entplain.png
Canvas FrameworkLogo(Face& face);   // KELPLogo.png
Canvas IconSheet();                 // icons.png
Canvas ParticleSheet();             // particles.png
Canvas OptionIcons();               // options.png
Canvas MenuSheet();                 // menu.png
Canvas TitleLogo(Face& face);       // logo.png
Canvas SpriteSheet();               // gfx.png

// Advance table of the bitmap font (codes 32..127), as the text layout
// uses it: a glyph's pen step is this width minus one.
int FontWidth(int code);

}  // namespace art
