#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::ResetDraw() {}
void KELPCore::SetSize(float s) {}
void KELPCore::SetSize(float sx, float sy) {}
void KELPCore::SetRot(float degrees) {}
void KELPCore::SetLineThickness(float t) {}
void KELPCore::Width(float t) {}
void KELPCore::Thick(float t) {}
void KELPCore::SetLineWidth(float t) {}
void KELPCore::SetLineThick(float t) {}
void KELPCore::SetCol(float r, float g, float b) {}
void KELPCore::SetCol(float r, float g, float b, float a) {}
void KELPCore::SetGradient(float r1, float g1, float b1, float a1, float r2, float g2, float b2, float a2) {}
void KELPCore::SetAlpha(float a) {}
void KELPCore::Alpha(float a) {}
void KELPCore::Ink(int n) {}
void KELPCore::InkRot(float hue) {}
void KELPCore::InkRot(float hue, float s) {}
void KELPCore::InkRot(float hue, float s, float v) {}
void KELPCore::HSV2RGB(double h, double s, double v) {}
void KELPCore::SetBlend(int mode) {}
void KELPCore::Smooth(int n) {}
void KELPCore::SetSmooth(int n) {}
void KELPCore::SetFont(int slot) {}
void KELPCore::SetCLS(float r, float g, float b) {}
void KELPCore::CLS(float r, float g, float b) {}
void KELPCore::FadeCLS(float r, float g, float b, float speed) {}
void KELPCore::SetCLSRot(float angle, float lo, float hi) {}
