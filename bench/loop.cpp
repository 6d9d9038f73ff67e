// The demo's own loop on the machine's clock: the loader, then the menu for a
// few seconds, run through KeepAlive exactly as the game runs it. Prints the
// updates and renders it managed each second, the rates it reported, and
// the spread of frame deltas: what the pacing gives on this machine now.
//   build/bench/bench_loop [seconds of menu]   (needs a display; default 5)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

int main(int argc, char** argv) {
    int seconds = argc > 1 ? atoi(argv[1]) : 5;
    MyGame& g = ThisGame;
    g.SetDataRoot((std::string(KELP_BIN_DIR) + "/MyGame").c_str());  // the demo's data
    g.Begin(550, "Loop benchmark");
    if (!ASys.window) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    g.KeyDefaults();
    g.showStats = 1;
    g.loadStep = 1;
    g.nextUpdate = g.nextRender = 0;

    int loaderStart = g.Mills();
    while (g.loadStep != 0 && !g.quitRequested) g.KeepAlive();
    printf("loader: 120 updates in %d ms (%.1f ms an update; 16 is on time)\n", g.Mills() - loaderStart,
           (g.Mills() - loaderStart) / 120.0);

    std::vector<float> deltas;
    printf("second  updates  renders  shown (update / render)\n");
    for (int s = 0; s < seconds && !g.quitRequested; s++) {
        int end = g.Mills() + 1000;
        int updates = 0, renders = 0;
        int tick = g.updateTick;
        while (g.Mills() < end && !g.quitRequested) {
            int r = RenderCountLive;
            g.KeepAlive();
            if (RenderCountLive != r) renders++;
            if (g.updateTick != tick) {
                tick = g.updateTick;
                updates++;
                deltas.push_back(g.frameDelta);
            }
        }
        printf("%6d  %7d  %7d  %d / %d\n", s + 1, updates, renders, g.updateFps, g.renderFps);
    }
    if (!deltas.empty()) {
        std::sort(deltas.begin(), deltas.end());
        printf("frame delta: median %.2f, 95th percentile %.2f, largest %.2f (0.96 is on time)\n",
               deltas[deltas.size() / 2], deltas[deltas.size() * 95 / 100], deltas.back());
    }
    ASys.Close();
    return 0;
}
