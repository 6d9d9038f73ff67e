// The drawing state: colours, scale, rotation, line thickness, blend mode,
// font and clear colour. It lives in ASys and is copied into every command.
#include <cmath>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

namespace {

float Clamp255(float v) {
    // NaN would survive plain comparisons and reach the renderer.
    if (!(v > 0)) return 0;
    return v > 255 ? 255 : v;
}

const char* const kKept = "the drawing state is kept";

const unsigned char InkPalette[10][3] = {
    {0, 0, 0},       {255, 0, 0},   {255, 128, 0}, {255, 255, 0}, {0, 255, 0},
    {0, 255, 255},   {0, 0, 255},   {180, 0, 255}, {255, 0, 180}, {255, 255, 255},
};

}  // namespace

void KELPCore::ResetDraw() {
    ASys.alpha1 = ASys.red1 = ASys.green1 = ASys.blue1 = 255;
    ASys.alpha2 = ASys.red2 = ASys.green2 = ASys.blue2 = 255;
    ASys.rot = 0;
    ASys.lineHalf = 0.5f;
    ASys.sizeX = 1 / ASys.ViewScale;
    ASys.sizeY = -1 / ASys.ViewScale;
}

// Sizes are kept divided by ViewScale (and y negated, canvas y grows down)
// so that shapes and images can each apply their own unit.
// A setter given a NaN (or, where no range can hold it, an infinity) is
// ignored, said once: the state keeps its last good value.
void KELPCore::SetSize(float s) {
    if (!Finite("SetSize", {s}, kKept)) return;
    ASys.sizeX = s / ASys.ViewScale;
    ASys.sizeY = -s / ASys.ViewScale;
}
void KELPCore::SetSize(float sx, float sy) {
    if (!Finite("SetSize", {sx, sy}, kKept)) return;
    ASys.sizeX = sx / ASys.ViewScale;
    ASys.sizeY = -sy / ASys.ViewScale;
}

void KELPCore::SetRot(float degrees) {
    if (Finite("SetRot", {degrees}, kKept)) ASys.rot = degrees;
}

void KELPCore::SetLineThickness(float t) {
    if (!Finite("SetLineThickness", {t}, kKept)) return;
    if (!(t >= 0.05f)) t = 0.05f;
    ASys.lineHalf = t * 0.5f;
}
void KELPCore::Width(float t) { SetLineThickness(t); }
void KELPCore::Thick(float t) { SetLineThickness(t); }
void KELPCore::SetLineWidth(float t) { SetLineThickness(t); }
void KELPCore::SetLineThick(float t) { SetLineThickness(t); }

void KELPCore::SetCol(float r, float g, float b) {
    if (!NotNaN("SetCol", {r, g, b}, kKept)) return;
    ASys.red1 = ASys.red2 = Clamp255(r);
    ASys.green1 = ASys.green2 = Clamp255(g);
    ASys.blue1 = ASys.blue2 = Clamp255(b);
}
void KELPCore::SetCol(float r, float g, float b, float a) {
    if (!NotNaN("SetCol", {r, g, b, a}, kKept)) return;
    SetCol(r, g, b);
    SetAlpha(a);
}

// The first colour is the upper edge: with the default negative vertical
// scale that is colour 2 of the command.
void KELPCore::SetGradient(float r1, float g1, float b1, float a1, float r2, float g2, float b2, float a2) {
    if (!NotNaN("SetGradient", {r1, g1, b1, a1, r2, g2, b2, a2}, kKept)) return;
    ASys.red2 = Clamp255(r1);
    ASys.green2 = Clamp255(g1);
    ASys.blue2 = Clamp255(b1);
    ASys.alpha2 = Clamp255(a1 * 255);
    ASys.red1 = Clamp255(r2);
    ASys.green1 = Clamp255(g2);
    ASys.blue1 = Clamp255(b2);
    ASys.alpha1 = Clamp255(a2 * 255);
}

