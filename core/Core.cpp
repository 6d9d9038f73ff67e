// Framework start and end, the millisecond clock, and the two per-update
// hand-overs to the platform layer: the commit of the draw list and the render.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

namespace kelp {
int32_t UpdateCountLive = 0, RenderCountLive = 0;
clock_t GameStartTime = 0;

CoreState& StateOf(KELPCore& game) { return *game.state_; }
}  // namespace kelp

KELPCore::KELPCore() : state_(new CoreState()) {}
KELPCore::~KELPCore() { delete state_; }

static int64_t MillsStart;
// UpdatesDue's next due time; unset until its first call after Begin.
static int32_t NextUpdateDue;
static bool UpdateDueSet = false;

// A game run from its build or its own folder has Data/ beside it. One
// started through PATH (no folder in its path) or through a link is found
// by its own file; one installed as <prefix>/games/<name> keeps its data in
// <prefix>/share/games/<name>/, where a package puts it.
static void FindInstalledData(char* root, size_t size) {
    if (KELPSys::IsFolder(string(root) + "/Data")) return;
    string program = KELPSys::ProgramFile();
    size_t slash = program.rfind('/');
    if (slash == string::npos) return;
    string folder = program.substr(0, slash), name = program.substr(slash + 1);
    size_t up = folder.rfind('/');
    string shared = up == string::npos ? "" : folder.substr(0, up) + "/share/games/" + name;
    for (const string& candidate : {folder, shared}) {
        if (candidate.empty() || candidate.size() >= size || !KELPSys::IsFolder(candidate + "/Data")) continue;
        snprintf(root, size, "%s", candidate.c_str());
        return;
    }
}

int KELPCore::SetDataRoot(const char* programPath) {
    snprintf(dataRoot, sizeof dataRoot, ".");
    int fits = 1;
    const char* cut = nullptr;
    for (const char* p = programPath ? programPath : ""; *p; p++)
        if (*p == '\\' || *p == '/') cut = p;
    if (cut) {
        size_t n = (size_t)(cut - programPath);
        if (n >= sizeof dataRoot) {
            // Keep "." rather than a cut path that names some other directory.
            KELPSys::Debuglog("Program path too long for the data root; using the current directory");
            fits = 0;
        } else {
            memcpy(dataRoot, programPath, n);
            dataRoot[n] = 0;
        }
    }
    FindInstalledData(dataRoot, sizeof dataRoot);
    return fits;
}

void KELPCore::Begin(int number, string title) {
    puts("\n-=-=-=-=-=-=-=-=-");
    printf("Root %s\n", dataRoot);
    fflush(stdout);
    GameStartTime = clock();
    MillsStart = ClockNowMs();
    UpdateDueSet = false;
    // A page starts its game again in the same program: no quit left over.
    quitRequested = 0;
    focusState = 1;
    gameNumber = number;
    padKeysEnabled = 1;
    DebugToggle = 0;
    showStats = 1;
    snprintf(gameTitle, sizeof gameTitle, "%s", title.c_str());
    ASys.SysInit(title.c_str());
    // The canvas of the window just opened, until the first render measures it.
    screenW = 800;
    screenH = 600;
    realWidth = ASys.fbWidth;
    realHeight = ASys.fbHeight;
    SeedRnd();
}

int KELPCore::WindowFailed() { return ASys.windowFailed ? 1 : 0; }

void KELPCore::Terminate() {
    // A load still queued would reach a platform layer that is shut down.
    DropLoads();
    ASys.Close();
    int t = Mills();
    printf("Runtime : %d:%02d\n", t / 60000, t / 1000 - (t / 60000) * 60);
    puts("Farewell happy gamer");
    puts("-=-=-=-=-=-=-=-=-\n");
    fflush(stdout);
}

void KELPCore::SetTitle(string title) {
    snprintf(gameTitle, sizeof gameTitle, "%s", title.c_str());
    Rescramble(*this);
}

string KELPCore::GetTitle() { return string(gameTitle); }

string KELPCore::MyName() { return KELPSys::SystemUsername(); }

clock_t KELPCore::StartTick() { return GameStartTime; }

int KELPCore::Mills() {
    // 32-bit millisecond arithmetic, as the timers compare int32 values.
    return (int)((uint32_t)ClockNowMs() - (uint32_t)MillsStart);
}

void KELPCore::Rest(int ms) {
    if (ms > 0) ClockSleepMs(ms);
}

