// The PNG codec of the browser build: stb_image and stb_image_write,
// compiled in from their Debian headers (no LodePNG source is packaged).
// A saved PNG (an F10 screenshot) is not written to the page's files: the
// page offers it as a download under the same name.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#include "../KELPSys.h"
#include "Page.h"

namespace kelp {

namespace {

enum { kCannotOpen = 1, kNotPng, kBadData, kWrongSize, kNoMemory, kChunkPastEnd };

// The decoder's reason for the last kBadData; loads are prepared on the
// page's one thread.
std::string lastReason;

uint32_t BigEndian(const unsigned char* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// The chunk list checked before stb_image sees it. A chunk that claims more
// bytes than the file holds is refused here: stb_image would first grow its
// buffer towards the claimed size (gigabytes, from a file of a hundred
// bytes). And stb_image copies an empty IDAT chunk from a null pointer
// (undefined, if harmless in practice); such a chunk carries no data, so a
// copy of the file without them is decoded instead (`trimmed`, left null
// when there is none). Nothing after IEND is looked at.
bool ChunksHoldTogether(const std::vector<unsigned char>& file, std::unique_ptr<std::vector<unsigned char>>& trimmed) {
    size_t at = 8, kept = 0;   // the bytes before `kept` are in trimmed (once there is one)
    // A chunk's length, type and check value take 12 bytes besides its data;
    // fewer than 8 left cannot even name a chunk, and the decoder refuses them.
    while (at + 8 <= file.size()) {
        uint32_t n = BigEndian(&file[at]);
        if (file.size() - at < 12 || n > file.size() - at - 12) return false;
        const unsigned char* type = &file[at + 4];
        if (n == 0 && memcmp(type, "IDAT", 4) == 0) {
            if (!trimmed) trimmed.reset(new std::vector<unsigned char>());
            trimmed->insert(trimmed->end(), file.begin() + (long)kept, file.begin() + (long)at);
            kept = at + 12;
        }
        at += 12 + (size_t)n;
        if (memcmp(type, "IEND", 4) == 0) break;
    }
    if (trimmed) trimmed->insert(trimmed->end(), file.begin() + (long)kept, file.end());
    return true;
}

}  // namespace

unsigned PngLoadFile(std::vector<unsigned char>& file, const char* path) {
    file.clear();
    FILE* f = fopen(path ? path : "", "rb");
    if (!f) return kCannotOpen;
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) file.insert(file.end(), chunk, chunk + n);
    fclose(f);
    return 0;
}

unsigned PngInspect(const std::vector<unsigned char>& file, unsigned& width, unsigned& height) {
    int w = 0, h = 0, channels = 0;
    if (file.size() > 0x7FFFFFFF || !stbi_info_from_memory(file.data(), (int)file.size(), &w, &h, &channels))
        return kNotPng;
    width = (unsigned)w;
    height = (unsigned)h;
    return 0;
}

unsigned PngDecode(std::vector<unsigned char>& rgba, unsigned& width, unsigned& height,
                   const std::vector<unsigned char>& file) {
    if (file.size() > 0x7FFFFFFF) return kNotPng;
    std::unique_ptr<std::vector<unsigned char>> trimmed;
    if (!ChunksHoldTogether(file, trimmed)) return kChunkPastEnd;
    const std::vector<unsigned char>& png = trimmed ? *trimmed : file;
    int w = 0, h = 0, channels = 0;
    unsigned char* px = stbi_load_from_memory(png.data(), (int)png.size(), &w, &h, &channels, 4);
    if (!px) {
        lastReason = stbi_failure_reason() ? stbi_failure_reason() : "";
        return kBadData;
    }
    rgba.assign(px, px + (size_t)w * h * 4);
    stbi_image_free(px);
    width = (unsigned)w;
    height = (unsigned)h;
    return 0;
}

const char* PngErrorText(unsigned err) {
    switch (err) {
        case kCannotOpen: return "failed to open file for reading";
        case kNotPng: return "not a PNG file, or its header is damaged";
        case kBadData: {
            static std::string text;
            text = "corrupt PNG data (" + lastReason + ")";
            return text.c_str();
        }
        case kWrongSize: return "the image holds fewer pixels than its size";
        case kNoMemory: return "out of memory";
        case kChunkPastEnd: return "a chunk runs past the end of the file";
        default: return "unknown error";
    }
}

unsigned PngSave(const char* path, const std::vector<unsigned char>& rgba, unsigned width, unsigned height) {
    if (width == 0 || height == 0 || rgba.size() < (size_t)width * height * 4) return kWrongSize;
    int n = 0;
    unsigned char* png = stbi_write_png_to_mem(rgba.data(), (int)width * 4, (int)width, (int)height, 4, &n);
    if (!png) return kNoMemory;
    // A held F10 saves on every frame; the desktop overwrites the file of
    // that second, so one download a name is what it keeps too.
    static std::string lastName;
    const char* slash = path ? strrchr(path, '/') : nullptr;
    std::string name = slash ? slash + 1 : (path ? path : "");
    if (name != lastName) {
        lastName = name;
        PageOfferDownload(name.c_str(), png, n);
    }
    STBIW_FREE(png);
    return 0;
}

}  // namespace kelp
