// Game flow: one screen per update chosen by the mode fields, the end of a
// game with its banner, and the reset of the per-game data.
#include <cstring>

#include "MyGame.h"
#include "../core/CoreState.h"

void (*MyGame::flowScreens[FLOW_COUNT])(MyGame& game) = {
    [](MyGame& g) { g.DoMenu(); },
    [](MyGame& g) { g.LoadMenu(); },
    [](MyGame& g) { g.DoGame(); },
    [](MyGame& g) { g.Ingame(); },
    [](MyGame& g) { g.PauseMenu(); },
    [](MyGame& g) { g.LoadGame(); },
    [](MyGame& g) { g.Options(); },
    [](MyGame& g) { g.Credits(); },
    [](MyGame& g) { g.RedefineKeys(); },
    [](MyGame& g) { g.DoParticles(); },
};

void MyGame::LoopTarget() {
    if (subScreen == 0) {
        switch (gameMode) {
            case 0: flowScreens[FLOW_MENU](*this); break;
            case 1: flowScreens[FLOW_LOADMENU](*this); break;
            case 10:
                if (paused == 0) {
                    flowScreens[FLOW_GAME](*this);
                    flowScreens[FLOW_INGAME](*this);
                } else if (paused == 1) {
                    flowScreens[FLOW_PAUSE](*this);
                }
                break;
            case 11: flowScreens[FLOW_LOADGAME](*this); break;
            default: break;
        }
    }
    // Read again: a screen opened above runs in this same update.
    switch (subScreen) {
        case 1: flowScreens[FLOW_OPTIONS](*this); break;
        case 2: flowScreens[FLOW_CREDITS](*this); break;
        case 3: flowScreens[FLOW_REDEFINE](*this); break;
        default: break;
    }
    flowScreens[FLOW_PARTICLES](*this);
}

const char* MyGame::EndWords(int reason, int which) {
    static const char* const kWords[5][2] = {
        {"Quit", "Game"}, {"Level", "Complete"}, {"Well", "Done"}, {"Time", "Up"}, {"Game", "Over"}};
    int row = 4;
    switch (reason) {
        case -1: row = 0; break;
        case 2: row = 1; break;
        case 3: row = 2; break;
        case 4: row = 3; break;
        default: break;
    }
    return kWords[row][which ? 1 : 0];
}

void MyGame::EndBanner() {
    if (endPending != 0) {
        endTimer += 1;
        if (endTimer > 120) gameMode = 1;
    }
    if (endPending == 0 && endTimer > 0) {
        endTimer -= 3;
        if (endTimer < 0) endTimer = 0;
    }
    if (endTimer <= 0) return;

    ResetDraw();
    int t = endTimer;
    float s = 2.0f * t;
    if (s > 120) s = 120;
    float r = 3.0f * t;
    // Fractional on purpose: the banner fades over its last updates.
    float a = t / 80.0f + 0.1f;
    if (a > 0.4f) a = 0.4f;
    bool still = saveData[SAVE_REDUCE_MOTION] == 1;
    if (still) {
        s = 240;
        r = 360;
        a = 0.4f;
    }
    const char* first = EndWords(endReason, 0);
    const char* second = EndWords(endReason, 1);

    LockKeys();
    keyLatch[LATCH_STEP] = 50;

    bool pending = endPending != 0;
    float cx = screenW / 2, cy = screenH / 2;
    SetCol(128, 128, 0, a);
    SetRot(pending ? r : 360 - r);
    Rect(cx, cy, 12 * s, 12 * s);
    SetCol(128, 64, 0, a);
    SetRot(pending ? -r : r - 360);
    Rect(cx, cy, 10 * s, 10 * s);
    SetCol(0, 0, 0, a);
    SetRot(0);
    Rect(cx, cy, 8 * s, 8 * s);

    ResetDraw();
    SetSize(1.5f);
    float o = (t - 20) * 32.0f;
    if (o > 0 || still) o = 0;
    Text(screenW * 0.4f - o, screenH / 2 - 24, first, 1);
    Text(screenW * 0.6f + o, screenH / 2 + 24, second, 1);
}

void MyGame::EndGame(int reason) {
    if (endPending != 0) return;
    endPending = reason;
    endReason = reason;
    endTimer = 0;
}

void MyGame::FlushGame() {
    paused = 0;
    endPending = 0;
    endTimer = 0;
    memset(gameWordsA, 0, sizeof gameWordsA);
    kelp::Zero(gameWordsB, sizeof gameWordsB);   // 48 MiB that the demo itself never writes
    memset(gameValues, 0, sizeof gameValues);
    memset(gameWordsD, 0, sizeof gameWordsD);
    memset(particleBlock, 0, sizeof particleBlock);
    camX = 0;
    camY = 0;
    camSpare1 = 0;
    camSpare2 = 0;
}

void MyGame::LockKeys() {
    for (int i = 0; i < LATCH_COUNT; i++) {
        keyLatch[i] = 1;
        touchLatch[i] = 1;
    }
}
