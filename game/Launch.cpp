// The spine of the demo: launch sequence, the fixed-step main loop, one
// update, one render, and the staged asset loader.
#include <cstdio>
#include <cstring>
#include <string>

#include "MyGame.h"

void MyGame::Launch(const char* programPath) {
    SetDataRoot(programPath);
    Begin(550, "Test Game");
    gameVersion = 1;
    SetKeyword("Sample keyword text");
    Smooth(0);

    memset(saveData, 0, sizeof saveData);
    saveData[SAVE_SFX_VOLUME] = 7;
    saveData[SAVE_MUSIC_VOLUME] = 7;
    saveData[SAVE_INVERT_Y] = 0;
    saveData[SAVE_LEVEL] = 2;

    KeyDefaults();
    Load();
    AddDefaultCredits();

    showStats = saveData[SAVE_SHOW_STATS];
    loadStep = 1;
    gameMode = 0;
    chosenLevel = 0;
    menuPage = 0;
    subScreen = 0;
    logoZoom = 1.0f;
    FlushGame();
    nextUpdate = 0;
    nextRender = 0;

    GameLoop();
}

void MyGame::GameLoop() {
    quitRequested = 0;
    if (WindowFailed()) {
        fprintf(stderr, "No display could be opened: cannot create a window (is DISPLAY set?).\n");
        quitRequested = 1;
    }
    // One pass at a time, as a browser runs them (one a frame): what follows
    // the loop is in Finish, which runs once it has ended.
    RunLoop([this] { return LoopPass(); }, [this] { Finish(); });
}

bool MyGame::LoopPass() {
    if (quitRequested != 0) return false;
    KeepAlive();
    // A window lost for good (a failed re-creation) cannot come back.
    if (WindowFailed()) {
        fprintf(stderr, "The window could not be re-created; stopping.\n");
        quitRequested = 1;
    }
    return quitRequested == 0;
}

void MyGame::Finish() {
    Terminate();
    boardSlide = 0;
    boardTimer = 0;
    boardPage = 0;
    boardSpare = 0;
    Save();
}

void MyGame::KeepAlive() {
    sfxVolume = saveData[SAVE_SFX_VOLUME] / 10.0f;
    musicVolume = saveData[SAVE_MUSIC_VOLUME] / 10.0f;
    overscan = saveData[SAVE_OVERSCAN] / 50.0f;

    if (focusState == 1 && PassPerFrame()) {
        // A browser: this pass is one display frame.
        FrameSteps();
    } else if (focusState == 1) {
        // An update a step (32 ms under the pause menu), and a render; the
        // loop sleeps until one is due instead of spinning on the clock.
        const int step = StepMs();
        RestUntil(nextUpdate < nextRender ? nextUpdate : nextRender, step);
        if (StepDue(nextUpdate, Mills(), step, 0, 0)) Update();
        if (StepDue(nextRender, Mills(), step, 0, 0)) Render();
        if (paused == 0) MusicHandler();
    }
    if (focusState > 0) return;

    // Without the focus the game stands still: its input is read and its
    // frame drawn every 150 ms, and the loop sleeps between.
    if (StepDue(nextUpdate, Mills(), kUnfocusedMs, 0, 0)) PollInput(saveData[SAVE_INVERT_Y]);
    if (StepDue(nextRender, Mills(), kUnfocusedMs, 0, 0)) Render();
    Rest(kUnfocusedMs);
}

int MyGame::StepMs() const { return paused == 1 ? 32 : 16; }

void MyGame::FrameSteps() {
    // The updates due since the last frame, on the clock that keeps the
    // step's phase, so the game keeps its 62.5 updates a second whatever the
    // display's rate; then the frame shows what they drew: one render, if
    // any ran. The step is asked again before each update, as one may open
    // the pause menu.
    int ran = 0;
    while (focusState == 1 && StepDue(nextUpdate, Mills(), StepMs(), 1, ran)) {
        UpdateAt(nextUpdate - StepMs());
        ran++;
    }
    if (ran > 0) {
        nextRender = Mills() + StepMs();
        Render();
    }
    if (paused == 0) MusicHandler();
}

