// The browser build's PNG decoding (stb_image behind the loader's codec
// calls) on arbitrary files, built here for the desktop: the first byte is
// skipped, as fuzz_png's frame size, so both share their seeds' layout. The
// decoded image must be what the header said, and where the desktop's codec
// (LodePNG) decodes the file too, the very same pixels.
#include <cstdint>
#include <cstdlib>
#include <vector>

// The desktop's codec (sys/PNG.cpp, in the framework library), declared
// before the browser's is renamed.
#include "sys/KELPSys.h"

// The browser's codec under names of its own beside the desktop's.
#define PngLoadFile WebPngLoadFile
#define PngInspect WebPngInspect
#define PngDecode WebPngDecode
#define PngErrorText WebPngErrorText
#define PngSave WebPngSave
#include "sys/web/PNG.cpp"
#undef PngLoadFile
#undef PngInspect
#undef PngDecode
#undef PngErrorText
#undef PngSave

using namespace kelp;

void kelp::PageOfferDownload(const char*, const unsigned char*, int) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<unsigned char> file(data + 1, data + size);
    unsigned w = 0, h = 0;
    if (WebPngInspect(file, w, h) != 0) return 0;
    // As the loader does: nothing larger than 8192 a side is decoded.
    if (w > 8192 || h > 8192) return 0;
    std::vector<unsigned char> rgba;
    unsigned dw = 0, dh = 0;
    unsigned err = WebPngDecode(rgba, dw, dh, file);
    if (err) {
        if (!WebPngErrorText(err)[0]) abort();
        return 0;
    }
    if (dw != w || dh != h || rgba.size() != (size_t)w * h * 4) abort();
    std::vector<unsigned char> desktop;
    unsigned lw = 0, lh = 0;
    if (PngDecode(desktop, lw, lh, file) == 0 && (lw != w || lh != h || desktop != rgba)) abort();
    return 0;
}
