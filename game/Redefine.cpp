// The redefine-keys overlay: a drawn controller whose controls are picked
// with the fixed navigation keys (so it works whatever the bindings are), a
// capture that binds the next new input, a test mode and "Save".
#include <cstdio>

#include "MyGame.h"

namespace {

// The items besides the actions.
enum { ITEM_TEST = -1, ITEM_SAVE = -2 };

// The item under (row, column): an action, "Test" or "Save". Unused cells
// repeat the row's last item; the column is clamped anyway.
const int kItems[7][4] = {
    {ITEM_SAVE, ITEM_SAVE, ITEM_SAVE, ITEM_SAVE},
    {ITEM_TEST, ITEM_TEST, ITEM_TEST, ITEM_TEST},
    {KELP_SHOULDER_L, KELP_SHOULDER_R, KELP_SHOULDER_R, KELP_SHOULDER_R},
    {KELP_UP, KELP_BUTTON4, KELP_BUTTON4, KELP_BUTTON4},
    {KELP_LEFT, KELP_RIGHT, KELP_BUTTON3, KELP_BUTTON2},
    {KELP_DOWN, KELP_BUTTON1, KELP_BUTTON1, KELP_BUTTON1},
    {KELP_BACK, KELP_START, KELP_START, KELP_START},
};

int LastColumn(int row) { return row < 0 ? 0 : (row == 2 ? 3 : 1); }

const char* ItemName(int item) {
    static const char* const names[KELP_ACTIONS] = {
        "Up", "Right", "Down", "Left", "", "", "", "", "Start", "Back/Select",
        "Button 1", "Button 2", "Button 3", "Button 4", "Left Shoulder", "Right Shoulder",
    };
    if (item == ITEM_TEST) return "Test";
    if (item == ITEM_SAVE) return "Save";
    if (item < 0 || item >= KELP_ACTIONS) return "";
    return names[item];
}

const int kChosenR = 40, kChosenG = 140, kChosenB = 200;

}  // namespace

