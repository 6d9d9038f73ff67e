// The main menu: background and logo, the start page with its four round
// items, the level list beside the scoreboard panel, and the way back from a
// finished game.
#include <cmath>

#include "MyGame.h"

namespace {

// Clamp shared by the menu background and the page switch, so the logo's
// divisor is never outside the range it is drawn with.
float ClampZoom(float z) { return z < 1.0f ? 1.0f : (z > 2.0f ? 2.0f : z); }

}  // namespace

void MyGame::DoMenu() {
    Menu_Background();

    const float zoomStep = 0.1f + (saveData[SAVE_REDUCE_MOTION] == 1 ? 5.0f : 0.0f);
    if (menuPage == 0) {
        logoZoom = ClampZoom(logoZoom - zoomStep);
        Menu_Start();
        boardSlide = 0;
        boardTimer = 0;
        boardPage = 0;
    }
    // Not an else: a page switched on this frame shows the list at once.
    if (menuPage == 1) {
        logoZoom = ClampZoom(logoZoom + zoomStep);
        Menu_Default("Easy|Normal|Hard",
                     "For learning the ropes|Just right|When you feel like a challenge");
        DisplayScoreboard();
    }
}

void MyGame::Menu_Background() {
    const float W = screenW, H = screenH;
    FadeCLS(0, 0, 140, 8);
    ResetDraw();

    SetSize(2.25f);
    DrawImg(53, W / 2, H / 2, 0);
    SetSize(1);
    SetRot(Mills() / 16);
    DrawImg(53, W / 2, H / 2, 2);

    logoZoom = ClampZoom(logoZoom);

    // The logo fills the width less 32, or the height less 196, whichever is
    // smaller; a window shorter than that gets no logo rather than a mirrored one.
    float a = (W - 32) / 1024.0f;
    if (a * 512 > H - 196) a = (H - 196) / 512.0f;
    if (a < 0) a = 0;
    const float b = a / logoZoom;
    SetSize(b);
    SetRot(0);
    DrawImg(54, W / 2, b * 256 + 16, 0);
    ResetDraw();
}

void MyGame::AddPlatBG() {
    SetCLSRot(Mills() / 64, 0, 50);
    ResetDraw();
    SetAlpha(0.3f);
    const int scroll = (Mills() / 32) % 64;
    for (int i = -2; i < screenW / 64 + 3; i++) {
        for (int j = -2; j < screenH / 64 + 3; j++) {
            DrawImg(50, 64.0f * i, 64.0f * j - scroll, 8);
        }
    }
}

