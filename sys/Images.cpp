// The image table: PNG loading into padded sprite-sheet textures, the blur
// plane, pixel buffers drawn on the CPU, screenshots and the screen grab.
#include <GLFW/glfw3.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <string>

#include "KELPSys.h"

namespace kelp {

std::vector<unsigned char> Image[IMAGE_SLOTS];
std::vector<unsigned char> ImageBlur[IMAGE_SLOTS];
int32_t imageFrames[IMAGE_SLOTS];
int32_t iFramesW[IMAGE_SLOTS];
float iFramesWz[IMAGE_SLOTS];
int32_t iSize[IMAGE_SLOTS];
int32_t imageFrameSize[IMAGE_SLOTS];
float imageUnit[IMAGE_SLOTS];
uint32_t imageVersion[IMAGE_SLOTS];
int32_t imageMissingLogged[IMAGE_SLOTS];

void ImageChanged(int slot) {
    if (slot >= 0 && slot < IMAGE_SLOTS) imageVersion[slot]++;
}

// Glyph advances of the bitmap font, indexed by character code - 32.
int32_t fontw[132] = {
    //  sp  !   "   #   $   %   &   '   (   )   *   +   ,   -   .   /
    15, 5,  12, 19, 15, 22, 15, 5,  10, 10, 15, 15, 5,  15, 5,  15,
    //  0   1   2   3   4   5   6   7   8   9   :   ;   <   =   >   ?
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 5,  5,  15, 15, 15, 15,
    //  @   A   B   C   D   E   F   G   H   I   J   K   L   M   N   O
    25, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 22, 15, 15,
    //  P   Q   R   S   T   U   V   W   X   Y   Z   [   \   ]   ^   _
    15, 15, 15, 15, 15, 15, 16, 22, 15, 15, 15, 10, 15, 10, 12, 16,
    //  `   a   b   c   d   e   f   g   h   i   j   k   l   m   n   o
    5,  15, 15, 15, 15, 15, 15, 15, 15, 5,  10, 15, 5,  25, 15, 15,
    //  p   q   r   s   t   u   v   w   x   y   z   {   |   }   ~   127
    15, 15, 15, 15, 15, 15, 15, 22, 15, 15, 15, 11, 5,  12, 25, 0,
    // 96..131 stay 0.
};

namespace {

// Sprite frames sit in cells with this transparent margin on every side, so
// linear filtering never pulls in a neighbouring frame.
const int CELL_MARGIN = 4;

// Largest decoded image side and frame size we accept.
const unsigned MAX_IMAGE_EDGE = 8192;

// The memory budget of one image: at most 4096 x 4096 decoded pixels, and
// texture planes of at most 4096 x 4096 texels (64 MiB each; a slot has two,
// the image and its blurred copy). Nor may a plane be larger than the GL
// implementation takes.
const uint64_t PIXEL_BUDGET = 4096u * 4096u;
const unsigned PLANE_EDGE_BUDGET = 4096;

unsigned PlaneEdgeLimit() {
    if (MaxTextureEdge > 0 && unsigned(MaxTextureEdge) < PLANE_EDGE_BUDGET) return unsigned(MaxTextureEdge);
    return PLANE_EDGE_BUDGET;
}

// The edge of the square plane that a sheet whose cells span d texels in a
// row is packed into.
unsigned SheetEdge(unsigned d) {
    if (d <= 64) return 64;
    if (d > 2048) return d;
    unsigned s = 128;
    while (s < d) s *= 2;
    return s;
}

// The grab texture never grows beyond this; larger framebuffers are cut.
const int MAX_GRAB_EDGE = 4096;

bool IsKeyColour(const unsigned char* p) {
    bool magenta = p[0] >= 251 && p[1] <= 4 && p[2] >= 251;
    bool cyan = p[0] <= 4 && p[1] >= 251 && p[2] >= 251;
    return magenta || cyan;
}

// Soft copy of the rectangle (x0, y0, w, h) of an edge x edge RGBA plane,
// written into the same rectangle of dst. Only texels inside the rectangle
// are read, so neighbouring sprite cells never bleed into each other. The
// colour is averaged weighted by alpha, so transparent texels do not darken
// the edges; where nothing is left, the source colour (the fringe) stays.
// A separable 1-4-6-4-1 kernel keeps a ring of five horizontally blurred
// rows; transparent texels are skipped, as most of a sprite cell is empty.
void BlurRegion(const unsigned char* src, unsigned char* dst, int edge, int x0, int y0, int w, int h) {
    static const int32_t K[5] = {1, 4, 6, 4, 1};
    if (w <= 0 || h <= 0) return;
    std::vector<int32_t> ring((size_t)5 * w * 4);
    bool rowUsed[5] = {false, false, false, false, false};
    auto hrow = [&](int y) {
        int32_t* out = &ring[(size_t)(y % 5) * w * 4];
        memset(out, 0, sizeof(int32_t) * 4 * (size_t)w);
        bool used = false;
        const unsigned char* row = src + ((size_t)(y0 + y) * edge + x0) * 4;
        for (int x = 0; x < w; x++) {
            const unsigned char* p = row + (size_t)x * 4;
            if (p[3] == 0) continue;
            used = true;
            const int32_t a = p[3];
            const int32_t pr = p[0] * a, pg = p[1] * a, pb = p[2] * a;
            for (int k = -2; k <= 2; k++) {
                int xx = x + k;
                if (xx < 0 || xx >= w) continue;
                int32_t* o = out + (size_t)xx * 4;
                const int32_t kw = K[k + 2];
                o[0] += kw * pr;
                o[1] += kw * pg;
                o[2] += kw * pb;
                o[3] += kw * a;
            }
        }
        rowUsed[y % 5] = used;
    };
    for (int y = 0; y < 2 && y < h; y++) hrow(y);
    for (int y = 0; y < h; y++) {
        if (y + 2 < h) hrow(y + 2);
        unsigned char* out = dst + ((size_t)(y0 + y) * edge + x0) * 4;
        const unsigned char* in = src + ((size_t)(y0 + y) * edge + x0) * 4;
        const int32_t* rows[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
        bool any = false;
        for (int k = -2; k <= 2; k++) {
            int yy = y + k;
            if (yy < 0 || yy >= h || !rowUsed[yy % 5]) continue;
            rows[k + 2] = &ring[(size_t)(yy % 5) * w * 4];
            any = true;
        }
        for (int x = 0; x < w; x++) {
            unsigned char* o = out + (size_t)x * 4;
            // Sums stay below 256 * 255 * 255, well inside 32 bits.
            int32_t acc[4] = {0, 0, 0, 0};
            if (any) {
                for (int k = 0; k < 5; k++) {
                    if (!rows[k]) continue;
                    const int32_t* r = rows[k] + (size_t)x * 4;
                    acc[0] += K[k] * r[0];
                    acc[1] += K[k] * r[1];
                    acc[2] += K[k] * r[2];
                    acc[3] += K[k] * r[3];
                }
            }
            if (acc[3] > 0) {
                // One division a texel instead of three. The product with the
                // reciprocal is within 1e-12 of the true quotient (below 256),
                // whose fraction is 0 or at least 1 / acc[3] > 1e-5 short of
                // the next integer: nudged up by 1e-7, it truncates exactly
                // as the integer division does.
                const double inv = 1.0 / acc[3];
                for (int c = 0; c < 3; c++) {
                    int32_t v = (int32_t)((acc[c] + acc[3] / 2) * inv + 1e-7);
                    o[c] = (unsigned char)(v > 255 ? 255 : v);
                }
                o[3] = (unsigned char)((acc[3] + 128) / 256);
            } else {
                memcpy(o, in + (size_t)x * 4, 3);
                o[3] = 0;
            }
        }
    }
}

// Every transparent texel takes the mean colour of its opaque neighbours, so
// linear filtering at a sprite's edge blends towards the sprite's own colour
// instead of the key colour or black. Covers texels x0..x1, y0..y1 of the
// plane, never its outermost ring.
void FringePass(std::vector<unsigned char>& plane, int s, int x0, int y0, int x1, int y1) {
    if (x0 < 1) x0 = 1;
    if (y0 < 1) y0 = 1;
    if (x1 > s - 2) x1 = s - 2;
    if (y1 > s - 2) y1 = s - 2;
    for (int y = y0; y <= y1; y++) {
        for (int x = x0; x <= x1; x++) {
            unsigned char* t = &plane[((size_t)y * s + x) * 4];
            if (t[3] != 0) continue;
            int sum[3] = {0, 0, 0}, k = 0;
            for (int dy = -1; dy <= 1; dy++) {
                for (int dx = -1; dx <= 1; dx++) {
                    const unsigned char* n = &plane[((size_t)(y + dy) * s + (x + dx)) * 4];
                    if (n[3] == 0) continue;
                    sum[0] += n[0];
                    sum[1] += n[1];
                    sum[2] += n[2];
                    k++;
                }
            }
            for (int c = 0; c < 3; c++) t[c] = (unsigned char)(k > 0 ? sum[c] / k : 0);
        }
    }
}

unsigned char ColourByte(float v) {
    if (!(v > 0)) return 0;   // also NaN
    if (v > 255) return 255;
    return (unsigned char)v;
}

int ClampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// The loader's log lines are formatted here rather than in the shared
// temporary strings, as preparing may run on another thread.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// A buffer operation may only touch a slot whose plane really holds
// iSize x iSize texels: the screenshot reuses slot 100's plane at window size.
bool BufferReady(int slot) {
    if (slot < 0 || slot >= IMAGE_SLOTS) return false;
    if (iSize[slot] <= 0) return false;
    return Image[slot].size() >= (size_t)iSize[slot] * iSize[slot] * 4;
}

void PutTexel(int slot, int x, int y, const unsigned char* rgba) {
    memcpy(&Image[slot][((size_t)y * iSize[slot] + x) * 4], rgba, 4);
}

// The old message stands alone, without a line break, as it always has;
// the slot and the range follow on a numbered line of their own, once per
// slot, since a game may repeat the load.
void ImageSlotOutOfBounds(int slot) {
    printf("Image number out of bounds");
    if (KELPSys::FirstReport("image slot", slot)) {
        printf("\n");
        KELPSys::Debuglog(Format("    Image slot %i is outside 0..99: nothing is loaded", slot).c_str());
    }
    fflush(stdout);
}

}  // namespace

std::atomic<int32_t> MaxTextureEdge{0};
int32_t ReservedEdge[IMAGE_SLOTS];
uint32_t ReservedAt[IMAGE_SLOTS];

void KELPSys::ReserveTexture(int slot, int edge) {
    if (slot < 0 || slot > 99) return;
    ReservedEdge[slot] = edge > 0 ? edge : 0;   // 0 or less: no storage promised
    ReservedAt[slot] = imageVersion[slot];
}

void KELPSys::ResetImageTable() {
    ForgetLogged("image slot");
    ForgetLogged("buffer");
    for (int i = 0; i < IMAGE_SLOTS; i++) {
        imageFrames[i] = -1;
        iFramesW[i] = 0;
        iFramesWz[i] = 0;
        iSize[i] = 0;
        imageFrameSize[i] = 0;
        imageUnit[i] = 0;
        imageMissingLogged[i] = 0;
    }
}

void KELPSys::GetPNG(int slot, const char* path, unsigned size) {
    if (slot < 0 || slot > 99) {
        ImageSlotOutOfBounds(slot);
        return;
    }
    imageFrames[slot] = -1;
    PreparedImage img = PrepareImage(path, size);
    CommitImage(slot, img);
}

void KELPSys::CommitImage(int slot, PreparedImage& img) {
    if (slot < 0 || slot > 99) {
        ImageSlotOutOfBounds(slot);
        return;
    }
    for (const std::string& line : img.log) Debuglog(line.c_str());
    imageFrames[slot] = -1;
    // A failed load leaves the slot empty and its planes as they were; the
    // storage promised for what it would have brought is not wanted.
    if (img.frames < 0) {
        ReserveTexture(slot, 0);
        return;
    }
    Image[slot].swap(img.plane);
    ImageBlur[slot].swap(img.blur);
    iFramesW[slot] = img.framesW;
    iFramesWz[slot] = img.framesWz;
    iSize[slot] = img.edge;
    imageFrameSize[slot] = img.frameSize;
    imageUnit[slot] = (float)img.unitEdge / virtualW;
    imageFrames[slot] = img.frames;
    ImageChanged(slot);
}

unsigned PlannedPlaneEdge(const char* path, unsigned size) {
    if (!path || size == 0 || size > MAX_IMAGE_EDGE) return 0;
    // The header alone: its size is in the first chunk.
    std::vector<unsigned char> head(64);
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    head.resize(fread(head.data(), 1, head.size(), f));
    fclose(f);
    unsigned width = 0, height = 0;
    // What the load will refuse gets no storage either.
    if (PngInspect(head, width, height) || width > MAX_IMAGE_EDGE || height > MAX_IMAGE_EDGE ||
        (uint64_t)width * height > PIXEL_BUDGET)
        return 0;
    const unsigned edge = width <= size ? size : SheetEdge(width / size * (size + 2 * CELL_MARGIN));
    return edge <= PlaneEdgeLimit() ? edge : 0;
}

PreparedImage PrepareImage(const char* path, unsigned size) {
    PreparedImage out;
    if (!path) path = "";
    double t0 = Seconds();

    // A frame size of 0 would divide by zero below, and a negative one
    // arrives here as a huge unsigned value.
    if (size == 0 || size > MAX_IMAGE_EDGE) {
        out.log.push_back(Format("    Frame size %i is not usable", (int)size));
        out.log.push_back(std::string("    Not loaded: ") + path);
        return out;
    }

    // The header is checked before decoding so that a file claiming huge
    // dimensions is refused before anything is allocated for its pixels.
    std::vector<unsigned char> file;
    std::vector<unsigned char> px;
    unsigned width = 0, height = 0;
    unsigned err = PngLoadFile(file, path);
    if (!err) {
        err = PngInspect(file, width, height);
        if (!err && (width > MAX_IMAGE_EDGE || height > MAX_IMAGE_EDGE)) {
            out.log.push_back("OMGERRORZ");
            out.log.push_back(Format("    Image of %ux%u is larger than %u", width, height, MAX_IMAGE_EDGE));
            out.log.push_back(std::string("    Not loaded: ") + path);
            return out;
        }
        if (!err && (uint64_t)width * height > PIXEL_BUDGET) {
            out.log.push_back("OMGERRORZ");
            out.log.push_back(Format("    Image of %ux%u is over the budget of %llu pixels", width, height,
                                     (unsigned long long)PIXEL_BUDGET));
            out.log.push_back(std::string("    Not loaded: ") + path);
            return out;
        }
        // A single image's texture is the frame size, whatever the file holds.
        if (!err && width <= size && size > PlaneEdgeLimit()) {
            out.log.push_back(Format("    Image of %ux%u needs a %u texture; the limit is %u", size, size, size,
                                     PlaneEdgeLimit()));
            out.log.push_back(std::string("    Not loaded: ") + path);
            return out;
        }
    }
    if (!err) err = PngDecode(px, width, height, file);
    file.clear();
    file.shrink_to_fit();
    if (err) {
        out.log.push_back("OMGERRORZ");
        out.log.push_back(std::string("    ") + path + " : " + PngErrorText(err));
        return out;
    }
    double t1 = Seconds();
    out.decodeMs = (t1 - t0) * 1000;

    if (width <= size) {
        // Single image. A PNG smaller than the slot keeps its pixels at their
        // own positions; the rest of the texture is transparent.
        size_t bytes = (size_t)size * size * 4;
        out.plane.assign(bytes, 0);
        out.blur.assign(bytes, 0);
        unsigned rows = height < size ? height : size;
        for (unsigned y = 0; y < rows; y++) {
            for (unsigned x = 0; x < width; x++) {
                unsigned char* p = &px[((size_t)width * y + x) * 4];
                if (IsKeyColour(p)) memset(p, 0, 4);
                memcpy(&out.plane[((size_t)size * y + x) * 4], p, 4);
            }
        }
        px.clear();
        px.shrink_to_fit();
        double t2 = Seconds();
        BlurRegion(out.plane.data(), out.blur.data(), (int)size, 0, 0, (int)size, (int)size);
        out.log.push_back(Format("    Loaded %ix%i Image", (int)size, (int)size));
        out.framesW = (int32_t)size;
        out.framesWz = 1.0f;
        out.edge = (int32_t)size;
        out.frameSize = (int32_t)size;
        out.unitEdge = (int32_t)size;
        out.frames = 1;
        out.packMs = (t2 - t1) * 1000;
        out.blurMs = (Seconds() - t2) * 1000;
        return out;
    }

    // Sprite sheet: key colours become transparent; their colour is replaced
    // by the fringe pass once the frames are packed.
    for (size_t i = 0; i < (size_t)width * height; i++) {
        if (IsKeyColour(&px[i * 4])) px[i * 4 + 3] = 0;
    }
    const unsigned cell = size + 2 * CELL_MARGIN;
    const unsigned columns = width / size;
    const unsigned rows = height / size;
    const unsigned frames = columns * rows;
    const unsigned s = SheetEdge(columns * cell);
    if (s > PlaneEdgeLimit()) {
        out.log.push_back(Format("    Spritesheet of %u x %ux%u sprites needs a %u texture; the limit is %u", frames,
                                 size, size, s, PlaneEdgeLimit()));
        out.log.push_back(std::string("    Not loaded: ") + path);
        return out;
    }
    const unsigned perRow = s / cell;
    const unsigned cellRows = (frames + perRow - 1) / perRow;
    if ((uint64_t)cellRows * cell > s) {
        // Sheets much taller than wide would need more cell rows than the
        // square texture has.
        out.log.push_back(
            Format("    Spritesheet of %u x %ux%u sprites does not fit a %u texture", frames, size, size, s));
        out.log.push_back(std::string("    Not loaded: ") + path);
        return out;
    }
    out.log.push_back(Format("    Loaded Spritesheet of %i x %ix%i sprites", (int)frames, (int)size, (int)size));
    size_t bytes = (size_t)s * s * 4;
    out.plane.assign(bytes, 0);
    out.blur.assign(bytes, 0);
    out.framesW = (int32_t)perRow;
    out.framesWz = (float)cell / (float)s;
    out.edge = (int32_t)s;
    out.frameSize = (int32_t)size;
    out.unitEdge = (int32_t)cell;

    // Frames are packed row by row into the cells; a frame with no opaque
    // texel at all is noted, as the passes below have nothing to do there.
    std::vector<char> empty(frames, 1);
    unsigned penX = 0, penY = 0;
    for (unsigned r = 0; r < rows; r++) {
        for (unsigned c = 0; c < columns; c++) {
            const unsigned f = r * columns + c;
            for (unsigned y = 0; y < size; y++) {
                const unsigned char* from = &px[(((size_t)r * size + y) * width + (size_t)c * size) * 4];
                unsigned char* to = &out.plane[(((size_t)penY + CELL_MARGIN + y) * s + penX + CELL_MARGIN) * 4];
                memcpy(to, from, (size_t)size * 4);
                if (empty[f])
                    for (unsigned x = 0; x < size; x++)
                        if (from[x * 4 + 3]) {
                            empty[f] = 0;
                            break;
                        }
            }
            penX += cell;
            if (penX + cell > s) {
                penX = 0;
                penY += cell;
            }
        }
    }
    px.clear();
    px.shrink_to_fit();
    double t2 = Seconds();
    out.packMs = (t2 - t1) * 1000;

    // Only texels within one of an opaque one can take a fringe colour, and
    // opaque texels lie inside frames, so each frame and the ring around it
    // is all the pass has to look at. An empty frame's texels all end up 0.
    for (unsigned f = 0; f < frames; f++) {
        const int fx = (int)((f % perRow) * cell + CELL_MARGIN), fy = (int)((f / perRow) * cell + CELL_MARGIN);
        if (empty[f]) {
            for (unsigned y = 0; y < size; y++) memset(&out.plane[(((size_t)fy + y) * s + fx) * 4], 0, (size_t)size * 4);
            continue;
        }
        FringePass(out.plane, (int)s, fx - 1, fy - 1, fx + (int)size, fy + (int)size);
    }
    double t3 = Seconds();
    out.fringeMs = (t3 - t2) * 1000;
    // An empty cell is all zero, and so is its blurred copy.
    for (unsigned f = 0; f < frames; f++) {
        if (empty[f]) continue;
        BlurRegion(out.plane.data(), out.blur.data(), (int)s, (int)((f % perRow) * cell), (int)((f / perRow) * cell),
                   (int)cell, (int)cell);
    }
    out.blurMs = (Seconds() - t3) * 1000;
    out.frames = (int32_t)frames;
    return out;
}

// ---- Pixel buffers ----------------------------------------------------------

void KELPSys::Buffer_Create(int slot, int size) {
    if (slot < 0 || slot > 100) {
        DebuglogOnce("buffer", slot, "Buffer slot %i is outside 0..100: no buffer is made", slot);
        return;
    }
    if (size <= 0 || (unsigned)size > MAX_IMAGE_EDGE) {
        DebuglogOnce("buffer", slot, "Buffer size %i for slot %i is outside 1..%u: no buffer is made", size, slot,
                     MAX_IMAGE_EDGE);
        return;
    }
    size_t bytes = (size_t)size * size * 4;
    Image[slot].resize(bytes);
    // Buffers change under the game's hands, so their blur plane stays clear.
    ImageBlur[slot].assign(bytes, 0);
    imageFrames[slot] = 1;
    iFramesW[slot] = size;
    iFramesWz[slot] = 1.0f;
    iSize[slot] = size;
    imageFrameSize[slot] = size;
    imageUnit[slot] = (float)size / virtualW;
    Buffer_Fill(slot, 0, 0, 0, 0);
}

void KELPSys::Buffer_Fill(int slot, int r, int g, int b, int a) {
    if (!BufferReady(slot)) return;
    unsigned char rgba[4] = {(unsigned char)ClampByte(r), (unsigned char)ClampByte(g), (unsigned char)ClampByte(b),
                             (unsigned char)ClampByte(a)};
    size_t texels = (size_t)iSize[slot] * iSize[slot];
    unsigned char* p = Image[slot].data();
    for (size_t i = 0; i < texels; i++) memcpy(p + i * 4, rgba, 4);
    ImageChanged(slot);
}

void KELPSys::Buffer_Plot(int slot, float x, float y, float r, float g, float b, float a) {
    if (!BufferReady(slot)) return;
    float e = (float)iSize[slot];
    // Compared as floats: floor(x) lies in [0, e) exactly when x does, and
    // huge or non-finite values never reach an integer conversion.
    if (!(x >= 0 && x < e && y >= 0 && y < e)) return;
    unsigned char rgba[4] = {ColourByte(r), ColourByte(g), ColourByte(b), ColourByte(a)};
    PutTexel(slot, (int)x, (int)y, rgba);
    ImageChanged(slot);
}

void KELPSys::Buffer_Line(int slot, float x1, float y1, float x2, float y2, float r, float g, float b, float a) {
    if (!BufferReady(slot)) return;
    const int e = iSize[slot];
    const float fe = (float)e;
    unsigned char rgba[4] = {ColourByte(r), ColourByte(g), ColourByte(b), ColourByte(a)};
    ImageChanged(slot);

    // Column pass, then row pass: together they leave no gaps in steep or
    // shallow lines. A pass whose slope is infinite (start truncated below an
    // equal end) computes a coordinate outside the buffer and plots nothing.
    // Only the integers that can land inside the buffer are visited, so far
    // away endpoints cost nothing.
    for (int pass = 0; pass < 2; pass++) {
        float a1 = pass == 0 ? x1 : y1, b1 = pass == 0 ? y1 : x1;
        float a2 = pass == 0 ? x2 : y2, b2 = pass == 0 ? y2 : x2;
        if (a1 > a2) {
            std::swap(a1, a2);
            std::swap(b1, b2);
        }
        if (!std::isfinite(a1) || !std::isfinite(a2)) continue;
        // Truncation toward zero of a negative start only visits columns
        // outside the buffer, so the walk may begin at 0.
        int start = a1 < 0 ? 0 : (a1 >= fe ? e : (int)a1);
        for (int i = start; i < e && (float)i < a2; i++) {
            float v = (b2 - b1) / (a2 - a1) * ((float)i - a1) + b1;
            if (!(v >= 0 && v < fe)) continue;
            int u = (int)v;
            if (pass == 0) PutTexel(slot, i, u, rgba);
            else PutTexel(slot, u, i, rgba);
        }
    }
}

void KELPSys::Buffer_Tile(int dst, int src, float x, float y, int frame) {
    if (!BufferReady(dst) || !BufferReady(src)) return;
    if (frame < 0 || frame >= imageFrames[src]) return;
    const int e = imageFrameSize[src];
    const int n = iFramesW[src];
    if (e <= 0 || n <= 0) return;
    const int cell = e + 2 * CELL_MARGIN;
    const int sx0 = (frame % n) * cell + CELL_MARGIN;
    const int sy0 = (frame / n) * cell + CELL_MARGIN;
    const int de = iSize[dst], se = iSize[src];
    const float fde = (float)de;
    ImageChanged(dst);
    for (int i = 0; i < e; i++) {
        // Truncation toward zero, so -1 < i + x < 0 still lands in column 0.
        float fx = (float)i + x;
        if (!(fx > -1 && fx < fde)) continue;
        int dx = (int)fx;
        int sx = sx0 + i;
        if (sx < 0 || sx >= se) continue;
        for (int j = 0; j < e; j++) {
            float fy = (float)j + y;
            if (!(fy > -1 && fy < fde)) continue;
            int dy = (int)fy;
            int sy = sy0 + j;
            if (sy < 0 || sy >= se) continue;
            const unsigned char* sp = &Image[src][((size_t)sy * se + sx) * 4];
            if (sp[3] == 0) continue;
            PutTexel(dst, dx, dy, sp);
        }
    }
}

// ---- Screenshots and the screen grab ---------------------------------------

void KELPSys::Screenshot() {
    const int w = fbWidth, h = fbHeight;
    if (w <= 0 || h <= 0) return;
    size_t bytes = (size_t)w * h * 4;
    Image[100].resize(bytes);
    Image[101].resize(bytes);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, Image[101].data());
    // GL rows run bottom-up; the PNG is stored top row first.
    for (int y = 0; y < h; y++) {
        const unsigned char* from = &Image[101][(size_t)(h - 1 - y) * w * 4];
        unsigned char* to = &Image[100][(size_t)y * w * 4];
        for (int x = 0; x < w; x++) {
            to[x * 4 + 0] = from[x * 4 + 0];
            to[x * 4 + 1] = from[x * 4 + 1];
            to[x * 4 + 2] = from[x * 4 + 2];
            to[x * 4 + 3] = 255;
        }
    }
    ImageChanged(100);
    ImageChanged(101);
    SavePNG(ScreenshotName, 100, (unsigned)w, (unsigned)h);
}

void KELPSys::SavePNG(const char* name, int slot, unsigned width, unsigned height) {
    if (!name) name = "";
    Debuglog((std::string(fstrSys("Saving Image - %ix%i  ~ ", (int)width, (int)height)) + name).c_str());
    // The codec checks that the plane holds width x height pixels; a slot
    // outside the table offers an empty plane and fails that check.
    static const std::vector<unsigned char> none;
    const std::vector<unsigned char>& plane = (slot >= 0 && slot < IMAGE_SLOTS) ? Image[slot] : none;
    unsigned err = PngSave(name, plane, width, height);
    if (err) Debuglog(fstrSys("The image save didn't work.  All the images are unsaved!! %i", (int)err));
}

void KELPSys::GrabBuffer() {
    const int w = fbWidth, h = fbHeight;
    if (w <= 0 || h <= 0) return;
    const int m = w > h ? w : h;
    int c = 64;
    while (c < m && c < MAX_GRAB_EDGE) c *= 2;
    size_t planeBytes = (size_t)c * c * 4;
    imageFrames[102] = 1;
    Image[102].resize(planeBytes);
    // The renderer uploads iSize x iSize texels from whichever plane a
    // command names, so the blur plane must be as large as the pixel plane.
    if (ImageBlur[102].size() != planeBytes) ImageBlur[102].assign(planeBytes, 0);
    iFramesW[102] = c;
    iFramesWz[102] = 1.0f;
    iSize[102] = c;
    imageUnit[102] = (float)c / (float)w;
    Image[101].resize((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, Image[101].data());
    // Centred and upright; a framebuffer larger than the texture loses its
    // outer rows and columns.
    const int ox = c / 2 - w / 2, oy = c / 2 - h / 2;
    for (int i = 0; i < h; i++) {
        int ty = oy + i;
        if (ty < 0 || ty >= c) continue;
        const unsigned char* from = &Image[101][(size_t)(h - 1 - i) * w * 4];
        for (int j = 0; j < w; j++) {
            int tx = ox + j;
            if (tx < 0 || tx >= c) continue;
            unsigned char* to = &Image[102][((size_t)ty * c + tx) * 4];
            to[0] = from[j * 4 + 0];
            to[1] = from[j * 4 + 1];
            to[2] = from[j * 4 + 2];
            to[3] = 255;
        }
    }
    ImageChanged(101);
    ImageChanged(102);
}

}  // namespace kelp
