#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::CreateBuffer(int slot, int size) {}
void KELPCore::BufferCLS(int slot) {}
void KELPCore::BufferFill(int slot, int r, int g, int b, int a) {}
void KELPCore::BufferPlot(int slot, float x, float y) {}
void KELPCore::BufferLine(int slot, float x1, float y1, float x2, float y2) {}
void KELPCore::BufferTile(int dst, int src, float x, float y, int frame) {}
void KELPCore::TakeScreenshot() {}
void KELPCore::CopyBuffer() {}
