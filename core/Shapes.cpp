#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::Rect(float x, float y, float w, float h) {}
void KELPCore::Rect(float x, float y, float s) {}
void KELPCore::Plot(float x, float y) {}
void KELPCore::Rect_UL(float x, float y, float s) {}
void KELPCore::Rect_UL(float x, float y, float w, float h) {}
void KELPCore::Oval(float x, float y, float w, float h) {}
void KELPCore::Oval(float x, float y, float r) {}
void KELPCore::Circle(float x, float y, float r) {}
void KELPCore::Oval_UL(float x, float y, float w, float h) {}
void KELPCore::Oval_UL(float x, float y, float r) {}
void KELPCore::Circle_UL(float x, float y, float r) {}
void KELPCore::Fan(float x, float y, float r) {}
void KELPCore::Quad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {}
void KELPCore::FullTri(float x1, float y1, float x2, float y2, float x3, float y3) {}
void KELPCore::Tri(float x, float y, float w, float h) {}
void KELPCore::Tri_Fix(float x, float y, float w, float h, float e) {}
void KELPCore::Line(float x1, float y1, float x2, float y2) {}
