// What the demo's own loop costs the machine between frames: the CPU time of
// the game's thread and of the whole process per wall-clock second, on the
// start page and in a game, run through KeepAlive on the machine's clock as
// the game runs it; beside the plain-OpenGL menu frame (bench/reference.h)
// paced at the same 16 ms step, sleeping between frames, on the same window
// in the same run. The three take turns, so that a change in the machine's
// load hits them alike. Also how late the loop starts an update it had to
// wait for: from the moment the update's millisecond begins to the moment
// the loop sees it due; and how much later than asked its sleeps end.
// Prints figures; asserts nothing.
//   bench_cpu [seconds a phase, default 4] [rounds, default 3]
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/data_root.h"
#include "bench/reference.h"
#include "game/MyGame.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

static MyGame& g = ThisGame;

static int64_t Ns(clockid_t c) {
    timespec t;
    clock_gettime(c, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

// The loop's clock, read as the game reads it (the monotonic clock in whole
// milliseconds), noting when a watched millisecond was first seen.
static int64_t gWatchMs = INT64_MAX, gSeenNs = 0;
static int64_t WatchedNowMs() {
    int64_t ns = Ns(CLOCK_MONOTONIC);
    int64_t ms = ns / 1000000;
    if (gSeenNs == 0 && ms >= gWatchMs) gSeenNs = ns;
    return ms;
}

// The loop's sleep, timed: how much later than asked each sleep ends.
static void (*gRealSleep)(int) = nullptr;
static std::vector<double> gOversleep;   // microseconds
static void TimedSleepMs(int ms) {
    const int64_t t0 = Ns(CLOCK_MONOTONIC);
    gRealSleep(ms);
    if (ms > 0) gOversleep.push_back((Ns(CLOCK_MONOTONIC) - t0 - ms * 1000000LL) / 1e3);
}

struct Sample {
    double mainCores = 0, processCores = 0, updates = 0, renders = 0;
};

struct Meter {
    int64_t wall, main, process;
    Meter() : wall(Ns(CLOCK_MONOTONIC)), main(Ns(CLOCK_THREAD_CPUTIME_ID)), process(Ns(CLOCK_PROCESS_CPUTIME_ID)) {}
    Sample Read() const {
        double w = double(Ns(CLOCK_MONOTONIC) - wall);
        Sample s;
        s.mainCores = (Ns(CLOCK_THREAD_CPUTIME_ID) - main) / w;
        s.processCores = (Ns(CLOCK_PROCESS_CPUTIME_ID) - process) / w;
        return s;
    }
    double Seconds() const { return (Ns(CLOCK_MONOTONIC) - wall) / 1e9; }
};

static int64_t gClockBase;   // monotonic milliseconds at Mills() 0

// The game's loop for `seconds`: KeepAlive pass after pass. Every update the
// loop had to wait for adds its lateness (microseconds) to `late`.
static Sample RunGame(double seconds, std::vector<double>& late) {
    Meter m;
    int updates = 0, renders = 0;
    int watched = g.nextUpdate - 1;
    bool waited = false;   // a pass began before the watched update was due
    while (m.Seconds() < seconds && !g.quitRequested) {
        const int due = g.nextUpdate, tick = g.updateTick, r = RenderCountLive;
        if (due != watched) {
            watched = due;
            gWatchMs = gClockBase + due;
            gSeenNs = 0;
            waited = false;
        }
        if (Ns(CLOCK_MONOTONIC) < gWatchMs * 1000000) waited = true;
        g.KeepAlive();
        if (RenderCountLive != r) renders++;
        if (g.updateTick == tick) continue;
        updates++;
        if (waited && gSeenNs) late.push_back((gSeenNs - gWatchMs * 1000000) / 1e3);
        watched = g.nextUpdate - 1;
    }
    gWatchMs = INT64_MAX;
    Sample s = m.Read();
    s.updates = updates / m.Seconds();
    s.renders = renders / m.Seconds();
    return s;
}

// The plain-GL menu frame every 16 ms, sleeping until the next is due.
static Sample RunReference(double seconds) {
    Meter m;
    int frames = 0;
    int64_t due = Ns(CLOCK_MONOTONIC);
    while (m.Seconds() < seconds) {
        Ref.Frame();
        frames++;
        due += 16000000;
        int64_t now = Ns(CLOCK_MONOTONIC);
        if (due < now) due = now;   // late: no catching up, as the game's loop
        timespec t = {(time_t)(due / 1000000000), (long)(due % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0) {
        }
    }
    Sample s = m.Read();
    s.updates = s.renders = frames / m.Seconds();
    return s;
}

static double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

static double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 4;
    int rounds = argc > 2 ? atoi(argv[2]) : 3;
    if (seconds < 0.5) seconds = 0.5;
    if (rounds < 1) rounds = 1;
    if (!UsePrivateDataRoot(g, argv[0])) return 1;

    ClockNowMs = WatchedNowMs;
    gRealSleep = ClockSleepMs;
    ClockSleepMs = TimedSleepMs;
    g.Begin(550, "Test Game");
    if (!ASys.window) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    for (;;) {   // the same millisecond read twice: no tick fell between
        int64_t a = WatchedNowMs();
        int mills = g.Mills();
        if (WatchedNowMs() == a) {
            gClockBase = a - mills;
            break;
        }
    }
    g.KeyDefaults();
    g.showStats = 0;
    g.loadStep = 1;
    g.nextUpdate = g.nextRender = 0;
    while (g.loadStep != 0 && !g.quitRequested) g.KeepAlive();
    Ref.Make();

    std::vector<Sample> start, game, ref;
    std::vector<double> late;
    gOversleep.clear();   // the loader's sleeps are not the menus'
    for (int r = 0; r < rounds; r++) {
        g.StopMusic();
        g.gameMode = 0;
        g.menuPage = 0;
        g.subScreen = 0;
        start.push_back(RunGame(seconds, late));
        g.gameMode = 11;   // a new game starts on the next update
        game.push_back(RunGame(seconds, late));
        g.StopMusic();
        ref.push_back(RunReference(seconds));
    }

    auto med = [](const std::vector<Sample>& v, double Sample::*f) {
        std::vector<double> x;
        for (const Sample& s : v) x.push_back(s.*f);
        return Median(x);
    };
    const double refMain = med(ref, &Sample::mainCores), refProcess = med(ref, &Sample::processCores);
    printf("CPU per wall-clock second (cores), window %dx%d, %d rounds of %.1f s a phase; medians of the rounds\n\n",
           ASys.fbWidth, ASys.fbHeight, rounds, seconds);
    printf("| %-32s | %6s | %7s | %7s | %7s | %8s | %8s |\n", "phase", "main", "process", "updates", "renders",
           "main/ref", "proc/ref");
    printf("|%s|%s|%s|%s|%s|%s|%s|\n", "----------------------------------", "-------:", "--------:", "--------:",
           "--------:", "---------:", "---------:");
    struct Row { const char* name; const std::vector<Sample>* v; } rows[] = {
        {"start page (the game's loop)", &start}, {"game (the game's loop)", &game},
        {"plain-GL frame, paced, sleeping", &ref}};
    for (const Row& row : rows) {
        double m = med(*row.v, &Sample::mainCores), p = med(*row.v, &Sample::processCores);
        printf("| %-32s | %6.3f | %7.3f | %7.1f | %7.1f | %8.2f | %8.2f |\n", row.name, m, p,
               med(*row.v, &Sample::updates), med(*row.v, &Sample::renders), refMain > 0 ? m / refMain : 0,
               refProcess > 0 ? p / refProcess : 0);
    }
    printf("\nLateness of the updates the loop waited for (%zu updates): median %.1f us, 99th percentile %.0f us, "
           "largest %.0f us\n",
           late.size(), Median(late), Percentile(late, 0.99),
           late.empty() ? 0 : *std::max_element(late.begin(), late.end()));
    if (gOversleep.empty()) {
        printf("The loop never slept.\n");
    } else {
        printf("Its sleeps (%zu) ended later than asked by: median %.0f us, 99th percentile %.0f us\n",
               gOversleep.size(), Median(gOversleep), Percentile(gOversleep, 0.99));
    }
    ASys.Close();
    return 0;
}