void MyGame::Menu_Start() {
    const float W = screenW, H = screenH;

    // The back key leaves the program, once it has been seen released.
    if (!PlayKey(PLAYKEY_ESCAPE)) {
        keyLatch[LATCH_QUIT] = 0;
    } else if (keyLatch[LATCH_QUIT] == 0) {
        quitRequested = 1;
    }

    bool confirm = ActionDown(KELP_START) || ActionDown(KELP_BUTTON1);
    bool back = ActionDown(KELP_BUTTON2);
    if (saveData[SAVE_SWAP_BUTTONS] == 1) {
        confirm = ActionDown(KELP_BUTTON2);
        back = ActionDown(KELP_BUTTON1) || ActionDown(KELP_START);
    }

    struct Item {
        int v;
        float x, y;
        float rSmall, rLarge;
        int left, right;
    };
    const float rowY = H - 96;
    const float exitX = (W / 2 - 160 > 128) ? W / 2 - 160 : 128;
    const Item items[4] = {
        {0, W / 2, rowY, 64, 80, -1, 1},      // Start
        {-1, exitX, rowY, 32, 48, -2, 0},     // exit
        {1, W - 52, rowY, 32, 48, 0, -1},     // Options
        {-2, 52, rowY, 32, 48, 1, -1},        // Credits
    };

    for (const Item& it : items) {
        const bool lit = (startSelection == it.v);
        const float r = lit ? it.rLarge : it.rSmall;
        const float labelSize = lit ? 1.0f : 0.75f;

        ResetDraw();
        switch (it.v) {
            case 0: {
                const float a = lit ? 0.75f : 0.5f;
                SetGradient(100, 255, 100, a, 0, 150, 0, a);
                Circle(it.x, it.y, r);
                SetGradient(120, 255, 120, 1, 80, 180, 80, 1);
                SetRot(90);
                Tri_Fix(it.x, it.y, 0.85f * r, 0.85f * r, 0.25f);
                ResetDraw();
                SetSize(labelSize);
                Text(it.x, it.y + r, "Start", 1);
                break;
            }
            case -1:
                SetSize(lit ? 1.5f : 1.0f);
                DrawImg(50, it.x, it.y, 1);
                break;
            case 1:
                SetSize(r / 32);
                SetCol(255, 255, 255);
                SetRot(-spinAngle);
                DrawImg(50, it.x, it.y, 3);
                SetRot(spinAngle);
                DrawImg(50, it.x, it.y, 4);
                SetRot(0);
                SetSize(labelSize);
                Text(it.x, it.y + r, "Options", 1);
                if (lit) spinAngle = (spinAngle + 1) % 360;
                break;
            default:
                SetSize(r / 32);
                DrawImg(50, it.x, it.y, 5);
                SetSize(labelSize);
                Text(it.x, it.y + r, "Credits", 1);
                break;
        }

        const int h = MouseIn_Radius(it.x, it.y, r + 16);
        bool activate = false;
        if (startSelection == it.v) {
            if (ActionDown(KELP_LEFT) && keyLatch[LATCH_STEP] == 0) {
                LockKeys();
                startSelection = it.left;
                PlaySFX(99, 1.0f);
            } else if (ActionDown(KELP_RIGHT) && keyLatch[LATCH_STEP] == 0) {
                LockKeys();
                startSelection = it.right;
                PlaySFX(99, 1.0f);
            }
            if (confirm && keyLatch[LATCH_CONFIRM] == 0) activate = true;
        }
        // A touch highlights an item first and activates it on the next tap.
        if (h > 0 && TouchDown(h - 1) > 0 && touchLatch[TOUCH_RECORD + h - 1] == 0) {
            if (startSelection == it.v) {
                activate = true;
            } else {
                LockKeys();
                startSelection = it.v;
                PlaySFX(99, 1.0f);
            }
        }

        if (activate) {
            switch (it.v) {
                case 0:
                    menuPage = 1;
                    LockKeys();
                    PlaySFX(98, 1.0f);
                    break;
                case -1:
                    quitRequested = 1;
                    break;
                case 1:
                    subScreen = 1;
                    optSelected = 0;
                    optScroll = 0;
                    LockKeys();
                    saveData[SAVE_SHOW_STATS] = showStats;
                    PlaySFX(98);
                    break;
                default:
                    subScreen = 2;
                    LockKeys();
                    PlaySFX(98);
                    break;
            }
        }
    }
    ResetDraw();

    if (!confirm) keyLatch[LATCH_CONFIRM] = 0;
    if (!back) keyLatch[LATCH_BACK] = 0;
    if (ActionUp(KELP_RIGHT) && ActionUp(KELP_LEFT)) keyLatch[LATCH_STEP] = 0;
    for (int i = 0; i < TOUCH_RECORDS; i++) {
        if (TouchDown(i) == 0) touchLatch[TOUCH_RECORD + i] = 0;
    }
}

