// The two command lists and their hand-over. The write list (ASys.drawList)
// is filled during an update; the commit copies it into the render list, so
// a render always draws the whole list of the last finished update.
#include <algorithm>

#include "KELPSys.h"

namespace kelp {

DrawCommand DrawR[RENDER_LIST_MAX];
int32_t DrawToRT = 0;

DrawCommand* KELPSys::NewCommand() {
    if (drawCount < 0) drawCount = 0;
    if (drawCount >= DRAW_LIST_MAX) {
        // Writing on would run past the list; the rest of this update is lost
        // and the commit says how much.
        droppedCommands++;
        return nullptr;
    }
    return &drawList[drawCount];
}

void KELPSys::CopyState(DrawCommand& cmd) {
    cmd.alpha1 = alpha1;
    cmd.red1 = red1;
    cmd.green1 = green1;
    cmd.blue1 = blue1;
    cmd.alpha2 = alpha2;
    cmd.red2 = red2;
    cmd.green2 = green2;
    cmd.blue2 = blue2;
    cmd.rot = rot;
    cmd.lineHalf = lineHalf;
    cmd.pad20 = stateReserved0;
    cmd.sizeX = sizeX;
    cmd.sizeY = sizeY;
    cmd.pad23[0] = stateReserved1;
    cmd.pad23[1] = stateReserved2;
    cmd.pad23[2] = stateReserved3;
    drawCount++;
}

void KELPSys::RenderBuffer() {
    int n = drawCount;
    if (n < 0) n = 0;
    if (n > DRAW_LIST_MAX) n = DRAW_LIST_MAX;
    DrawToRT = n;
    std::copy(drawList, drawList + n, DrawR);
    if (droppedCommands > 0) {
        Debuglog(fstrSys("Draw list full: %i commands dropped", droppedCommands));
        droppedCommands = 0;
    }
}

}  // namespace kelp
