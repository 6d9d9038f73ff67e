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
    saveData[0] = 7;
    saveData[1] = 7;
    saveData[10] = 0;
    saveData[101] = 2;

    KeyDefaults();
    Load();
    AddDefaultCredits();

    showStats = saveData[22];
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
    if (ASys.windowFailed) {
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
    if (ASys.windowFailed) {
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
    sfxVolume = saveData[0] / 10.0f;
    musicVolume = saveData[1] / 10.0f;
    overscan = saveData[20] / 50.0f;

    if (focusState == 1 && SysPassPerFrame) {
        // A browser: this pass is one display frame.
        FrameSteps();
    } else if (focusState == 1) {
        int step = paused == 1 ? 32 : 16;
        RestUntilDue(step);
        if (Mills() >= nextUpdate) {
            nextUpdate = Mills() + step;
            Update();
        }
        if (Mills() < nextUpdate - 10000) {
            nextUpdate = Mills() + step;
            Update();
        }
        if (Mills() >= nextRender) {
            nextRender = Mills() + step;
            Render();
        }
        if (Mills() < nextRender - 10000) {
            nextRender = Mills() + step;
            Render();
        }
        if (paused == 0) MusicHandler();
    }
    if (focusState > 0) return;

    if (Mills() > nextUpdate) {
        nextUpdate += 150;
        PollInput(saveData[10]);
    }
    if (Mills() < nextUpdate - 10000) {
        nextUpdate = Mills() + 150;
        PollInput(saveData[10]);
    }
    if (Mills() > nextRender) {
        nextRender += 150;
        Render();
    }
    if (Mills() < nextRender - 10000) {
        nextRender = Mills() + 150;
        Render();
    }
    Rest(150);
}

void MyGame::RestUntilDue(int step) {
    // Sleeping instead of polling the clock frees the core between frames.
    // The sleep ends a millisecond before the earlier of the two due times
    // (passes poll that last one), and at the latest a step from now (passes
    // keep topping up the music), so every update and render still runs
    // when it falls due. A time the 10-second guard is about to re-base is
    // due now: no sleep.
    const int now = Mills();
    int wait = step;
    for (int due : {nextUpdate, nextRender}) {
        const int ahead = due - now;
        if (ahead > 10000) return;
        if (ahead < wait) wait = ahead;
    }
    if (wait > 1) Rest(wait - 1);
}

void MyGame::FrameSteps() {
    // Each update falls due a step after the last one was due, not a step
    // after the frame that ran it, so the game keeps its 62.5 updates a
    // second whatever the display's rate: a frame runs the updates due
    // since the one before (at 50 Hz two now and then, at 144 Hz none now
    // and then), a few at most. A frame later than that (a stall, the first
    // frame) drops the time it missed, as the desktop does, and so does the
    // 10-second guard; then one update runs. The frame shows what the
    // updates drew: one render, if any ran.
    const int kMostUpdates = 4;
    int ran = 0;
    while (focusState == 1 && ran < kMostUpdates) {
        const int step = paused == 1 ? 32 : 16;
        if (!StepDue(nextUpdate, Mills(), step, kMostUpdates, ran == 0)) break;
        UpdateAt(nextUpdate - step);
        ran++;
    }
    if (ran > 0) {
        nextRender = Mills() + (paused == 1 ? 32 : 16);
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

    stickDX = Joy(1) - Joy(3);
    stickDY = Joy(2) - Joy(0);

    PollInput(saveData[10]);
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
            if (keyLatch[66] == 2 && captureTimer > 0) return captureLock < 0 ? "redefine capture" : "redefine lock";
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