void MyGame::Menu_Default(std::string items, std::string descriptions) {
    (void)descriptions;  // kept for callers that show it; the list itself does not
    const float W = screenW, H = screenH;

    int n = 1;
    for (char c : items) {
        if (c == '|') n++;
    }

    float p = 46, A = H - 128, z = 1.0f;
    float T = A - (saveData[SAVE_LEVEL] - 1) * p;
    if (H > W) {
        A = H - 180;
        p = 58;
        z = 1.2f;
        T -= 64;
    }

    if (pointerDown == 0) touchLatch[TOUCH_ANY] = 0;
    menuListY += (T - menuListY) / 4;

    bool chosen = false;
    for (int i = 0; i < n; i++) {
        const float y = menuListY + (int)(i * p);
        const float hue = (i == 0) ? 220 : (i == 1) ? 120 : (i == 2) ? 0 : 200 + 50 * i;
        const float d = std::fabs(A - y);
        if (d >= 2.4f * p) continue;
        const float fade = (d > 1.2f * p) ? 1 - (d - 1.2f * p) / (1.2f * p) : 1.0f;
        const bool lit = (saveData[SAVE_LEVEL] == i + 1);

        ResetDraw();
        InkRot(hue, 0.5f, 0.5f);
        SetAlpha(lit ? 0.7f : 0.3f * fade);
        Rect(228, y, 256, 32);

        if (MouseIn_Centered(228, y, 256, 32) && pointerDown >= 1 && touchLatch[TOUCH_ANY] == 0) {
            touchLatch[TOUCH_ANY] = 1;
            if (!lit) {
                PlaySFX(98);
                saveData[SAVE_LEVEL] = i + 1;
                boardPage = 0;
                boardTimer = 0;
            } else {
                chosen = true;
            }
        }

        SetRot(90);
        InkRot(hue, 0.5f, 1);
        SetAlpha(0.3f * fade);
        Tri(116, y, 32, 16);

        SetRot(0);
        float x = 100;
        SetSize(z);
        if (lit) {
            x = 132;
            SetSize(1.3f * z);
        }
        InkRot(hue, 0.8f, 1.5f);
        SetAlpha(fade);
        Text(x, y, Trim(Split(items, '|', i + 1)));
    }
    ResetDraw();

    // Confirm, but not while Escape is down: it is bound to Start, which
    // then means back.
    const bool confirmDown = ActionDown(KELP_BUTTON1) || ActionDown(KELP_START);
    if (ActionUp(KELP_BUTTON1) && ActionUp(KELP_START)) keyLatch[LATCH_CONFIRM] = 0;
    if (confirmDown && !PlayKey(PLAYKEY_ESCAPE) && keyLatch[LATCH_CONFIRM] == 0) {
        LockKeys();
        chosen = true;
    }

    // Up/down repeat: first step at once, then after 24, 18, 12, 6 and every
    // 3 frames while held.
    keyLatch[LATCH_STEP] -= 1;
    if (keyLatch[LATCH_STEP] < 0) keyLatch[LATCH_STEP] = 0;
    if (keyLatch[LATCH_STEP_DELAY] <= 2) keyLatch[LATCH_STEP_DELAY] = 3;
    if (Joy(KELP_UP) < 0.25f && Joy(KELP_RIGHT) < 0.25f && Joy(KELP_DOWN) < 0.25f &&
        Joy(KELP_LEFT) < 0.25f) {
        keyLatch[LATCH_STEP] = 0;
        keyLatch[LATCH_STEP_DELAY] = 24;
    }
    if ((ActionDown(KELP_UP) || ActionDown(KELP_LEFT)) && keyLatch[LATCH_STEP] == 0) {
        keyLatch[LATCH_STEP] = keyLatch[LATCH_STEP_DELAY];
        keyLatch[LATCH_STEP_DELAY] -= 6;
        saveData[SAVE_LEVEL] -= 1;
        PlaySFX(99, 1.2f);
        boardPage = 0;
        boardTimer = 0;
    }
    if ((ActionDown(KELP_DOWN) || ActionDown(KELP_RIGHT)) && keyLatch[LATCH_STEP] == 0) {
        keyLatch[LATCH_STEP] = keyLatch[LATCH_STEP_DELAY];
        keyLatch[LATCH_STEP_DELAY] -= 6;
        saveData[SAVE_LEVEL] += 1;
        PlaySFX(99, 0.8f);
        boardPage = 0;
        boardTimer = 0;
    }

    if (saveData[SAVE_LEVEL] < 1) saveData[SAVE_LEVEL] = n;
    if (saveData[SAVE_LEVEL] > n) saveData[SAVE_LEVEL] = 1;

    if (chosen) {
        PlaySFX(98);
        gameMode = 11;
        chosenLevel = saveData[SAVE_LEVEL];
        touchStarted = confirmDown ? 0 : 1;
    }

    // Back arrow.
    ResetDraw();
    SetSize(2);
    SetCol(255, 200, 200, 0.75f);
    DrawImg(52, 32, 32, 0);
    const bool arrowTouched =
        MouseIn_Centered(32, 32, 64, 64) && pointerDown >= 1 && touchLatch[TOUCH_ANY] == 0;
    const bool backKey = (ActionDown(KELP_BUTTON2) || ActionDown(KELP_START)) && keyLatch[LATCH_BACK] == 0;
    if (arrowTouched || backKey) {
        menuPage = 0;
        LockKeys();
        PlaySFX(98);
    }
    if (ActionUp(KELP_BUTTON2) && ActionUp(KELP_START)) keyLatch[LATCH_BACK] = 0;
    ResetDraw();
}

void MyGame::LoadMenu() {
    HandleDefaultScoreboards();
    Save();
    StopMusic();
    PlaySFX(95, 1.0f);
    endPending = 0;
    // The menu never runs paused: that would also keep the slower step.
    paused = 0;
    gameMode = 0;
}
