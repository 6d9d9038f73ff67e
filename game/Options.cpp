// The options overlay: a list of rows rebuilt on every update, each row
// drawing itself and handling its own input. Settings live in saveData, so
// leaving the screen only has to save.
#include "MyGame.h"

namespace {

// Where one row is drawn and whether the pointer is pressing it.
struct Row {
    int cx, y;
    bool selected, on;
};

// The part every row shares: keep the selected row on screen, shadow, frame,
// icon and label, and selection by pointer.
Row BeginRow(MyGame& g, int icon, const std::string& label) {
    Row r;
    r.cx = (int)(g.screenW / 2);
    r.y = g.optY + g.optScroll;
    r.selected = (g.optSelected == g.optCount);

    if (r.selected) {
        if (r.y <= 79) g.optScroll += 16;
        if (r.y > g.screenH - 80) g.optScroll -= 16;
    }

    g.SetCol(0, 0, 0, 0.5f);
    g.Rect(r.cx + 1, r.y + 1, 404, 36);
    g.SetAlpha(1);

    int grow = 0;
    float fill = 0.15f;
    if (r.selected) {
        r.cx -= 8;
        r.y -= 8;
        grow = 6;
        fill = 0.35f;
        g.optSelectedY = r.y;
    }

    r.on = g.MouseIn_Centered(r.cx, r.y, 400, 32) > 0 && g.TouchDown(0) > 0;

    g.InkRot(g.optY);
    g.Rect(r.cx, r.y, 404 + grow, 36 + grow);
    g.InkRot(g.optY, 1, fill);
    g.Rect(r.cx, r.y, 400, 32);
    g.SetCol(255, 255, 255, 1);
    g.DrawImg(52, r.cx - 182, r.y, icon);
    g.SetSize(0.75f);
    g.Text(r.cx - 196, r.y - 28, label);
    g.SetSize(1);

    // A click on another row only selects it; acting needs a fresh click.
    if (!r.selected && r.on && g.keyLatch[MyGame::LATCH_OPTION_ROW] == 0) {
        g.keyLatch[MyGame::LATCH_OPTION_ROW] = 1;
        g.optSelected = g.optCount;
        g.PlaySFX(99, 1.5f);
    }
    return r;
}

void EndRow(MyGame& g) {
    if (!g.ActionDown(KELP_BUTTON1) && g.PlayKeyAll(MyGame::PLAYKEY_PAD_START) == 0 &&
        g.ActionUp(KELP_BUTTON2) && g.MouseDown() == 0) {
        g.keyLatch[MyGame::LATCH_OPTION_ROW] = 0;
    }
    g.optY += 86;
    g.optCount += 1;
}

bool ConfirmDown(MyGame& g) {
    return g.ActionDown(KELP_BUTTON1) || g.PlayKeyAll(MyGame::PLAYKEY_PAD_START) != 0 ||
           g.ActionDown(KELP_BUTTON2);
}

// Entries a row may own; anything else makes a row with no setting.
bool ValidEntry(int entry) { return entry >= 0 && entry < MyGame::SAVE_ENTRIES; }

// The window that a full-screen switch creates reads a key still held as
// released, and then, once the key auto-repeats (after about 660 ms under
// X), as a fresh press: holding confirm on the "Switch" row would switch
// straight back. After that row switches, confirm stays latched for a
// second, past the repeat delay, as F11 does; then it waits for a release.
const int kSwitchHoldOffMs = 1000;
bool switchedLately = false;
int switchedAt = 0;

}  // namespace

void MyGame::Options() {
    AddPlatBG();
    ResetDraw();
    optY = 64;
    optCount = 0;
    if (switchedLately) {
        if ((unsigned)(Mills() - switchedAt) < (unsigned)kSwitchHoldOffMs)
            keyLatch[LATCH_OPTION_ROW] = 1;
        else
            switchedLately = false;
    }
    OptionsList();
    ResetDraw();

    // A row that closed the overlay or opened the redefine screen has taken
    // this update's input; clearing latches now would hand the same press on.
    if (subScreen != 1) return;

    if (ActionUp(KELP_UP) && ActionUp(KELP_DOWN)) keyLatch[LATCH_NAVIGATE] = 0;
    if (ActionDown(KELP_UP) && keyLatch[LATCH_NAVIGATE] == 0) {
        keyLatch[LATCH_NAVIGATE] = 1;
        optSelected -= 1;
        PlaySFX(99, 1.5f);
    }
    if (ActionDown(KELP_DOWN) && keyLatch[LATCH_NAVIGATE] == 0) {
        keyLatch[LATCH_NAVIGATE] = 1;
        optSelected += 1;
        PlaySFX(99, 1.5f);
    }

    if (ActionUp(KELP_LEFT) && ActionUp(KELP_RIGHT)) keyLatch[LATCH_STEP] = 0;

    if (optSelected > optCount - 1) optSelected = optCount - 1;
    if (optSelected < 0) optSelected = 0;

    if (ActionUp(KELP_BACK)) keyLatch[LATCH_CLOSE] = 0;
    if (ActionDown(KELP_BACK) && keyLatch[LATCH_CLOSE] == 0) {
        subScreen = 0;
        LockKeys();
        Save();
        PlaySFX(98);
    }

    for (int i = 0; i < TOUCH_RECORDS; i++) {
        if (TouchDown(i) == 0) touchLatch[TOUCH_RECORD + i] = 0;
    }
}

