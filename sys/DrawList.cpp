// The two command lists and their hand-over. The write list (ASys.drawList)
// is filled during an update; the commit copies it into the render list, so
// a render always draws the whole list of the last finished update.
#include <cstring>

#include "KELPSys.h"

namespace kelp {

double DrawR[RENDER_LIST_MAX][CMD_SLOTS];
int32_t DrawToRT = 0;

double* KELPSys::NewCommand() {
    if (drawCount < 0) drawCount = 0;
    if (drawCount >= DRAW_LIST_MAX) {
        // Writing on would run past the list; the rest of this update is lost
        // and the commit says how much.
        droppedCommands++;
        return nullptr;
    }
    return drawList[drawCount];
}

void KELPSys::CopyState(double* cmd) {
    const float state[16] = {alpha1, red1, green1, blue1, alpha2, red2, green2, blue2,
                             rot, lineHalf, stateReserved0, sizeX, sizeY,
                             stateReserved1, stateReserved2, stateReserved3};
    for (int i = 0; i < 16; i++) cmd[10 + i] = state[i];
    drawCount++;
}

void KELPSys::RenderBuffer() {
    int n = drawCount;
    if (n < 0) n = 0;
    if (n > DRAW_LIST_MAX) n = DRAW_LIST_MAX;
    DrawToRT = n;
    memcpy(DrawR, drawList, sizeof(double) * CMD_SLOTS * (size_t)n);
    if (droppedCommands > 0) {
        Debuglog(fstrSys("Draw list full: %i commands dropped", droppedCommands));
        droppedCommands = 0;
    }
}

}  // namespace kelp
