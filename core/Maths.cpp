// Trigonometry in degrees, small helpers, the two random generators and the
// 2D collision tests.
#include <cmath>
#include <cstdlib>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

namespace kelp {

int32_t jRand_Seed = 0, jRand_Count = 0, jRand_Bit = 0, jRand_Plus = 0, jRand_Out = 0, jRand_tSeed = 0;

// The generator table: 256 printable bytes (48..112) and a terminator.
const char jRand_Txt[257] =
    "\x34\x67\x4E\x35\x47\x4E\x47\x55\x48\x4F\x3C\x30\x64\x56\x57\x4E"
    "\x5E\x6C\x5E\x38\x33\x6B\x34\x6B\x3A\x32\x44\x65\x51\x53\x56\x6D"
    "\x35\x4A\x31\x3D\x30\x48\x58\x41\x54\x69\x5B\x58\x4B\x60\x52\x59"
    "\x4C\x51\x6F\x46\x62\x5E\x4F\x6A\x6F\x6F\x4D\x37\x49\x5B\x3B\x45"
    "\x3E\x3D\x51\x6E\x55\x4C\x3D\x6D\x47\x56\x48\x6A\x5A\x4E\x31\x63"
    "\x44\x5F\x41\x67\x59\x43\x5D\x68\x3D\x42\x5A\x4D\x63\x6E\x49\x52"
    "\x61\x3F\x55\x32\x54\x33\x41\x5D\x63\x4D\x47\x45\x6E\x30\x56\x66"
    "\x35\x42\x3E\x38\x5F\x55\x64\x6C\x5B\x45\x54\x64\x3E\x38\x59\x4B"
    "\x44\x67\x5B\x39\x52\x57\x4D\x40\x6C\x5E\x32\x3A\x69\x42\x46\x51"
    "\x3A\x3C\x6B\x37\x3B\x4A\x53\x61\x6B\x6C\x40\x40\x6D\x3B\x70\x5F"
    "\x50\x35\x59\x61\x50\x68\x49\x52\x44\x53\x62\x3A\x30\x34\x66\x58"
    "\x48\x69\x68\x64\x6A\x43\x3F\x4B\x66\x34\x62\x45\x43\x4C\x33\x46"
    "\x40\x42\x37\x5F\x6E\x49\x5A\x3F\x60\x4C\x3C\x4A\x67\x50\x58\x6F"
    "\x5A\x61\x33\x57\x50\x4F\x31\x60\x53\x43\x60\x4B\x3E\x32\x36\x51"
    "\x39\x67\x65\x63\x6A\x39\x46\x67\x5D\x65\x3B\x3C\x36\x36\x41\x54"
    "\x38\x4A\x37\x6D\x69\x5D\x65\x31\x57\x68\x3F\x62\x66\x36\x4F\x39";

}  // namespace kelp

namespace {

const double kDegToRad = 0.0174532925;

// The generator is defined on 32-bit signed integers that wrap. Sums are
// taken in 64 bits and wrapped explicitly so that overflow stays defined.
int32_t Wrap(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }

// Truncating remainder, as the generator is defined, but folded into
// 0..m-1 when negative. Negative values only arise from negative seeds or
// wrapped sums; folding them keeps every table index within 0..255 and every
// output within range, and changes nothing for the ordinary sequences.
int32_t ModFold(int32_t v, int32_t m) {
    int32_t r = v % m;
    return r < 0 ? r + m : r;
}

int32_t T(int32_t i) { return int32_t(uint8_t(jRand_Txt[ModFold(i, 256)])); }

}  // namespace

// ---- Trigonometry and helpers ------------------------------------------------

float KELPCore::Sin(float degrees) { return float(sin(double(degrees) * kDegToRad)); }
float KELPCore::Cos(float degrees) { return float(cos(double(degrees) * kDegToRad)); }
float KELPCore::Mod(float a, float b) { return fmodf(a, b); }
float KELPCore::Abs(float v) { return fabsf(v); }
int KELPCore::Abs(int v) { return v < 0 ? int(0u - unsigned(v)) : v; }

float KELPCore::Clamp(float v, float lo, float hi) {
    if (!(v >= lo)) return lo;   // NaN lands on the low end too
    return v > hi ? (hi > lo ? hi : lo) : v;
}

float KELPCore::Lerp(float a, float b, float t) { return a + (b - a) * t; }

float KELPCore::Dist(float x1, float y1, float x2, float y2) {
    float dx = x1 - x2, dy = y1 - y2;
    return sqrtf(dx * dx + dy * dy);
}

float KELPCore::Pyth(float a, float b) { return sqrtf(a * a + b * b); }

// The signed turn from one angle to another on a circle of lo..hi. The
// fold-back subtracts the span (not span + 1) so that, with the defaults,
// a turn of exactly half a circle or more comes out one unit short.
float KELPCore::WhichWayDoIGo(float from, float to, float lo, float hi) {
    float span = hi - lo;
    float n = span + 1;
    float f = Mod(from, n);
    if (f < 0) f += n;
    float t = Mod(to, n);
    if (t < 0) t += n;
    float d = Mod(t - f, n);
    if (d < 0) d += n;
    d += lo;
    if (d > lo + span / 2) return d - span;
    return d;
}

// ---- Seeded generator ----------------------------------------------------------------

void KELPCore::SeedRnd() { SeedRnd(Mills()); }

void KELPCore::SeedRnd(int seed) {
    jRand_Seed = seed;
    jRand_Bit = seed % 256;
    jRand_Plus = Wrap(int64_t(seed / 256) + gameNumber);
    jRand_Count = 0;
    jRand_Out = 0;
}

