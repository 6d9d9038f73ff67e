#include "KELPSys.h"

double DrawR[RENDER_LIST_MAX][CMD_SLOTS];
int32_t DrawToRT = 0;

// TODO: not built yet.
double* KELPSys::NewCommand() { return 0; }
void KELPSys::CopyState(double* cmd) {}
void KELPSys::RenderBuffer() {}
