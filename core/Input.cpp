// The game's view of input: one poll per update, the hard-wired buttons with
// their joystick equivalents, the action values and their presses and
// releases, the pointer records and their hit tests, key capture, the key
// bindings and their standard layouts, and the choice of hot keys.
#include <cmath>
#include <string>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

static_assert(int(KELP_HOTKEY_F1) == HOTKEY_F1 && int(KELP_HOTKEY_F4) == HOTKEY_F4 &&
                  int(KELP_HOTKEY_F9) == HOTKEY_F9 && int(KELP_HOTKEY_F10) == HOTKEY_F10 &&
                  int(KELP_HOTKEY_F11) == HOTKEY_F11 && int(KELP_HOTKEY_PRESETS) == HOTKEY_PRESETS &&
                  int(KELP_HOTKEYS_ALL) == HOTKEY_ALL,
              "the game's hot-key bits are the platform layer's");

namespace {

// Per action: held since a poll saw it above KELP_PRESSED, until one sees it
// below KELP_RELEASED; and what the last poll saw change (1 pressed, -1
// released, 0 none).
int32_t actionHeld[KELP_ACTIONS];
int32_t actionEdge[KELP_ACTIONS];

void TrackActionEdges() {
    for (int i = 0; i < KELP_ACTIONS; i++) {
        float v = ASys.Keyv[i];
        actionEdge[i] = 0;
        if (!actionHeld[i] && v > KELPCore::KELP_PRESSED) {
            actionHeld[i] = 1;
            actionEdge[i] = 1;
        } else if (actionHeld[i] && !(v >= KELPCore::KELP_RELEASED)) {
            actionHeld[i] = 0;
            actionEdge[i] = -1;
        }
    }
}

}  // namespace

void KELPCore::PollInput(int invertY) {
    UpdateCountLive++;
    int now = Mills();
    int32_t& updateSec = StateOf(*this).updateSec;
    if (now >= updateSec + 1000 || now <= updateSec - 1000) {
        updateFps = RatePerSecond(UpdateCountLive, now - updateSec);
        updateSec = now;
        UpdateCountLive = 0;
    }

    ASys.PollInputB(invertY);
    TrackActionEdges();

    // F1 flips the statistics line once per press, however long it is held.
    if (ASys.Button[68] == 0) {
        DebugToggle = 0;
    } else if (DebugToggle == 0) {
        DebugToggle = 1;
        showStats = showStats ? 0 : 1;
        KELPSys::Debuglog(showStats ? "Stats On" : "Stats Off");
    }
    if (ASys.Button[100] == 1) quitRequested = 1;
    focusState = ASys.Button[63];
    PrepareScreenshotName(*this);
    if (TraceInput) TraceKeys(*this);
}

void kelp::TraceKeys(KELPCore& game) {
    const int32_t focusState = game.focusState;
    static int lastFocus = 2;
    if (focusState != lastFocus) {
        lastFocus = focusState;
        KELPSys::Debuglog(focusState == 1 ? "Trace focus: 1" : "Trace focus: 0");
    }
    static std::string last = "-";
    std::string keys = "Trace keys:";
    for (int k = 32; k <= 348; k++)
        if (InputKeyDown(k)) keys += " " + std::to_string(k);
    if (keys == last) return;
    last = keys;
    KELPSys::Debuglog(keys.c_str());
}

namespace {

bool PadLive(int j) { return ASys.Joy[j][99] != 0 && ASys.Joy[j][98] != 0; }

// Whether joystick j holds the input that stands in for hard-wired button type.
bool PadHolds(int j, int type) {
    const float* r = ASys.Joy[j];
    switch (type) {
        case 0: return r[10] > 0.5f || r[51] < -0.5f;
        case 3: return r[13] > 0.5f || r[50] < -0.5f;
        case 5: return r[11] > 0.5f || r[50] > 0.5f;
        case 8: return r[12] > 0.5f || r[51] > 0.5f;
        case 10: case 11: case 12: case 13: case 14: case 15: return r[type - 10] > 0.5f;
        case 98: return r[7] > 0.5f;
        case 99: return r[6] > 0.5f;
        default: return false;
    }
}

bool ValidRecord(int i) { return i >= 0 && i < 10; }

}  // namespace

int KELPCore::PlayKey(int type) {
    if (type < 0 || type > 127) return 0;
    // Entry 63 is 1 or -1 (focus); every other entry is 0 or 1.
    if (ASys.Button[type]) return ASys.Button[type];
    if (padKeysEnabled == 1)
        for (int j = 0; j < 4; j++)
            if (PadLive(j) && PadHolds(j, type)) return 1;
    return 0;
}