int KELPCore::UpdatesDue(int stepMs) {
    int now = Mills();
    if (!UpdateDueSet) {
        UpdateDueSet = true;
        NextUpdateDue = now;
    }
    // On the desktop the wait is a sleep; in a browser Rest returns at once
    // and the frame simply has no update due.
    if (now < NextUpdateDue && NextUpdateDue - now <= 10000) {
        Rest(NextUpdateDue - now);
        now = Mills();
    }
    int due = 0;
    while (StepDue(NextUpdateDue, now, stepMs, 1, due)) due++;
    return due;
}

int KELPCore::StepDue(int32_t& due, int now, int stepMs, int catchUp, int ran) {
    // A pass late by more than this many steps drops the time it missed.
    const int kMostSteps = 4;
    if (stepMs < 1) stepMs = 1;
    if (stepMs > 1000) stepMs = 1000;
    if (!catchUp) {
        // The next step falls a step after this one ran: a late step is not
        // made up, and a pass runs one at most.
        if (ran > 0 || (now < due && due - now <= 10000)) return 0;
        due = now + stepMs;
        return 1;
    }
    // Each step falls due a step after the last one was due, not a step
    // after the pass that ran it, so a game keeps its rate whatever the
    // display's.
    if (ran >= kMostSteps) return 0;
    if (ran == 0 && (due - now > 10000 || now - due >= kMostSteps * stepMs)) due = now;
    if (now < due) return 0;
    due += stepMs;
    return 1;
}

int KELPCore::PassPerFrame() { return SysPassPerFrame; }

void KELPCore::RestUntil(int due, int mostMs) {
    // The sleep ends a millisecond before the due time (the passes poll that
    // last one), so a step still runs when it falls due; a due time the
    // 10-second guard is about to re-base is due now.
    const int ahead = due - Mills();
    if (ahead > 10000) return;
    const int wait = ahead < mostMs ? ahead : mostMs;
    if (wait > 1) Rest(wait - 1);
}

void KELPCore::RunLoop(std::function<bool()> pass, std::function<void()> done) {
    // Kept beyond this call: in a browser the passes run after it is gone.
    static std::function<bool()> loopPass;
    static std::function<void()> loopDone;
    loopPass = std::move(pass);
    loopDone = std::move(done);
    SysRunLoop([](void*) { return loopPass() ? 1 : 0; }, [](void*) { loopDone(); }, nullptr);
}

int kelp::RatePerSecond(int count, int elapsedMs) {
    if (elapsedMs <= 1000) return count;  // on time, or the clock went back
    return (int)(((int64_t)count * 1000 + elapsedMs / 2) / elapsedMs);
}

void KELPCore::FlipFullscreen() { ASys.FlipFull(); }

void kelp::Zero(void* block, size_t bytes) {
    if (!block || !bytes) return;
#ifdef __linux__
    // The whole pages of a large block are given back rather than written:
    // they read as zero again and take no memory until the game writes them.
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize > 0 && bytes >= 16 * (size_t)pageSize) {
        const uintptr_t page = (uintptr_t)pageSize;
        const uintptr_t start = (uintptr_t)block, end = start + bytes;
        const uintptr_t first = (start + page - 1) & ~(page - 1), last = end & ~(page - 1);
        if (madvise((void*)first, last - first, MADV_DONTNEED) == 0) {
            memset(block, 0, first - start);
            memset((void*)last, 0, end - last);
            return;
        }
    }
#endif
    memset(block, 0, bytes);
}

void KELPCore::RenderGame(float& w, float& h) {
    RenderCountLive++;
    int now = Mills();
    int32_t& renderSec = StateOf(*this).renderSec;
    if (now >= renderSec + 1000 || now <= renderSec - 1000) {
        renderFps = RatePerSecond(RenderCountLive, now - renderSec);
        renderSec = now;
        RenderCountLive = 0;
    }
    if (ASys.window) ASys.RenderSys(overscan);
    ASys.ComputeCanvas(w, h);
    realWidth = ASys.fbWidth;
    realHeight = ASys.fbHeight;
}

void KELPCore::BufferGame() {
    if (showStats == 1) {
        ResetDraw();
        SetSize(0.5f);
        if (updateFps == 59) updateFps = 60;
        if (renderFps == 59) renderFps = 60;
        const char* text = fstr("Update %ifps - Render %ifps - Polys %i", updateFps, renderFps, polysShown);
        float aspect = ASys.aspect > 0 ? ASys.aspect : 1;
        float h = (ASys.iBump == 2 ? screenW + 32 : screenW) / aspect;
        Text(8, ASys.iBump == 1 ? h - 40 : h - 8, text, 0, 0);
    }
    ASys.RenderBuffer();
    polysShown = ASys.polyCount;
    ASys.drawCount = 0;
    ASys.curBlend = 1;
}