float KELPCore::Rnd(float hi) { return Rnd(0, hi); }

float KELPCore::Rnd(float lo, float hi) {
    jRand_Count = Wrap(int64_t(jRand_Count) + 7);
    if (jRand_Count < 0) jRand_Count = 0;
    const int64_t count = jRand_Count;
    jRand_Bit = ModFold(Wrap(int64_t(jRand_Bit) + jRand_Plus), 256);
    jRand_Plus = Wrap(int64_t(T(jRand_Bit)) + count + jRand_Plus) % 13817278;
    jRand_Bit = ModFold(Wrap(int64_t(jRand_Bit) + jRand_Plus), 256);
    jRand_Plus = Wrap(int64_t(T(jRand_Bit)) + jRand_Plus + jRand_Seed) % 15215178;
    jRand_Bit = ModFold(Wrap(int64_t(jRand_Bit) + jRand_Plus + count), 256);
    jRand_Out = T(jRand_Bit) + T(int32_t(count % 256));
    jRand_Out = ModFold(Wrap(int64_t(jRand_Out) * 16 + jRand_Bit + count), 371716);
    jRand_Out = ModFold(Wrap(int64_t(jRand_Out) * 1024 + jRand_Plus), 1310725);
    return lo + (hi - lo) * (float(jRand_Out) / 1310725.0f);
}

int KELPCore::Rand(float hi) { return Rand(0, hi); }
int KELPCore::Rand(float lo, float hi) { return int(floorf(Rnd(lo, hi + 0.9999f))); }

// ---- Time-based generator ----------------------------------------------------------------

// Reads the seeded accumulator but only ever writes its own counter, so the
// seeded sequence is not disturbed.
float KELPCore::tRnd(float hi) { return tRnd(0, hi); }

float KELPCore::tRnd(float lo, float hi) {
    jRand_tSeed = Wrap(int64_t(jRand_tSeed) + 1);
    const int64_t m = Mills();
    const int64_t m2 = Mills();
    const int64_t s = jRand_tSeed;
    int32_t p = jRand_Plus;
    int32_t b = ModFold(Wrap(m2 + 37171 + 2 * int64_t(p) + m), 256);
    p = Wrap(int64_t(T(b)) + m + p) % 13817278;
    b = ModFold(Wrap(int64_t(b) + p), 256);
    p = Wrap(int64_t(T(b)) + p + s) % 15215178;
    b = ModFold(Wrap(int64_t(b) + p + m), 256);
    int32_t o = Wrap(int64_t(T(b)) + s + T(ModFold(int32_t(m), 256)));
    o = ModFold(Wrap(int64_t(o) * 16 + b + m), 371716);
    o = ModFold(Wrap(int64_t(o) * 1024 + p + 7 * s), 1310725);
    return lo + (hi - lo) * (float(o) / 1310725.0f);
}

int KELPCore::tRand(float hi) { return tRand(0, hi); }
int KELPCore::tRand(float lo, float hi) { return int(floorf(tRnd(lo, hi + 0.9999f))); }

// ---- Collision tests -------------------------------------------------------------------------

int KELPCore::Collide_Point_Circle(float px, float py, float cx, float cy, float r) {
    LastColPointX = LastColPointY = -3717;
    float dx = px - cx, dy = py - cy;
    return r * r >= dx * dx + dy * dy ? 1 : 0;
}

int KELPCore::Collide_Circle_Circle(float x1, float y1, float r1, float x2, float y2, float r2) {
    LastColPointX = LastColPointY = -3717;
    float dx = x1 - x2, dy = y1 - y2, r = r1 + r2;
    return r * r >= dx * dx + dy * dy ? 1 : 0;
}

int KELPCore::Collide_Line_Line(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
    LastColPointX = LastColPointY = -3717;
    float den = (y4 - y3) * (x2 - x1) - (x4 - x3) * (y2 - y1);
    if (den == 0) return 0;
    float ua = ((x4 - x3) * (y1 - y3) - (y4 - y3) * (x1 - x3)) / den;
    float ub = ((x2 - x1) * (y1 - y3) - (y2 - y1) * (x1 - x3)) / den;
    if (ua < 0 || ua > 1 || ub < 0 || ub > 1) return 0;
    LastColPointX = x1 + ua * (x2 - x1);
    LastColPointY = y1 + ua * (y2 - y1);
    return 1;
}

int KELPCore::Collide_Rect_Rect(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2) {
    float l1 = x1 - w1 / 2, t1 = y1 - h1 / 2;
    float l2 = x2 - w2 / 2, t2 = y2 - h2 / 2;
    return (l2 + w2 >= l1 && l1 + w1 >= l2 && t2 + h2 >= t1 && t1 + h1 >= t2) ? 1 : 0;
}

static bool Within(float v, float lo, float size) { return v >= lo && v <= lo + size; }

// Overlap judged by edge containment only: a cross-shaped overlap, where
// neither rectangle has an edge inside the other on both axes, is a miss.
int KELPCore::Collide_Rect_Rect_Complex(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2) {
    float l1 = x1 - w1 / 2, t1 = y1 - h1 / 2;
    float l2 = x2 - w2 / 2, t2 = y2 - h2 / 2;
    bool ax = Within(l2, l1, w1) || Within(l2 + w2, l1, w1);
    bool ay = Within(t2, t1, h1) || Within(t2 + h2, t1, h1);
    bool bx = Within(l1, l2, w2) || Within(l1 + w1, l2, w2);
    bool by = Within(t1, t2, h2) || Within(t1 + h1, t2, h2);
    return ((ax && ay) || (bx && by)) ? 1 : 0;
}