void MyGame::Update() { UpdateAt(Mills()); }

void MyGame::UpdateAt(int tick) {
    pointerDown = mdall();

    prevUpdateTick = updateTick;
    updateTick = tick;
    frameDelta = FrameDelta(updateTick - prevUpdateTick);

    stickDX = Joy(KELP_RIGHT) - Joy(KELP_LEFT);
    stickDY = Joy(KELP_DOWN) - Joy(KELP_UP);

    PollInput(saveData[SAVE_INVERT_Y]);
    ResetDraw();
    if (loadStep < 1) {
        LoopTarget();
        EndBanner();
    } else {
        Loader();
    }
    BufferGame();
    if (TraceScreens) {
        static std::string last;
        static int lastScore = 0;
        std::string name = ScreenName();
        if (name != last) {
            last = name;
            Debuglog(("Trace screen: " + name).c_str());
        }
        if ((int)score != lastScore) {
            lastScore = (int)score;
            Debuglog(fstr("Trace score: %d", lastScore));
        }
    }
}

const char* MyGame::ScreenName() const {
    const bool banner = endPending != 0 || endTimer > 0;
    if (loadStep >= 1) return "loading";
    switch (subScreen) {
        case 1: return "options";
        case 2: return "credits";
        case 3:
            // A capture takes the next new key once its first updates, which
            // lock whatever is held as it starts, are over.
            if (keyLatch[LATCH_CAPTURE] == 2 && captureTimer > 0)
                return captureLock < 0 ? "redefine capture" : "redefine lock";
            return "redefine";
        default: break;
    }
    switch (gameMode) {
        case 0:
            if (menuPage == 1) return banner ? "level banner" : "level";
            return banner ? "start banner" : "start";
        case 1: return "leaving game";
        case 10:
            if (paused == 1) return banner ? "pause banner" : "pause";
            return banner ? "game banner" : "game";
        case 11: return "starting game";
        default: return "none";
    }
}

float MyGame::FrameDelta(int elapsedMs) {
    // A stall counts as at most 128 ms and a burst as at least 5 ms.
    float d = (float)elapsedMs;
    if (d > 128) d = 128;
    if (d < 5) d = 5;
    return d / 16.666666666666668f;
}

void MyGame::Render() { RenderGame(screenW, screenH); }

void MyGame::Loader() {
    // Every later load is queued at the first step: the images are decoded
    // and packed on the loading thread while the loading screen runs, and
    // each load is taken in at its own step (or, if it is not ready by then,
    // at a later one), in step order, so the slots fill and the log reads as
    // if each step had loaded its asset itself.
    if (loadStep == 1) {
        QueueImg(2, 60, "KELPLogo", 32);
        QueueImg(3, 50, "icons", 64);
        QueueImg(4, 55, "particles", 32);
        QueueLoad(5, -1, nullptr, [this] { LoadSFX(95); });
        QueueLoad(6, -1, nullptr, [this] {
            PlaySFX(95, 1.0f);
            LoadSFX(1);
        });
        QueueImg(7, 52, "options", 32);
        QueueLoad(8, -1, nullptr, [this] { LoadSFX(99); });
        QueueLoad(9, -1, nullptr, [this] { LoadSFX(98); });
        QueueImg(10, 53, "menu", 504);
        QueueImg(11, 54, "logo", 1024);
        QueueImg(20, 0, "gfx", 32);
        // The loading screen writes with the font from this very update, so
        // it is loaded here, while the loading thread starts on the logo.
        LoadFont(51, "entplain.png");
    }
    const int loaded = (loadStep >= 1 && loadStep <= 11) || loadStep == 20;
    // The loading screen builds the logo from its tiles from step 6 on: its
    // load must be in before then.
    CollectLoads(loadStep, loadStep + 1 > 5 ? 60 : -1);
    loadStep += 1;
    LoadingScreen();
    if (loadStep > 120 && !loaded) {
        // The one place the loader waits for whatever is still being prepared.
        FinishLoads();
        loadStep = 0;
    }
}
