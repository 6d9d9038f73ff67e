// The in-game pause trigger, the pause menu and the loading screen.
#include "MyGame.h"

void MyGame::Ingame() {
    ResetDraw();
    SetSize(1);
    // Without a touch start the button is invisible but still answers.
    SetCol(255, 255, 255, touchStarted == 0 ? 0.0f : 0.4f);
    // The end banner latches every key on each update, but not the pointer:
    // a pause opened under it could not be left again.
    if (Button(50, 32, 32, 0) > 0 && endPending == 0) {
        paused = 1;
        LockKeys();
        pauseSelection = 1;
    }

    // Every pause input must be released before it can pause again, so one
    // held after Resume does not reopen the menu.
    if (!PlayKey(PLAYKEY_PAD_START) && !PlayKey(PLAYKEY_ESCAPE) && ActionUp(KELP_START)) {
        keyLatch[LATCH_PAUSE] = 0;
    }
    if ((PlayKey(PLAYKEY_ESCAPE) || PlayKey(PLAYKEY_PAD_START) || ActionDown(KELP_START)) &&
        keyLatch[LATCH_PAUSE] == 0) {
        paused = 1;
        pauseSelection = 1;
        LockKeys();
    }
    ResetDraw();
}

void MyGame::PauseMenu() {
    const float W = screenW, H = screenH;

    ResetDraw();
    SetCLSRot(Mills() / 32, 0, 40);
    Text(100, 100, "Paused!");

    const int y = (int)(H - 128 + pauseSlide);

    // After 360 idle frames the buttons sink out of view; input lifts them.
    pauseIdle -= 1;
    if (pauseIdle >= -359) {
        pauseSlide -= 64;
    } else {
        pauseSlide += 4;
    }
    if (pauseSlide < 0) pauseSlide = 0;
    if (pauseSlide > 480) pauseSlide = 480;
    if (pointerDown > 0) pauseIdle = 0;

    if (ActionUp(KELP_BUTTON1) && ActionUp(KELP_BUTTON2) && ActionUp(KELP_BACK) &&
        ActionUp(KELP_START)) {
        keyLatch[LATCH_CONFIRM] = 0;
    }
    // Re-read each time: an activation latches everything for the rest of the frame.
    auto activate = [&]() {
        return (ActionDown(KELP_BUTTON1) || ActionDown(KELP_BUTTON2) || ActionDown(KELP_BACK) ||
                ActionDown(KELP_START)) &&
               keyLatch[LATCH_CONFIRM] == 0;
    };

    // Only the first pointer counts as a press of a pause button, and none
    // while the end banner runs (it holds every key latched, so an overlay
    // opened then could never be closed).
    auto press = [&](float x, int frame) {
        int hit = Button(50, x, y, frame);
        return endPending != 0 ? 0 : hit;
    };

    // Resume.
    SetSize(pauseSelection == 1 ? 1.5f : 1.0f);
    int r = press(W / 2, 0);
    if (pauseSelection == 1 && activate()) {
        r = 1;
        pauseIdle = 0;
    }
    if (r == 1) {
        paused = 0;
        PlaySFX(98, 1.0f);
        LockKeys();
    }

    // Quit.
    SetSize(pauseSelection == 0 ? 1.5f : 1.0f);
    r = press(W / 4, 1);
    if (pauseSelection == 0 && activate()) {
        r = 1;
        pauseIdle = 0;
    }
    if (r == 1) {
        paused = 0;
        PlaySFX(98, 1.0f);
        LockKeys();
        EndGame(-1);
    }

    // Options: the two gear layers turn against each other.
    SetSize(pauseSelection == 2 ? 1.5f : 1.0f);
    spinAngle = (spinAngle + 1) % 360;
    SetRot(-spinAngle);
    r = press(3 * W / 4, 3);
    SetRot(spinAngle);
    DrawImg(50, 3 * W / 4, y, 4);
    SetRot(0);
    if (pauseSelection == 2 && activate()) {
        r = 1;
        pauseIdle = 0;
    }
    if (r == 1) {
        subScreen = 1;
        // The overlay's statistics row shows the saved copy; F1 may have
        // changed the live value since.
        saveData[SAVE_SHOW_STATS] = showStats;
        PlaySFX(98, 1.0f);
        LockKeys();
    }

    if (ActionDown(KELP_RIGHT) && keyLatch[LATCH_PAUSE_SELECT] == 0) {
        keyLatch[LATCH_PAUSE_SELECT] = 1;
        pauseSelection += 1;
        PlaySFX(99);
        pauseIdle = 0;
    }
    if (ActionDown(KELP_LEFT) && keyLatch[LATCH_PAUSE_SELECT] == 0) {
        keyLatch[LATCH_PAUSE_SELECT] = 1;
        pauseSelection -= 1;
        PlaySFX(99);
        pauseIdle = 0;
    }
    if (pauseSelection < 0) pauseSelection = 2;
    if (pauseSelection > 2) pauseSelection = 0;
    if (ActionUp(KELP_RIGHT) && ActionUp(KELP_LEFT)) keyLatch[LATCH_PAUSE_SELECT] = 0;
    ResetDraw();
}

void MyGame::LoadingScreen() {
    const float W = screenW, H = screenH;
    const int s = loadStep;

    CLS(40, 0, 80);
    ResetDraw();

    // Two translucent fans turning from the bottom corners.
    SetRot(s / 4.0f);
    SetGradient(120, 0, 80, 0.35f, 0, 0, 0, 0);
    Fan(W, H, 0.85f * W);
    SetRot(-s / 3.0f);
    SetGradient(40, 0, 120, 0.35f, 0, 0, 0, 0);
    Fan(0, H, 0.85f * W);
    ResetDraw();

    // The logo builds itself from a 25 x 25 grid of tiles in a diagonal wave:
    // each tile appears at half size, rises and grows, then settles in place.
    if (s > 5) {
        for (int row = 0; row < 25; row++) {
            SetBlend(4 * (3 * s - row) <= 200 ? 3 : 1);
            for (int col = 0; col < 25; col++) {
                const int e = 6 * s - col - row;
                float v = Sin((float)e);
                if (v < 0.5f) v = 0;
                if (e > 135) v = 0.5f;
                if (v >= 0.5f) {
                    SetSize(v);
                    DrawImg(60, W / 2 - 200 + 16 * col, H / 2 - 400 * v + 16 * row, 25 * row + col);
                }
            }
        }
    }

    SetBlend(1);
    ResetDraw();
    SetAlpha(1.5f - s / 60.0f);
    Text(W / 2, H - 32, "Loading...", 1);
    ResetDraw();
}
