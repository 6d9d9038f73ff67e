// The PNG codec behind the image loader and the screenshots: LodePNG. A
// browser build has its own (sys/web/PNG.cpp).
#include <lodepng.h>

#include "KELPSys.h"

namespace kelp {

unsigned PngLoadFile(std::vector<unsigned char>& file, const char* path) {
    return lodepng::load_file(file, path ? path : "");
}

unsigned PngInspect(const std::vector<unsigned char>& file, unsigned& width, unsigned& height) {
    lodepng::State state;
    return lodepng_inspect(&width, &height, &state, file.data(), file.size());
}

unsigned PngDecode(std::vector<unsigned char>& rgba, unsigned& width, unsigned& height,
                   const std::vector<unsigned char>& file) {
    return lodepng::decode(rgba, width, height, file, LCT_RGBA, 8);
}

const char* PngErrorText(unsigned err) { return lodepng_error_text(err); }

unsigned PngSave(const char* path, const std::vector<unsigned char>& rgba, unsigned width, unsigned height) {
    // LodePNG checks that the plane holds width x height pixels.
    return lodepng::encode(std::string(path ? path : ""), rgba, width, height, LCT_RGBA, 8);
}

}  // namespace kelp