void MyGame::RedefineKeys() {
    const float W = screenW, H = screenH;
    const float cx = W / 2, cy = H - 112;

    AddPlatBG();
    ResetDraw();

    if (redefRow < -2) redefRow = 4;
    if (redefRow > 4) redefRow = -2;
    if (redefCol < 0) redefCol = 0;
    if (redefCol > LastColumn(redefRow)) redefCol = LastColumn(redefRow);
    const int item = kItems[redefRow + 2][redefCol];
    const bool capturing = (keyLatch[LATCH_CAPTURE] == 2);

    // ---- The controller ----
    for (int side = 0; side < 2; side++) {
        const int action = side == 0 ? KELP_SHOULDER_L : KELP_SHOULDER_R;
        const bool chosen = (item == action);
        float r = chosen ? 102.0f : 96.0f;
        if (ActionDown(action)) r += 4;
        if (chosen) {
            SetCol(40, 120, 200);
        } else {
            SetCol(140, 140, 140);
        }
        Circle(side == 0 ? cx - 153 : cx + 153, cy - 16, r);
    }

    SetCol(170, 170, 170);
    Rect(cx, cy - 5, 290, 190);
    Circle(cx - 150, cy, 100);
    Circle(cx + 150, cy, 100);

    SetCol(40, 40, 40);
    Rect(cx - 150, cy, 40, 40);
    struct Pad {
        int action;
        float x, y;
    };
    const Pad pads[4] = {
        {KELP_UP, cx - 150, cy - 40},
        {KELP_RIGHT, cx - 110, cy},
        {KELP_DOWN, cx - 150, cy + 40},
        {KELP_LEFT, cx - 190, cy},
    };
    for (const Pad& p : pads) {
        if (item == p.action) {
            SetCol(kChosenR, kChosenG, kChosenB);
        } else {
            SetCol(40, 40, 40);
        }
        Rect(p.x, p.y, ActionDown(p.action) ? 50 : 40);
    }

    struct Face {
        int action;
        const char* label;
        float x, y;
        int col[3], chosen[3], number[3];
    };
    const Face faces[4] = {
        {KELP_BUTTON1, "1", cx + 150, cy + 40, {0, 40, 0}, {0, 140, 0}, {0, 60, 0}},
        {KELP_BUTTON2, "2", cx + 190, cy, {40, 0, 0}, {140, 0, 0}, {60, 0, 0}},
        {KELP_BUTTON3, "3", cx + 110, cy, {40, 40, 0}, {140, 140, 0}, {60, 60, 0}},
        {KELP_BUTTON4, "4", cx + 150, cy - 40, {0, 40, 40}, {0, 140, 140}, {0, 60, 60}},
    };
    for (const Face& f : faces) {
        const bool chosen = (item == f.action);
        const int* c = chosen ? f.chosen : f.col;
        SetCol(c[0], c[1], c[2]);
        Circle(f.x, f.y, ActionDown(f.action) ? 32 : 24);
        if (chosen) {
            SetCol(kChosenR, kChosenG, kChosenB);
        } else {
            SetCol(f.number[0], f.number[1], f.number[2]);
        }
        Text(f.x - 2, f.y + 2, f.label, 1);
    }

    for (int k = 0; k < 2; k++) {
        const int action = k == 0 ? KELP_START : KELP_BACK;
        if (item == action) {
            SetCol(kChosenR, kChosenG, kChosenB);
        } else {
            SetCol(40, 40, 40);
        }
        const float s = ActionDown(action) ? 32.0f : 24.0f;
        SetRot(k == 0 ? 90 : -90);
        Tri(k == 0 ? cx + 26 : cx - 26, cy + 52, s, s * 0.667f);
        SetRot(0);
    }
    ResetDraw();

    // ---- Capture ----
    if (capturing) {
        const int c = GetKey();
        captureLock -= 1;
        // Whatever is held as the capture starts (the key that opened it
        // among them) has to be let go before it can be caught.
        if (captureLock >= 0) LockForGet();
        if (c > 0 && captureLock < 0) {
            keyLatch[LATCH_CAPTURE] = 0;
            printf("Button Caught %i\n", c);
            fflush(stdout);
            if (item >= 0) SetKey(item, c);
        }
        captureTimer -= 1;
        if (captureTimer < 0) {
            captureTimer = 0;
            keyLatch[LATCH_CAPTURE] = 0;
        }
        SetSize(2);
        Text(W / 2, H / 2 - 48, "Hit button for", 1);
        Text(W / 2, H / 2 + 48, ItemName(item), 1);
        ResetDraw();
    }

    if (keyLatch[LATCH_CAPTURE] != 2) captureTimer = 0;

    // ---- Navigation ----
    if (keyLatch[LATCH_CAPTURE] != 2 && testTimer == 0 && captureTimer == 0) {
        if (!PlayKeyAll(PLAYKEY_UP) && !PlayKeyAll(PLAYKEY_LEFT) && !PlayKeyAll(PLAYKEY_RIGHT) &&
            !PlayKeyAll(PLAYKEY_DOWN) && !PlayKeyAll(PLAYKEY_BUTTON1)) {
            keyLatch[LATCH_NAVIGATE] = 0;
        }
        if (keyLatch[LATCH_NAVIGATE] == 0 && PlayKeyAll(PLAYKEY_UP)) {
            redefRow -= 1;
            keyLatch[LATCH_NAVIGATE] = 1;
        }
        if (keyLatch[LATCH_NAVIGATE] == 0 && PlayKeyAll(PLAYKEY_DOWN)) {
            redefRow += 1;
            keyLatch[LATCH_NAVIGATE] = 1;
        }
        if (keyLatch[LATCH_NAVIGATE] == 0 && PlayKeyAll(PLAYKEY_LEFT)) {
            redefCol -= 1;
            keyLatch[LATCH_NAVIGATE] = 1;
        }
        if (keyLatch[LATCH_NAVIGATE] == 0 && PlayKeyAll(PLAYKEY_RIGHT)) {
            redefCol += 1;
            keyLatch[LATCH_NAVIGATE] = 1;
        }
        if (keyLatch[LATCH_NAVIGATE] == 0 && PlayKeyAll(PLAYKEY_BUTTON1)) {
            keyLatch[LATCH_NAVIGATE] = 1;
            if (item >= 0) {
                captureLock = 2;
                keyLatch[LATCH_CAPTURE] = 2;
                captureTimer = 359;
            } else if (item == ITEM_TEST) {
                testTimer = 359;
            } else {
                subScreen = 1;
                Save();
                LockKeys();
            }
        }

        const char* words[2] = {"Test", "Save"};
        const int ids[2] = {ITEM_TEST, ITEM_SAVE};
        for (int k = 0; k < 2; k++) {
            const float y = k == 0 ? cy - 160 : cy - 200;
            if (item == ids[k]) {
                SetCol(0, 100, 200, 1);
            } else {
                SetGradient(0, 120, 120, 1, 0, 60, 120, 1);
            }
            Rect(cx, y, 200, 32);
            if (k == 0) {
                SetGradient(255, 255, 0, 1, 255, 0, 0, 1);
            } else {
                SetGradient(255, 255, 0, 1, 255, 128, 0, 1);
            }
            Text(cx, y, words[k], 1);
        }
        ResetDraw();
    }

    // ---- The chosen control's bindings, newest first ----
    if (item >= 0) {
        SetSize(0.8f);
        int shown = 0;
        for (int slot = 63; slot >= 0; slot--) {
            const int code = KeyValue(item, slot);
            if (code <= 0) continue;
            const std::string name = KeyName(code);
            if (name == "N/A") continue;
            Text(8, cy - 128 - 24.0f * shown, name);
            shown++;
        }
        ResetDraw();
    }

    // ---- Countdown of the test or the capture ----
    testTimer -= 1;
    if (testTimer < 0) testTimer = 0;
    if (testTimer > 0 || captureTimer > 0) {
        const int t = testTimer > 0 ? testTimer : captureTimer;
        const float a = (t % 60) * 6.0f;
        SetSize(2);
        SetCol(100, 255, 100);
        Circle(W / 2 + Sin(a) * 48, H / 2 - Cos(a) * 48, 6);
        SetCol(255, 100, 100);
        Text(W / 2, H / 2, fstr("%i", t / 60), 1);
        ResetDraw();
    }

    // ---- Live sticks ----
    ResetDraw();
    for (int k = 0; k < 2; k++) {
        const float sx = k == 0 ? cx - 160 : cx + 160;
        SetCol(255, 255, 255, 0.15f);
        Circle(sx, cy - 160, 32);
        Rect(sx, cy - 160, 64, 64);
    }
    SetCol(255, 100, 100, 1);
    Rect(cx - 160 + 32 * (Joy(KELP_RIGHT) - Joy(KELP_LEFT)),
         cy - 160 + 32 * (Joy(KELP_DOWN) - Joy(KELP_UP)), 6, 6);
    Rect(cx + 160 + 32 * (Joy(KELP_RIGHT2) - Joy(KELP_LEFT2)),
         cy - 160 + 32 * (Joy(KELP_DOWN2) - Joy(KELP_UP2)), 6, 6);
    SetRot(0);
    ResetDraw();
}
