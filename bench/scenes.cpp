// Frame time of the demo's own scenes (update + render on a real window),
// measured beside two frames drawn on the same window in the same run: the
// empty frame (clear and swap) and a plain-OpenGL reference of what a menu
// frame needs (a full-canvas background from a 1024 x 1024 texture, a second
// blended full-canvas layer, 150 glyph-sized quads; texture objects made
// once). The three take turns in short rounds, so a change in machine load
// hits them alike; the ratios are the figures to compare between runs.
// Also: the loader run as the game runs it (one update and render every
// 16 ms) with its longest frame, and peak resident memory.
// Prints tables; asserts nothing.
//   bench_scenes [frames per scene, default 200]
//   bench_scenes --scene K [frames]     scene K alone (0 = the first listed)
#include <GLFW/glfw3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench/data_root.h"
#include "bench/reference.h"
#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

static double Now(clockid_t c = CLOCK_MONOTONIC) {
    timespec t;
    clock_gettime(c, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static MyGame& g = ThisGame;

static double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

static double Worst(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }



// ---- Scenes ------------------------------------------------------------------------

struct Scene {
    const char* name;
    std::function<void()> enter;    // once, before the warm-up
    std::function<void()> before;   // ahead of every update
    std::vector<double> frames, cpu, ref, empty;
    double first = 0;   // the scene's very first frame, its first uploads included
    int uploads = 0, tris = 0;
    Scene(const char* n, std::function<void()> e, std::function<void()> b)
        : name(n), enter(std::move(e)), before(std::move(b)) {}
};

static void GameFrame(const std::function<void()>& before) {
    before();
    g.Update();
    g.Render();
}

static double Timed(const std::function<void()>& f) {
    double t0 = Now();
    f();
    return Now() - t0;
}

// The demo's scenes in the order they are measured; each one's `enter`
// starts from the state the one before it left.
static std::vector<Scene> Scenes() {
    return {
        {"loading screen (step 60)", [] {}, [] { g.loadStep = 60; }},
        {"start page", [] { g.loadStep = 0; g.gameMode = 0; g.menuPage = 0; g.subScreen = 0; },
         [] { g.menuPage = 0; }},
        {"level page with the panel", [] { g.menuPage = 1; }, [] { g.menuPage = 1; g.boardTimer = 100; }},
        {"options", [] { g.menuPage = 0; g.subScreen = 1; }, [] { g.subScreen = 1; }},
        {"credits", [] { g.subScreen = 2; }, [] { g.subScreen = 2; }},
        {"game with particles", [] { g.subScreen = 0; g.gameMode = 11; },
         [] {
             // Fire held: three sparks a frame, as the demo throws them.
             for (int k = 0; k < 3; k++)
                 g.ThrowParticle(g.screenW / 2, g.screenH / 2, g.Rnd(0, 360), 2 * k, k + 1, g.Rnd(0, 360),
                                 g.Rnd(3, 7));
         }},
    };
}

// Rounds of `round` scene frames, reference frames and empty frames in turn.
static void MeasureScene(Scene& s, int frames) {
    s.enter();
    for (int i = 0; i < 40; i++) GameFrame(s.before);   // uploads, slides and fades settle
    const int round = 20;
    for (int done = 0; done < frames; done += round) {
        for (int i = 0; i < round; i++) {
            double c0 = Now(CLOCK_THREAD_CPUTIME_ID);
            s.frames.push_back(Timed([&] { GameFrame(s.before); }));
            s.cpu.push_back(Now(CLOCK_THREAD_CPUTIME_ID) - c0);
        }
        s.uploads = TexUploads;
        s.tris = ASys.polyCount;
        for (int i = 0; i < round; i++) s.ref.push_back(Timed([] { Ref.Frame(); }));
        for (int i = 0; i < round; i++) s.empty.push_back(Timed(EmptyFrame));
    }
}

// One scene alone, for a trace of its GL calls (bench/replay.py): the loader
// runs without rendering, then the scene renders `frames` frames after its
// 40 to settle, and the program ends at once after the last swap, so that the
// last frame of the trace is one of the scene's. Prints the median time of
// the scene's render (the render only, swap and event pump included).
static void SceneAlone(int k, int frames) {
    std::vector<Scene> scenes = Scenes();
    g.loadStep = 1;
    while (g.loadStep > 0) g.Update();
    for (int i = 0; i <= k; i++) scenes[i].enter();
    for (int i = 0; i < 40; i++) GameFrame(scenes[k].before);
    std::vector<double> render;
    for (int i = 0; i < frames; i++) {
        scenes[k].before();
        g.Update();
        render.push_back(Timed([] { g.Render(); }));
    }
    printf("scene %d %s: render median %.3f ms over %d frames\n", k, scenes[k].name, Median(render) * 1000, frames);
    fflush(stdout);
    _exit(0);
}

int main(int argc, char** argv) {
    int scene = -1, arg = 1;
    if (argc > 2 && strcmp(argv[1], "--scene") == 0) {
        scene = atoi(argv[2]);
        arg = 3;
    }
    int frames = argc > arg ? atoi(argv[arg]) : 200;
    if (frames < 20) frames = 20;
    if (!UsePrivateDataRoot(g, argv[0])) return 1;

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
    if (scene >= 0 && scene < (int)Scenes().size()) SceneAlone(scene, frames);

    // The loader as the game runs it: an update and a render every 16 ms,
    // the next one due 16 ms after this one starts (no catching up).
    std::vector<double> loadFrames, loadUpdates;
    std::vector<int> loadSteps;
    g.loadStep = 1;
    const double loadStart = Now();
    double due = loadStart;
    while (g.loadStep > 0) {
        int step = g.loadStep;
        double now = Now();
        if (now < due) usleep((useconds_t)((due - now) * 1e6));
        due = Now() + 0.016;
        double update = 0;
        loadFrames.push_back(Timed([&] {
            update = Timed([] { g.Update(); });
            g.Render();
        }));
        loadUpdates.push_back(update);
        loadSteps.push_back(step);
    }
    const double loaderTotal = Now() - loadStart;
    // The start page's first frame: the first after the loader, as the game
    // shows it (the scenes below start again from the loading screen).
    g.loadStep = 0;
    g.gameMode = 0;
    const double startFirst = Timed([] { GameFrame([] {}); });

    std::vector<Scene> scenes = Scenes();

    // Every scene once, so that memory has seen all of them before the
    // reference's own textures are made; then the measured rounds.
    for (Scene& s : scenes) {
        s.enter();
        s.first = Timed([&] { GameFrame(s.before); });
        for (int i = 1; i < 40; i++) GameFrame(s.before);
    }
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    const double peakMiB = ru.ru_maxrss / 1024.0;
    Ref.Make();
    for (Scene& s : scenes) MeasureScene(s, frames);
    g.StopMusic();

    std::vector<double> allRef, allEmpty;
    for (Scene& s : scenes) {
        allRef.insert(allRef.end(), s.ref.begin(), s.ref.end());
        allEmpty.insert(allEmpty.end(), s.empty.begin(), s.empty.end());
    }
    printf("Frame times, window %dx%d, %d frames a scene in rounds of 20 beside 20 reference and 20 empty "
           "frames (ms)\n\n",
           ASys.fbWidth, ASys.fbHeight, frames);
    printf("\"main\" is the CPU time of the game's own thread (update, list walk, uploads); the rest of a\n"
           "frame is the GL driver's rasterising threads. \"first\" is the scene's first frame, when the\n"
           "planes it shows for the first time are uploaded. \"upl.\" counts the uploads of a steady frame.\n\n");
    printf("| %-26s | %6s | %6s | %6s | %6s | %6s | %6s | %6s | %6s | %4s | %5s |\n", "scene", "median", "worst",
           "main", "first", "ref.", "empty", "/ref.", "/empty", "upl.", "tris");
    printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", "----------------------------", "-------:", "-------:",
           "-------:", "-------:", "-------:", "-------:", "-------:", "-------:", "-----:", "------:");
    for (Scene& s : scenes) {
        double m = Median(s.frames), r = Median(s.ref), e = Median(s.empty);
        printf("| %-26s | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %4d | %5d |\n", s.name,
               m * 1000, Worst(s.frames) * 1000, Median(s.cpu) * 1000, s.first * 1000, r * 1000, e * 1000, m / r,
               m / e, s.uploads, s.tris);
    }
    printf("| %-26s | %6.2f | %6.2f |        |        |        |        |        |        |      |       |\n",
           "reference frame", Median(allRef) * 1000, Worst(allRef) * 1000);
    printf("| %-26s | %6.2f | %6.2f |        |        |        |        |        |        |      |       |\n",
           "empty frame (clear, swap)", Median(allEmpty) * 1000, Worst(allEmpty) * 1000);

    size_t longest = 0;
    for (size_t i = 0; i < loadFrames.size(); i++)
        if (loadFrames[i] > loadFrames[longest]) longest = i;
    printf("\nLoader, one update + render every 16 ms: %zu updates in %.0f ms; frame median %.2f ms, "
           "longest %.2f ms (step %d)\n",
           loadFrames.size(), loaderTotal * 1000, Median(loadFrames) * 1000, Worst(loadFrames) * 1000,
           loadSteps.empty() ? 0 : loadSteps[longest]);
    printf("Start page's first frame, right after the loader: %.2f ms\n", startFirst * 1000);
    printf("Loader frames over 16 ms:");
    int over = 0;
    for (size_t i = 0; i < loadFrames.size(); i++)
        if (loadFrames[i] > 0.016) {
            printf(" step %d %.1f ms (update %.1f);", loadSteps[i], loadFrames[i] * 1000, loadUpdates[i] * 1000);
            over++;
        }
    printf(over ? "\n" : " none\n");
    // Where a load's time goes: each image of the loader prepared again
    // (median of three), and each sound loaded again, on this thread alone.
    printf("\nLoads, prepared again one at a time (ms; median of 3)\n\n");
    printf("| %-20s | %7s | %7s | %7s | %7s | %7s |\n", "image", "decode", "pack", "fringe", "blur", "total");
    printf("|%s|%s|%s|%s|%s|%s|\n", "----------------------", "--------:", "--------:", "--------:", "--------:",
           "--------:");
    const struct { const char* file; int size; } images[] = {
        {"entplain.png", 32}, {"KELPLogo.png", 32}, {"icons.png", 64}, {"particles.png", 32},
        {"options.png", 32},  {"menu.png", 504},    {"logo.png", 1024}, {"gfx.png", 32},
    };
    for (auto& im : images) {
        std::string path = std::string(g.dataRoot) + "/Data/550/" + im.file;
        std::vector<double> ph[5];
        for (int k = 0; k < 3; k++) {
            PreparedImage p = PrepareImage(path.c_str(), im.size);
            ph[0].push_back(p.decodeMs);
            ph[1].push_back(p.packMs);
            ph[2].push_back(p.fringeMs);
            ph[3].push_back(p.blurMs);
            ph[4].push_back(p.decodeMs + p.packMs + p.fringeMs + p.blurMs);
        }
        printf("| %-20s | %7.2f | %7.2f | %7.2f | %7.2f | %7.2f |\n", im.file, Median(ph[0]), Median(ph[1]),
               Median(ph[2]), Median(ph[3]), Median(ph[4]));
    }
    for (int n : {95, 1, 99, 98}) {
        std::vector<double> t;
        for (int k = 0; k < 3; k++) t.push_back(Timed([n] { g.LoadSFX(n); }) * 1000);
        printf("| sound %02d.wav%s | %7s | %7s | %7s | %7s | %7.2f |\n", n, AudioEnabled ? "        " : " (no device)",
               "", "", "", "", Median(t));
    }
    printf("\nPeak resident memory: %.1f MiB\n", peakMiB);
    ASys.Close();
    return 0;
}
