// Framework start and end, and the two per-update hand-overs to the platform
// layer: the commit of the draw list and the render.
#include <cstdio>
#include <cstring>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

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
    StartClock();
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

void KELPCore::FlipFullscreen() { ASys.FlipFull(); }

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
