// Pixel buffers drawn on the CPU, screenshots and the screen grab: the game's
// side of them forwards to the platform layer.
#include <cstdio>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

void KELPCore::CreateBuffer(int slot, int size) { ASys.Buffer_Create(slot, size); }
void KELPCore::BufferCLS(int slot) { ASys.Buffer_Fill(slot, 0, 0, 0, 0); }
void KELPCore::BufferFill(int slot, int r, int g, int b, int a) { ASys.Buffer_Fill(slot, r, g, b, a); }

// Plots and lines take the drawing state's first colour at the time of the call.
// NaN or infinite coordinates paint nothing (said once), as coordinates
// outside the buffer do.
void KELPCore::BufferPlot(int slot, float x, float y) {
    if (!Finite("BufferPlot", {x, y}, "nothing painted")) return;
    ASys.Buffer_Plot(slot, x, y, ASys.red1, ASys.green1, ASys.blue1, ASys.alpha1);
}

void KELPCore::BufferLine(int slot, float x1, float y1, float x2, float y2) {
    if (!Finite("BufferLine", {x1, y1, x2, y2}, "nothing painted")) return;
    ASys.Buffer_Line(slot, x1, y1, x2, y2, ASys.red1, ASys.green1, ASys.blue1, ASys.alpha1);
}

void KELPCore::BufferTile(int dst, int src, float x, float y, int frame) {
    if (Finite("BufferTile", {x, y}, "nothing painted")) ASys.Buffer_Tile(dst, src, x, y, frame);
}

void KELPCore::TakeScreenshot() { ASys.Screenshot(); }
void KELPCore::CopyBuffer() { ASys.GrabBuffer(); }

void kelp::PrepareScreenshotName(KELPCore& game) {
    const char* name =
        game.fstr("%s/Screenshot_%i_%s.png", game.SaveFolder(), game.gameNumber, game.DateTime_file().c_str());
    // The name buffer holds the longest data root with room to spare, so the
    // name is never cut; the bound only guards the copy itself.
    snprintf(ASys.ScreenshotName, sizeof ASys.ScreenshotName, "%s", name);
}