int KELPCore::PlayKeyAll(int type) { return PlayKey(type); }

float KELPCore::Joy(int n) { return n >= 0 && n < 128 ? ASys.Keyv[n] : 0; }

int KELPCore::JoyPressed(int action) {
    return action >= 0 && action < KELP_ACTIONS && actionEdge[action] == 1 ? 1 : 0;
}

int KELPCore::JoyReleased(int action) {
    return action >= 0 && action < KELP_ACTIONS && actionEdge[action] == -1 ? 1 : 0;
}

int KELPCore::JoyDown(int button) { return JoyDown(button, 0); }

int KELPCore::JoyDown(int button, int pad) {
    if (pad < 0 || pad > 3 || button < 0 || button > 49 || !PadLive(pad)) return 0;
    return ASys.Joy[pad][button] > 0.5f ? 1 : 0;
}

float KELPCore::JoyAxis(int axis) { return JoyAxis(axis, 0); }

float KELPCore::JoyAxis(int axis, int pad) {
    if (pad < 0 || pad > 3 || axis < 0 || axis > 47 || !PadLive(pad)) return 0;
    return ASys.Joy[pad][50 + axis];
}

float KELPCore::MouseX() { return ASys.Touch[0][1]; }
float KELPCore::MouseY() { return ASys.Touch[0][2]; }
float KELPCore::TouchX() { return ASys.Touch[0][1]; }
float KELPCore::TouchY() { return ASys.Touch[0][2]; }
float KELPCore::MouseX(int i) { return ValidRecord(i) ? ASys.Touch[i][1] : 0; }
float KELPCore::MouseY(int i) { return ValidRecord(i) ? ASys.Touch[i][2] : 0; }
float KELPCore::TouchX(int i) { return MouseX(i); }
float KELPCore::TouchY(int i) { return MouseY(i); }
int KELPCore::MouseDown() { return (int)ASys.Touch[0][5]; }
int KELPCore::TouchDown() { return (int)ASys.Touch[0][5]; }
int KELPCore::MouseDown_Alt() { return (int)ASys.Touch[0][6]; }
int KELPCore::TouchDown_Alt() { return (int)ASys.Touch[0][6]; }
int KELPCore::MouseHeld() { return (int)ASys.Touch[0][7]; }
int KELPCore::TouchHeld() { return (int)ASys.Touch[0][7]; }
int KELPCore::MouseDown(int i) { return ValidRecord(i) ? (int)ASys.Touch[i][5] : 0; }
int KELPCore::TouchDown(int i) { return MouseDown(i); }
int KELPCore::MouseDown_Alt(int i) { return ValidRecord(i) ? (int)ASys.Touch[i][6] : 0; }
int KELPCore::TouchDown_Alt(int i) { return MouseDown_Alt(i); }
int KELPCore::MouseHeld(int i) { return ValidRecord(i) ? (int)ASys.Touch[i][7] : 0; }
int KELPCore::TouchHeld(int i) { return MouseHeld(i); }

int KELPCore::mdall() {
    for (int i = 0; i < 10; i++)
        if (ASys.Touch[i][5] != 0) return 1;
    return 0;
}

// A record at exactly (0, 0) is an unused one, never a pointer.
int KELPCore::MouseIn(float x, float y, float w, float h) {
    for (int i = 0; i < 10; i++) {
        float px = ASys.Touch[i][1], py = ASys.Touch[i][2];
        if (!(px > 0 || py > 0)) continue;
        if (px >= x && px <= x + w && py >= y && py <= y + h) return i + 1;
    }
    return 0;
}

int KELPCore::MouseIn_Centered(float cx, float cy, float w, float h) {
    return MouseIn(cx - w / 2, cy - h / 2, w, h);
}

int KELPCore::MouseIn_Radius(float x, float y, float r) {
    for (int i = 0; i < 10; i++) {
        float px = ASys.Touch[i][1], py = ASys.Touch[i][2];
        if (!(px > 0 || py > 0)) continue;
        float dx = px - x, dy = py - y;
        if (dx * dx + dy * dy <= r * r) return i + 1;
    }
    return 0;
}

int KELPCore::Button(int image, float x, float y, int frame) {
    if (image < 0 || image > 99) return 0;
    DrawImg(image, x, y, frame);
    // A mirrored draw (negative size) covers the same square.
    float side = fabsf(imageFrameSize[image] * ASys.sizeX * ASys.ViewScale);
    int hit = MouseIn_Centered(x, y, side, side);
    if (hit == 0) return 0;
    return ASys.Touch[hit - 1][5] != 0 ? hit : 0;
}

