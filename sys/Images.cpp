#include "KELPSys.h"

std::vector<unsigned char> Image[IMAGE_SLOTS];
std::vector<unsigned char> ImageBlur[IMAGE_SLOTS];
int32_t imageFrames[IMAGE_SLOTS];
int32_t iFramesW[IMAGE_SLOTS];
float iFramesWz[IMAGE_SLOTS];
int32_t iSize[IMAGE_SLOTS];
int32_t imageFrameSize[IMAGE_SLOTS];
float imageUnit[IMAGE_SLOTS];
int32_t fontw[132];

// TODO: not built yet.
void KELPSys::GetPNG(int slot, const char* path, unsigned size) {}
void KELPSys::Buffer_Create(int slot, int size) {}
void KELPSys::Buffer_Fill(int slot, int r, int g, int b, int a) {}
void KELPSys::Buffer_Plot(int slot, float x, float y, float r, float g, float b, float a) {}
void KELPSys::Buffer_Line(int slot, float x1, float y1, float x2, float y2, float r, float g, float b, float a) {}
void KELPSys::Buffer_Tile(int dst, int src, float x, float y, int frame) {}
void KELPSys::Screenshot() {}
void KELPSys::GrabBuffer() {}
void KELPSys::SavePNG(const char* name, int slot, unsigned width, unsigned height) {}
