#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::LoadImg(int slot, string name, int size) {}
void KELPCore::LoadFont(int slot, string name) {}
void KELPCore::DrawImg(int slot, float x, float y, int frame) {}
void KELPCore::DrawBlur(int slot, float x, float y, int frame) {}
void KELPCore::QuadImg(int slot, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int frame) {}
void KELPCore::DrawBuffer() {}
void KELPCore::Text(float x, float y, string s, float align, float extra) {}
void KELPCore::Text(float x, float y, char c, float align, float extra) {}
float KELPCore::StringWidth(string s) { return 0; }
float KELPCore::StringWidth(char c) { return 0; }
float KELPCore::CharWidth(char c) { return 0; }
