// The scene both sprite programs draw: a sheet of eight 32-pixel frames and
// N sprites bouncing round an 800 x 600 canvas. Shared so that the framework
// and the plain-GL reference draw exactly the same thing.
#pragma once

#include <time.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace sprites {

const int kFrames = 8, kFrame = 32, kCell = 40, kEdge = 512, kPerRow = kEdge / kCell;
const int kMax = 50000;

// RGBA texels laid out as the image loader packs a sheet: 40-texel cells,
// twelve a row, each frame inside a 4-texel transparent margin.
inline std::vector<unsigned char> MakeSheet() {
    std::vector<unsigned char> t((size_t)kEdge * kEdge * 4, 0);
    for (int f = 0; f < kFrames; f++) {
        int cx = (f % kPerRow) * kCell + 4, cy = (f / kPerRow) * kCell + 4;
        for (int y = 0; y < kFrame; y++)
            for (int x = 0; x < kFrame; x++) {
                float dx = x - 15.5f, dy = y - 15.5f;
                if (dx * dx + dy * dy > 16 * 16) continue;
                unsigned char* p = &t[((size_t)(cy + y) * kEdge + cx + x) * 4];
                p[0] = (unsigned char)(60 + 24 * f);
                p[1] = (unsigned char)(255 - 8 * x);
                p[2] = (unsigned char)(128 + 4 * y);
                p[3] = 255;
            }
    }
    return t;
}

struct Sprite {
    float x, y, vx, vy;
    int frame;
};

inline void Place(Sprite* s, int n) {
    uint32_t r = 12345;
    auto rnd = [&r](float lo, float hi) {
        r = r * 1103515245u + 12345u;
        return lo + (hi - lo) * ((r >> 8) & 0xFFFF) / 65535.0f;
    };
    for (int i = 0; i < n; i++)
        s[i] = {rnd(16, 784), rnd(16, 584), rnd(-3, 3), rnd(-3, 3), i % kFrames};
}

inline void Move(Sprite* s, int n) {
    for (int i = 0; i < n; i++) {
        Sprite& p = s[i];
        p.x += p.vx;
        p.y += p.vy;
        if (p.x < 16 || p.x > 784) p.vx = -p.vx;
        if (p.y < 16 || p.y > 584) p.vy = -p.vy;
    }
}

inline double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

inline int FramesFor(int n) { return n <= 1000 ? 120 : n <= 10000 ? 40 : 12; }

}  // namespace sprites
