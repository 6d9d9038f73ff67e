// Cost of the frame machinery itself: N updates and renders of a scene that
// draws nothing, run back to back (no pacing) on a real window.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

static double Seconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    int n = argc > 1 ? atoi(argv[1]) : 2000;
    MyGame& g = ThisGame;
    g.SetDataRoot(argv[0]);
    g.Begin(550, "Empty scene benchmark");
    if (!ASys.window) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    g.KeyDefaults();
    g.loadStep = 0;
    g.gameMode = 99;  // a mode with no screen: nothing is drawn
    g.showStats = 0;
    for (int i = 0; i < 60; i++) {  // warm up
        g.Update();
        g.Render();
    }
    double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID), wall0 = Seconds(CLOCK_MONOTONIC);
    for (int i = 0; i < n; i++) {
        g.Update();
        g.Render();
    }
    double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0, wall = Seconds(CLOCK_MONOTONIC) - wall0;
    printf("empty scene, %d frames (update + render, %dx%d)\n", n, ASys.fbWidth, ASys.fbHeight);
    printf("  CPU time per frame:  %8.3f ms\n", cpu * 1000 / n);
    printf("  wall time per frame: %8.3f ms\n", wall * 1000 / n);
    ASys.Close();
    return 0;
}
