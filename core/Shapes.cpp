// Shape operations: each turns a call in canvas coordinates into one command
// in window-centre coordinates, with the current scale applied. Colours and
// the rest of the state come from the state copy.
#include <cmath>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

namespace {

// Kinds 1, 3 and 5 share this layout: centre, then the scaled size.
void BoxCommand(int kind, float x, float y, float w, float h) {
    DrawCommand* c = ASys.NewCommand();
    if (!c) return;
    float W = ASys.sizeX * ASys.ViewScale;
    float H = ASys.sizeY * ASys.ViewScale;
    c->kind = kind;
    c->x = x - (float)ASys.rw2;
    c->y = y - (float)ASys.rh2;
    c->w = W * w;
    c->h = H * h;
    ASys.CopyState(*c);
}

// Points are given in canvas units; nothing scales or turns them. A
// triangle leaves the fourth point as the list held it.
void PointCommand(int kind, const float* xy, int points) {
    DrawCommand* c = ASys.NewCommand();
    if (!c) return;
    double* const place[4][2] = {{&c->x, &c->y}, {&c->w, &c->h}, {&c->x3, &c->y3}, {&c->x4, &c->y4}};
    c->kind = kind;
    for (int i = 0; i < points; i++) {
        *place[i][0] = xy[2 * i] - (float)ASys.rw2;
        *place[i][1] = xy[2 * i + 1] - (float)ASys.rh2;
    }
    ASys.CopyState(*c);
}

// Triangles turn here rather than in the renderer, so the three points are
// final: the first at the state's rotation, the others 120 and 240 on.
void TriCommand(KELPCore& g, float x, float y, float w, float h) {
    float W = ASys.sizeX * ASys.ViewScale;
    float H = ASys.sizeY * ASys.ViewScale;
    float cx = x - (float)ASys.rw2;
    float cy = y - (float)ASys.rh2;
    float r = ASys.rot;
    DrawCommand* c = ASys.NewCommand();
    if (!c) return;
    double* const place[3][2] = {{&c->x, &c->y}, {&c->w, &c->h}, {&c->x3, &c->y3}};
    c->kind = CMD_TRI;
    for (int k = 0; k < 3; k++) {
        float a = r + 120.0f * k;
        *place[k][0] = cx + g.Sin(a) * W * w;
        *place[k][1] = cy + g.Cos(a) * H * h;
    }
    ASys.CopyState(*c);
}

// A call with a NaN or infinite argument draws nothing (said once); a
// negative size mirrors the shape.
const char* const kNotDrawn = "nothing drawn";

}  // namespace

void KELPCore::Rect(float x, float y, float w, float h) {
    if (Finite("Rect", {x, y, w, h}, kNotDrawn)) BoxCommand(CMD_RECT, x, y, w, h);
}
void KELPCore::Rect(float x, float y, float s) {
    if (Finite("Rect", {x, y, s}, kNotDrawn)) BoxCommand(CMD_RECT, x, y, s, s);
}
void KELPCore::Plot(float x, float y) {
    if (Finite("Plot", {x, y}, kNotDrawn)) BoxCommand(CMD_RECT, x, y, 1, 1);
}
void KELPCore::Rect_UL(float x, float y, float s) {
    if (Finite("Rect_UL", {x, y, s}, kNotDrawn)) BoxCommand(CMD_RECT, x + s / 2, y + s / 2, s, s);
}
void KELPCore::Rect_UL(float x, float y, float w, float h) {
    if (Finite("Rect_UL", {x, y, w, h}, kNotDrawn)) BoxCommand(CMD_RECT, x + w / 2, y + h / 2, w, h);
}

void KELPCore::Oval(float x, float y, float w, float h) {
    if (Finite("Oval", {x, y, w, h}, kNotDrawn)) BoxCommand(CMD_OVAL, x, y, w, h);
}
void KELPCore::Oval(float x, float y, float r) {
    if (Finite("Oval", {x, y, r}, kNotDrawn)) BoxCommand(CMD_OVAL, x, y, 2 * r, 2 * r);
}
void KELPCore::Circle(float x, float y, float r) {
    if (Finite("Circle", {x, y, r}, kNotDrawn)) BoxCommand(CMD_OVAL, x, y, 2 * r, 2 * r);
}
void KELPCore::Oval_UL(float x, float y, float w, float h) {
    if (Finite("Oval_UL", {x, y, w, h}, kNotDrawn)) BoxCommand(CMD_OVAL, x + w / 2, y + h / 2, w, h);
}
void KELPCore::Oval_UL(float x, float y, float r) {
    if (Finite("Oval_UL", {x, y, r}, kNotDrawn)) BoxCommand(CMD_OVAL, x + r, y + r, 2 * r, 2 * r);
}
void KELPCore::Circle_UL(float x, float y, float r) {
    if (Finite("Circle_UL", {x, y, r}, kNotDrawn)) BoxCommand(CMD_OVAL, x + r, y + r, 2 * r, 2 * r);
}

void KELPCore::Fan(float x, float y, float r) {
    if (Finite("Fan", {x, y, r}, kNotDrawn)) BoxCommand(CMD_FAN, x, y, 2 * r, 2 * r);
}

void KELPCore::Quad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
    if (!Finite("Quad", {x1, y1, x2, y2, x3, y3, x4, y4}, kNotDrawn)) return;
    const float p[8] = {x1, y1, x2, y2, x3, y3, x4, y4};
    PointCommand(CMD_QUAD, p, 4);
}

void KELPCore::FullTri(float x1, float y1, float x2, float y2, float x3, float y3) {
    if (!Finite("FullTri", {x1, y1, x2, y2, x3, y3}, kNotDrawn)) return;
    const float p[6] = {x1, y1, x2, y2, x3, y3};
    PointCommand(CMD_TRI, p, 3);
}

void KELPCore::Tri(float x, float y, float w, float h) {
    if (Finite("Tri", {x, y, w, h}, kNotDrawn)) TriCommand(*this, x, y, w, h);
}

// Moves the centre against the apex by e times half the height, so that
// e = 0.5 centres the triangle's vertical extent on (x, y).
void KELPCore::Tri_Fix(float x, float y, float w, float h, float e) {
    if (!Finite("Tri_Fix", {x, y, w, h, e}, kNotDrawn)) return;
    float H = ASys.sizeY * ASys.ViewScale;
    float r = ASys.rot;
    float k = (Cos(60) - Cos(0)) * H * h * e;
    TriCommand(*this, x + Sin(r + 180) * k, y - Cos(r + 180) * k, w, h);
}

// A quadrilateral offset by half the thickness on either side of the
// segment; square ends at the end points. The thickness ignores the scale.
void KELPCore::Line(float x1, float y1, float x2, float y2) {
    if (!Finite("Line", {x1, y1, x2, y2}, kNotDrawn)) return;
    float t = ASys.lineHalf;
    float A = (float)(atan2((double)(x2 - x1), (double)(y1 - y2)) / 0.017453);
    float sp = Sin(A + 90), cp = Cos(A + 90);
    float sm = Sin(A - 90), cm = Cos(A - 90);
    const float p[8] = {x1 + sp * t, y1 - cp * t, x2 + sp * t, y2 - cp * t,
                        x2 + sm * t, y2 - cm * t, x1 + sm * t, y1 - cm * t};
    PointCommand(CMD_QUAD, p, 4);
}
