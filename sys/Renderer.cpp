#include "KELPSys.h"

int32_t TexUse = -1, TriCount = 0, RenderMode = 0, Wireframe = 0;
unsigned char WhiteBlock[256];
int32_t TexUploads = 0;

// TODO: not built yet.
void KELPSys::RenderSys(float overscan) {}
void KELPSys::RenderRect(int base) {}
void KELPSys::RenderQuad(int base) {}
void KELPSys::RenderTri(int base) {}
void KELPSys::RenderOval(int base) {}
void KELPSys::RenderFan(int base) {}
void KELPSys::RenderLine(int base) {}
void KELPSys::RenderImage(int base) {}
void KELPSys::RenderQuadImage(int base) {}
void KELPSys::RenderImageBlur(int base) {}
