// Frame time of the demo's own scenes (update + render on a real window),
// the time of each load in the staged loader, and peak resident memory.
// Prints a table; asserts nothing.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "game/MyGame.h"

static double Now(clockid_t c = CLOCK_MONOTONIC) {
    timespec t;
    clock_gettime(c, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static MyGame& g = ThisGame;

struct Sample {
    double wall, cpu, worst;
};

// Runs `frames` updates and renders back to back; `before` runs ahead of
// each update (to hold a button, say).
template <class F>
static Sample Measure(int frames, F before) {
    Sample s = {0, 0, 0};
    for (int i = 0; i < frames; i++) {
        before();
        double w0 = Now(), c0 = Now(CLOCK_PROCESS_CPUTIME_ID);
        g.Update();
        g.Render();
        double w = Now() - w0;
        s.wall += w;
        s.cpu += Now(CLOCK_PROCESS_CPUTIME_ID) - c0;
        if (w > s.worst) s.worst = w;
    }
    s.wall /= frames;
    s.cpu /= frames;
    return s;
}

static void Row(const char* name, const Sample& s) {
    printf("| %-34s | %8.2f | %8.2f | %8.2f | %6.0f | %5d |\n", name, s.wall * 1000, s.cpu * 1000,
           s.worst * 1000, (double)ASys.polyCount, TexUploads);
}

int main(int argc, char** argv) {
    int frames = argc > 1 ? atoi(argv[1]) : 300;
    // A private data root: the demo's data, fresh settings and saves.
    char tmpl[] = "/tmp/kelp-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string bin = std::string(argv[0]);
    bin = bin.substr(0, bin.rfind('/')) + "/../bin";
    char real[4096];
    if (!realpath(bin.c_str(), real)) return 1;
    if (symlink((std::string(real) + "/Data").c_str(), (std::string(tmpl) + "/Data").c_str())) return 1;
    g.SetDataRoot((std::string(tmpl) + "/MyGame").c_str());

    // The launch sequence up to the loop.
    g.Begin(550, "Test Game");
    if (!ASys.window) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    g.gameVersion = 1;
    g.SetKeyword("Sample keyword text");
    g.Smooth(0);
    memset(g.saveData, 0, sizeof g.saveData);
    g.saveData[0] = g.saveData[1] = 7;
    g.saveData[101] = 2;
    g.KeyDefaults();
    g.Load();
    g.AddDefaultCredits();
    g.showStats = 0;
    g.logoZoom = 1;
    g.FlushGame();

    printf("Frame time per scene, %d frames each, window %dx%d (ms)\n\n", frames, ASys.fbWidth, ASys.fbHeight);
    printf("| %-34s | %8s | %8s | %8s | %6s | %5s |\n", "scene", "wall", "CPU", "worst", "tris", "upl.");
    printf("|%s|%s|%s|%s|%s|%s|\n", "------------------------------------", "----------", "----------",
           "----------", "--------", "-------");

    // Loader: one update each, timing the loads apart from the screen.
    double loadTime[130] = {0};
    Sample busiest = {0, 0, 0};
    int busiestStep = 0;
    g.loadStep = 1;
    while (g.loadStep > 0) {
        int step = g.loadStep;
        double t0 = Now();
        Sample s = Measure(1, [] {});
        loadTime[step] = Now() - t0;
        if (s.wall > busiest.wall && step > 11 && step != 20) {
            busiest = s;
            busiestStep = step;
        }
    }
    // The loading screen at its busiest step, run again as a steady scene.
    g.loadStep = busiestStep;
    Sample loading = Measure(frames, [&] { g.loadStep = busiestStep; });
    char name[64];
    snprintf(name, sizeof name, "loading screen (step %d)", busiestStep);
    Row(name, loading);
    g.loadStep = 0;

    g.gameMode = 0;
    g.menuPage = 0;
    g.subScreen = 0;
    Row("start page", Measure(frames, [] { g.menuPage = 0; }));

    g.menuPage = 1;
    Measure(60, [] { g.menuPage = 1; });  // panel slides in
    Row("level page with the panel", Measure(frames, [] { g.menuPage = 1; g.boardTimer = 100; }));

    g.menuPage = 0;
    g.subScreen = 1;
    Row("options", Measure(frames, [] { g.subScreen = 1; }));

    g.subScreen = 2;
    Row("credits", Measure(frames, [] { g.subScreen = 2; }));

    g.subScreen = 0;
    g.gameMode = 11;
    Measure(1, [] {});
    // Fire held: three sparks a frame, as the demo throws them.
    auto fire = [] {
        for (int k = 0; k < 3; k++)
            g.ThrowParticle(g.screenW / 2, g.screenH / 2, g.Rnd(0, 360), 2 * k, k + 1, g.Rnd(0, 360), g.Rnd(3, 7));
    };
    Measure(80, fire);
    int alive = 0;
    for (int i = 0; i < 256; i++) alive += g.particles[i][0] > 0;
    snprintf(name, sizeof name, "game with %d particles", alive);
    Row(name, Measure(frames, fire));
    g.StopMusic();

    printf("\nStaged loader: time of each loading step (load + loading screen, ms)\n\n");
    const char* what[21] = {"", "font entplain.png", "KELPLogo.png (32)", "icons.png (64)", "particles.png (32)",
                            "sound 95", "play 95, sound 01", "options.png (32)", "sound 99", "sound 98",
                            "menu.png (504)", "logo.png (1024)", "", "", "", "", "", "", "", "", "gfx.png (32)"};
    for (int s = 1; s <= 20; s++)
        if (what[s][0]) printf("| %2d | %-20s | %8.2f |\n", s, what[s], loadTime[s] * 1000);

    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    printf("\nPeak resident memory: %.1f MiB\n", ru.ru_maxrss / 1024.0);
    ASys.Close();
    return 0;
}
