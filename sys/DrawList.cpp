// The two command lists and their hand-over. The write list (ASys.drawList)
// is filled during an update; the commit copies it into the render list, so
// a render always draws the whole list of the last finished update.
#include <algorithm>
#include <cmath>

#include "KELPSys.h"

namespace kelp {

DrawCommand DrawR[RENDER_LIST_MAX];
int32_t DrawToRT = 0;

namespace {

// The values the renderer reads for the command's kind are all finite.
bool CommandFinite(const DrawCommand& c) {
    const double common[] = {c.x, c.y, c.w, c.h, c.alpha1, c.red1, c.green1, c.blue1, c.alpha2, c.red2,
                             c.green2, c.blue2, c.rot, c.lineHalf, c.sizeX, c.sizeY};
    for (double v : common)
        if (!std::isfinite(v)) return false;
    const int kind = int(c.kind);
    if (kind == CMD_TRI || kind == CMD_QUAD || kind == CMD_QUADIMAGE) {
        if (!std::isfinite(c.x3) || !std::isfinite(c.y3)) return false;
    }
    if (kind == CMD_QUAD || kind == CMD_QUADIMAGE) {
        if (!std::isfinite(c.x4) || !std::isfinite(c.y4)) return false;
    }
    return true;
}

}  // namespace

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
    // The calls refuse NaN and infinite arguments; a product of finite ones
    // can still overflow (a huge size at a huge scale). Such a command is
    // not kept: the renderer only ever sees finite numbers.
    if (!CommandFinite(cmd)) {
        DebuglogOnce("draw overflow", 0, "A shape or image too large to draw (its numbers overflow); not drawn "
                     "(said once)");
        return;
    }
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