void KELPCore::SetAlpha(float a) {
    if (NotNaN("SetAlpha", {a}, kKept)) ASys.alpha1 = ASys.alpha2 = Clamp255(a * 255);
}
void KELPCore::Alpha(float a) { SetAlpha(a); }

void KELPCore::Ink(int n) {
    int i = n % 10;
    if (i < 0) i += 10;  // negative indices count on round the palette
    SetCol(InkPalette[i][0], InkPalette[i][1], InkPalette[i][2], 1);
}

void KELPCore::InkRot(float hue) { HSV2RGB(hue, 1, 1); }
void KELPCore::InkRot(float hue, float s) { HSV2RGB(hue, s, 1); }
void KELPCore::InkRot(float hue, float s, float v) { HSV2RGB(hue, s, v); }

void KELPCore::HSV2RGB(double h, double s, double v) {
    if (!Finite("HSV2RGB", {float(h)}, kKept) || !NotNaN("HSV2RGB", {float(s), float(v)}, kKept)) return;
    s = s < 0 ? 0 : (s > 1 ? 1 : s);
    v = v < 0 ? 0 : (v > 1 ? 1 : v);
    double hh = fmod(h, 360.0);
    // A negative remainder would pick the wrong sector and overshoot the
    // channels; -90 is the same hue as 270.
    if (hh < 0) hh += 360.0;
    if (hh >= 360.0) hh = 0;
    double x = hh / 60.0;
    int i = (int)x;
    double f = x - i;
    double p = v * (1 - s);
    double q = v * (1 - s * f);
    double t = v * (1 - s * (1 - f));
    double r, g, b;
    switch (i) {
    case 0: r = v; g = t; b = p; break;
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    default: r = v; g = p; b = q; break;
    }
    SetCol((float)(r * 255), (float)(g * 255), (float)(b * 255), 1);
}

// Every blend change ends the renderer's batch, so only real changes are
// queued. curBlend goes back to 1 at each commit, as every render starts in
// mode 1.
void KELPCore::SetBlend(int mode) {
    if (mode == ASys.curBlend) return;
    DrawCommand* c = ASys.NewCommand();
    if (!c) return;
    c->kind = CMD_BLEND;
    c->SetBlendMode(mode);
    ASys.drawCount++;
    ASys.curBlend = mode;
}

void KELPCore::Smooth(int n) { ASys.smooth = (float)n; }
void KELPCore::SetSmooth(int n) { Smooth(n); }

void KELPCore::SetFont(int slot) { ASys.curFont = slot; }

void KELPCore::SetCLS(float r, float g, float b) {
    if (!NotNaN("SetCLS", {r, g, b}, kKept)) return;
    ASys.clsCurrent[0] = ASys.clsTarget[0] = Clamp255(r);
    ASys.clsCurrent[1] = ASys.clsTarget[1] = Clamp255(g);
    ASys.clsCurrent[2] = ASys.clsTarget[2] = Clamp255(b);
    ASys.clsSpeed = 1;
}
void KELPCore::CLS(float r, float g, float b) { SetCLS(r, g, b); }

void KELPCore::FadeCLS(float r, float g, float b, float speed) {
    if (!NotNaN("FadeCLS", {r, g, b}, kKept) || !Finite("FadeCLS", {speed}, kKept)) return;
    ASys.clsTarget[0] = Clamp255(r);
    ASys.clsTarget[1] = Clamp255(g);
    ASys.clsTarget[2] = Clamp255(b);
    ASys.clsSpeed = speed;
}

void KELPCore::SetCLSRot(float angle, float lo, float hi) {
    if (!Finite("SetCLSRot", {angle}, kKept) || !NotNaN("SetCLSRot", {lo, hi}, kKept)) return;
    lo = Clamp255(lo);
    hi = Clamp255(hi);
    float d = hi - lo;
    SetCLS(hi + d * Sin(angle), hi + d * Sin(angle + 120), hi + d * Sin(angle + 240));
}