void KELPCore::LockForGet() { ASys.LockAll(); }

int KELPCore::GetKey() { return ASys.AnyKey(); }

void KELPCore::SetKey(int action, int code) { ASys.DefineKey(action, code); }

int KELPCore::KeyValue(int action, int slot) {
    if (action < 0 || action > 15 || slot < 0 || slot > 63) return 0;
    return ASys.redef[slot][action];
}

void KELPCore::FlushKeys() { ASys.ClearKeys(); }

// The standard layouts, as (action, input) in binding order. The order is
// part of the layout: within an action the newest binding sits last, and a
// redefine screen lists them that way.
namespace {

const int kKeyLayout[][2] = {
    {KELP_UP, KELP_KEY_UP},           {KELP_RIGHT, KELP_KEY_RIGHT},        {KELP_DOWN, KELP_KEY_DOWN},
    {KELP_LEFT, KELP_KEY_LEFT},       {KELP_UP, KELP_KEY_KP_8},            {KELP_RIGHT, KELP_KEY_KP_6},
    {KELP_DOWN, KELP_KEY_KP_5},       {KELP_LEFT, KELP_KEY_KP_4},          {KELP_BUTTON1, KELP_KEY_Z},
    {KELP_BUTTON2, KELP_KEY_X},       {KELP_BUTTON3, KELP_KEY_C},          {KELP_BUTTON4, KELP_KEY_V},
    {KELP_SHOULDER_L, KELP_KEY_B},    {KELP_SHOULDER_R, KELP_KEY_N},       {KELP_UP, KELP_KEY_W},
    {KELP_RIGHT, KELP_KEY_D},         {KELP_DOWN, KELP_KEY_S},             {KELP_LEFT, KELP_KEY_A},
    {KELP_BUTTON1, KELP_KEY_K},       {KELP_BUTTON2, KELP_KEY_L},          {KELP_BUTTON3, KELP_KEY_J},
    {KELP_BUTTON4, KELP_KEY_I},       {KELP_SHOULDER_L, KELP_KEY_U},       {KELP_SHOULDER_R, KELP_KEY_O},
    {KELP_BUTTON1, KELP_KEY_SPACE},   {KELP_BUTTON1, KELP_KEY_RETURN},     {KELP_BUTTON1, KELP_KEY_KP_ENTER},
    {KELP_BUTTON2, KELP_KEY_LEFT_CTRL}, {KELP_BUTTON2, KELP_KEY_RIGHT_CTRL}, {KELP_BUTTON3, KELP_KEY_LEFT_ALT},
    {KELP_BUTTON3, KELP_KEY_RIGHT_ALT}, {KELP_BUTTON4, KELP_KEY_LEFT_SHIFT}, {KELP_BUTTON4, KELP_KEY_RIGHT_SHIFT},
    {KELP_START, KELP_KEY_ESCAPE},    {KELP_BACK, KELP_KEY_BACKSPACE},
};

// Each pad's buttons; its left stick needs no binding, as the poll reads it
// into the directions.
const int kPadLayout[][2] = {
    {KELP_UP, KELP_PAD_DPAD_UP}, {KELP_RIGHT, KELP_PAD_DPAD_RIGHT}, {KELP_DOWN, KELP_PAD_DPAD_DOWN},
    {KELP_LEFT, KELP_PAD_DPAD_LEFT}, {KELP_BUTTON1, KELP_PAD_A},    {KELP_BUTTON2, KELP_PAD_B},
    {KELP_BUTTON3, KELP_PAD_X},      {KELP_BUTTON4, KELP_PAD_Y},    {KELP_SHOULDER_L, KELP_PAD_LB},
    {KELP_SHOULDER_R, KELP_PAD_RB},  {KELP_START, KELP_PAD_START}, {KELP_BACK, KELP_PAD_BACK},
};

}  // namespace

void KELPCore::BindKeys() {
    for (const auto& b : kKeyLayout) SetKey(b[0], b[1]);
}

void KELPCore::BindPads() {
    for (int pad = 0; pad < 4; pad++)
        for (const auto& b : kPadLayout) SetKey(b[0], KelpPadButton(pad, b[1]));
}

void KELPCore::SetHotKeys(int keys) { HotKeysOn = keys & HOTKEY_ALL; }

int KELPCore::HotKeys() { return HotKeysOn; }

string KELPCore::KeyName(int code) { return ASys.ButtonName(code); }
