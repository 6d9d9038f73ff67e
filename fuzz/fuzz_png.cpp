// PNG loading and sprite-sheet packing on arbitrary files: the first byte
// picks the frame size, the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/scratch.h"
#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

static std::string path;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    path = ScratchDir() + "/kelp-fuzz-png-" + std::to_string(getpid()) + ".png";
    atexit([] { unlink(path.c_str()); });
    for (int i = 0; i < IMAGE_SLOTS; i++) imageFrames[i] = -1;
    ASys.virtualW = 800;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const int sizes[] = {0, 1, 2, 7, 8, 16, 32, 33, 64, 100, 504, 1024, -5};
    int frame = sizes[data[0] % (sizeof sizes / sizeof sizes[0])];
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    ASys.GetPNG(3, path.c_str(), (unsigned)frame);
    // A loaded slot's bookkeeping must describe its plane.
    if (imageFrames[3] > 0) {
        size_t edge = (size_t)iSize[3];
        if (Image[3].size() < edge * edge * 4) abort();
    }
    return 0;
}