void MyGame::OptionsList() {
    if (AddToggleOption(-1, 0, "Back", "Return", "Return") == 1) {
        subScreen = 0;
        LockKeys();
        Save();
    }

    AddOptionLabel("Sound");
    AddLinearOption(SAVE_SFX_VOLUME, 1, "SFX Volume", 10);
    AddLinearOption(SAVE_MUSIC_VOLUME, 2, "Music Volume", 10);

    AddOptionLabel("Screen");
    if (AddToggleOption(-1, 3, "Fullscreen [F11]", "Switch", "Switch") == 1) {
        FlipFullscreen();
        switchedLately = true;
        switchedAt = Mills();
        LockKeys();
        Save();
    }
    AddToggleOption(SAVE_REDUCE_MOTION, 3, "Motion Reduction", "Normal", "Less Motion");
    AddLinearOption(SAVE_OVERSCAN, 3, "Overscan", 10);

    AddOptionLabel("Input");
    if (AddToggleOption(-1, 7, "Controller", "Define", "Define") == 1) {
        subScreen = 3;
        redefRow = -1;
        redefCol = 0;
        LockKeys();
        Save();
    }
    AddToggleOption(SAVE_INVERT_Y, 8, "Invert Thumbstick Y", "Normal", "Inverted");

    AddOptionLabel("System");
    if (AddToggleOption(SAVE_SHOW_STATS, 6, "Debug Stats [F1]", "Off", "On") == 1) {
        showStats = saveData[SAVE_SHOW_STATS];
    }

    // Corner marks, so the overscan inset can be judged by eye.
    ResetDraw();
    Rect(0, 0, 8, 8);
    Rect(0, screenH, 8, 8);
    Rect(screenW, 0, 8, 8);
    Rect(screenW, screenH, 8, 8);
}

void MyGame::AddOptionLabel(std::string label) {
    SetSize(0.7f);
    Text((int)(screenW / 2) - 224, optY + optScroll, label);
    SetSize(1);
    optY += 56;
}

int MyGame::AddLinearOption(int entry, int icon, std::string label, int steps) {
    Row r = BeginRow(*this, icon, label);
    if (steps < 1) steps = 1;
    int dummy = 0;
    int& value = ValidEntry(entry) ? saveData[entry] : dummy;

    const float w = 320.0f / (steps + 1);
    auto stepX = [&](int i) { return r.cx - 160 + w * (i + 1); };
    for (int i = 0; i <= steps; i++) Text(stepX(i), r.y, ".", 1);
    // A value from an edited settings file may lie outside the range; the
    // marker stays on the scale and a key press brings the value back into it.
    int shown = value < 0 ? 0 : (value > steps ? steps : value);
    Text(stepX(shown), r.y, "|", 1);

    if (r.on && r.selected && keyLatch[LATCH_OPTION_ROW] == 0) {
        for (int i = 0; i <= steps; i++) {
            if (MouseIn_Centered(stepX(i), r.y, w, 32) > 0) {
                if (value != i) {
                    value = i;
                    PlaySFX(99, 1.0f);
                }
                break;
            }
        }
    }

    if (r.selected) {
        if (ConfirmDown(*this) && keyLatch[LATCH_OPTION_ROW] == 0) {
            value = (value > 0) ? 0 : steps;
            keyLatch[LATCH_OPTION_ROW] = 1;
            PlaySFX(99, 1.0f);
        }
        if (ActionDown(KELP_LEFT) && keyLatch[LATCH_STEP] == 0 && value > 0) {
            value = (value > steps ? steps : value) - 1;
            keyLatch[LATCH_STEP] = 1;
            PlaySFX(99, 1.0f);
        }
        if (ActionDown(KELP_RIGHT) && keyLatch[LATCH_STEP] == 0 && value < steps) {
            value = (value < 0 ? 0 : value) + 1;
            keyLatch[LATCH_STEP] = 1;
            PlaySFX(99, 1.0f);
        }
    }

    EndRow(*this);
    return -1;
}

int MyGame::AddToggleOption(int entry, int icon, std::string label, std::string textOff,
                            std::string textOn) {
    Row r = BeginRow(*this, icon, label);
    const bool hasSetting = ValidEntry(entry);

    Text(r.cx, r.y, (hasSetting && saveData[entry] != 0) ? textOn : textOff, 1);

    int result = -1;
    if (r.selected && (ConfirmDown(*this) || r.on) && keyLatch[LATCH_OPTION_ROW] == 0) {
        keyLatch[LATCH_OPTION_ROW] = 1;
        keyLatch[LATCH_STEP] = 1;
        if (hasSetting) saveData[entry] = (saveData[entry] != 0) ? 0 : 1;
        PlaySFX(98);
        result = 1;
    }

    EndRow(*this);
    return result;
}
