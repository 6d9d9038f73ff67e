#include "KELPCore.h"

int32_t jRand_Seed = 0, jRand_Count = 0, jRand_Bit = 0, jRand_Plus = 0, jRand_Out = 0, jRand_tSeed = 0;
const char jRand_Txt[257] = "";

// TODO: not built yet.
float KELPCore::Sin(float degrees) { return 0; }
float KELPCore::Cos(float degrees) { return 0; }
float KELPCore::Mod(float a, float b) { return 0; }
float KELPCore::Abs(float v) { return 0; }
int KELPCore::Abs(int v) { return 0; }
float KELPCore::Dist(float x1, float y1, float x2, float y2) { return 0; }
float KELPCore::Pyth(float a, float b) { return 0; }
float KELPCore::WhichWayDoIGo(float from, float to, float lo, float hi) { return 0; }
void KELPCore::SeedRnd() {}
void KELPCore::SeedRnd(int seed) {}
float KELPCore::Rnd(float hi) { return 0; }
float KELPCore::Rnd(float lo, float hi) { return 0; }
int KELPCore::Rand(float hi) { return 0; }
int KELPCore::Rand(float lo, float hi) { return 0; }
float KELPCore::tRnd(float hi) { return 0; }
float KELPCore::tRnd(float lo, float hi) { return 0; }
int KELPCore::tRand(float hi) { return 0; }
int KELPCore::tRand(float lo, float hi) { return 0; }
int KELPCore::Collide_Point_Circle(float px, float py, float cx, float cy, float r) { return 0; }
int KELPCore::Collide_Circle_Circle(float x1, float y1, float r1, float x2, float y2, float r2) { return 0; }
int KELPCore::Collide_Line_Line(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) { return 0; }
int KELPCore::Collide_Rect_Rect(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2) { return 0; }
int KELPCore::Collide_Rect_Rect_Complex(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2) { return 0; }
