#include "KELPSys.h"

// TODO: not built yet.
void KELPSys::SysInit(const char* title) {}
void KELPSys::SetScreen(int width, int height) {}
void KELPSys::FlipFull() {}
void KELPSys::Close() {}
void KELPSys::HiResRender() {}
void KELPSys::Force1920() {}
void KELPSys::ComputeCanvas(float& screenW, float& screenH) {}
