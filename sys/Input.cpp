// Device polling: keyboard, mouse and joysticks into the Button flags, the
// pointer record, the per-joystick records and the action values; the hot
// keys; the capture operations; the key-binding table and the key names.
#include <GLFW/glfw3.h>

#include <cmath>
#include <cstring>

#include "KELPSys.h"

namespace kelp {

int32_t ignorePress[1024];
int32_t UpdateFrames = 0;
int32_t DebugToggle = 0;
std::string KeyName[KEY_NAMES];
int32_t HotKeysOn = HOTKEY_ALL;

// Only codes GLFW knows are asked for: anything else would raise a GLFW
// error on every poll for a binding that can never be pressed.
static int GlfwKeyDown(int key) {
    if (!ASys.window || key < GLFW_KEY_SPACE || key > GLFW_KEY_LAST) return 0;
    return glfwGetKey(ASys.window, key) == GLFW_PRESS;
}

static int GlfwPointer(double* x, double* y, int* left, int* right) {
    if (!ASys.window) return 0;
    glfwGetCursorPos(ASys.window, x, y);
    *left = glfwGetMouseButton(ASys.window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
    *right = glfwGetMouseButton(ASys.window, GLFW_MOUSE_BUTTON_RIGHT) == GLFW_PRESS;
    return 1;
}

static int GlfwFocused() { return ASys.window && glfwGetWindowAttrib(ASys.window, GLFW_FOCUSED); }

int (*InputKeyDown)(int key) = GlfwKeyDown;
int (*InputPointer)(double* x, double* y, int* left, int* right) = GlfwPointer;
int (*InputFocused)() = GlfwFocused;
int (*InputTouch)(int i, double* x, double* y, int* down) = nullptr;
int32_t TraceInput = 0;
JoystickReader InputJoystick = {glfwJoystickPresent, glfwGetJoystickName,   glfwGetJoystickAxes,
                                glfwGetJoystickButtons, glfwJoystickIsGamepad, glfwGetGamepadState};

namespace {

// The hard-wired button rows: entry and the keys that set it.
struct ButtonRow {
    int entry;
    int keys[6];
};

const ButtonRow kButtonRows[] = {
    {0, {GLFW_KEY_UP, GLFW_KEY_W, GLFW_KEY_KP_8}},
    {3, {GLFW_KEY_LEFT, GLFW_KEY_A, GLFW_KEY_KP_4}},
    {5, {GLFW_KEY_RIGHT, GLFW_KEY_D, GLFW_KEY_KP_6}},
    {8, {GLFW_KEY_DOWN, GLFW_KEY_S, GLFW_KEY_KP_5, GLFW_KEY_KP_2}},
    {10, {GLFW_KEY_Z, GLFW_KEY_J, GLFW_KEY_SPACE, GLFW_KEY_ENTER, GLFW_KEY_KP_7}},
    {11, {GLFW_KEY_X, GLFW_KEY_K, GLFW_KEY_LEFT_CONTROL, GLFW_KEY_RIGHT_CONTROL, GLFW_KEY_KP_9}},
    {12, {GLFW_KEY_C, GLFW_KEY_L, GLFW_KEY_LEFT_SHIFT, GLFW_KEY_RIGHT_SHIFT}},
    {13, {GLFW_KEY_V, GLFW_KEY_I, GLFW_KEY_LEFT_ALT, GLFW_KEY_RIGHT_ALT}},
    {14, {GLFW_KEY_B, GLFW_KEY_U}},
    {15, {GLFW_KEY_N, GLFW_KEY_O}},
    {64, {GLFW_KEY_F2}},
    {99, {GLFW_KEY_ESCAPE}},
};

// The hot keys' own entries, set only while the game leaves them on.
struct HotKeyRow {
    int entry;
    int key;
    int bit;
};

const HotKeyRow kHotKeyRows[] = {
    {66, GLFW_KEY_F10, HOTKEY_F10},
    {67, GLFW_KEY_F9, HOTKEY_F9},
    {68, GLFW_KEY_F1, HOTKEY_F1},
};

// Seconds after a full-screen switch in which F11 cannot switch again:
// longer than the usual key auto-repeat delay (660 ms by default under X).
const double F11_HOLD_OFF = 1.0;

// Window presets for Q + 1..7: width over height.
const float kPresetRatio[7] = {1.3333f, 1.77777f, 0.75f, 1.775f, 0.5633f, 2.16f, 0.4618f};

bool JoyLive(int j) { return ASys.Joy[j][99] != 0 && ASys.Joy[j][98] != 0; }

// A pad that GLFW knows (its mapping database) is read as GLFW's standard
// gamepad and laid into the joystick record in the order the default
// bindings and PlayKey use: face buttons 0..3, shoulders 4..5, Back 6,
// Start 7, Guide 8, left stick press 9, d-pad 10..13 (up, right, down,
// left), right stick press 14; sticks on axes 0..3, triggers on 4 and 5.
// Read raw, the same pad numbers its axes and buttons in the kernel's
// order, with the d-pad appended after all its buttons.
const int kGamepadButtons[15] = {
    GLFW_GAMEPAD_BUTTON_A,          GLFW_GAMEPAD_BUTTON_B,          GLFW_GAMEPAD_BUTTON_X,
    GLFW_GAMEPAD_BUTTON_Y,          GLFW_GAMEPAD_BUTTON_LEFT_BUMPER, GLFW_GAMEPAD_BUTTON_RIGHT_BUMPER,
    GLFW_GAMEPAD_BUTTON_BACK,       GLFW_GAMEPAD_BUTTON_START,      GLFW_GAMEPAD_BUTTON_GUIDE,
    GLFW_GAMEPAD_BUTTON_LEFT_THUMB, GLFW_GAMEPAD_BUTTON_DPAD_UP,    GLFW_GAMEPAD_BUTTON_DPAD_RIGHT,
    GLFW_GAMEPAD_BUTTON_DPAD_DOWN,  GLFW_GAMEPAD_BUTTON_DPAD_LEFT,  GLFW_GAMEPAD_BUTTON_RIGHT_THUMB,
};

// Whether axis k rests at v. Sticks rest near 0; a released trigger reads
// -1. In the gamepad layout the triggers are axes 4 and 5. In a raw layout
// any of the first four axes may be a trigger (an Xbox-style pad's left
// trigger is axis 2 on Linux), so -1 is rest there too.
bool AxisAtRest(int k, float v, int gamepad) {
    bool centred = v >= -0.3f && v <= 0.3f;
    bool released = v <= -0.7f;
    if (gamepad) return k < 4 ? centred : (k < 6 ? released : true);
    return k < 4 ? centred || released : true;
}

}  // namespace

// One poll of a pointer record from what the device reports: position in
// framebuffer pixels (kept when there is nothing to read), down and the
// alternative press.
static void DrivePointer(const KELPSys& s, float* t, int have, double px, double py, int down, int alt) {
    t[5] = (float)down;
    t[6] = (float)alt;
    t[3] = t[1];
    t[4] = t[2];
    t[7] += 1;
    if (t[5] == 0) {
        t[7] = 0;
        t[3] = -100;
        t[4] = -100;
    }
    if (have && s.fbWidth > 0 && s.fbHeight > 0) {
        float k = s.virtualW / (float)s.fbWidth;
        t[1] = (float)(px - s.fbWidth / 2) * s.OverscanScaleX * k + s.centreX;
        t[2] = (float)(py - s.fbHeight / 2) * s.OverscanScaleY * k + s.centreY;
    }
    if (t[3] < 0) {
        t[8] = 0;
        t[9] = 0;
    } else {
        t[8] = t[1] - t[3];
        t[9] = t[2] - t[4];
    }
}

void KELPSys::PollInputB(int invertY) {
    UpdateFrames++;
    memset(Button, 0, 127 * sizeof(Button[0]));

    // Pointer record 0, driven by the mouse; records 1..9 by further touch
    // points where the platform has them.
    double cx = 0, cy = 0;
    int left = 0, right = 0;
    int have = InputPointer(&cx, &cy, &left, &right);
    DrivePointer(*this, Touch[0], have, cx, cy, left, right);
    if (InputTouch) {
        for (int i = 1; i < 10; i++) {
            double x = 0, y = 0;
            int down = 0;
            if (InputTouch(i, &x, &y, &down)) {
                DrivePointer(*this, Touch[i], 1, x, y, down, 0);
            } else {
                // No finger: an unused record, which the hit tests skip.
                DrivePointer(*this, Touch[i], 0, 0, 0, 0, 0);
                Touch[i][1] = Touch[i][2] = 0;
            }
        }
    }

    for (const ButtonRow& row : kButtonRows)
        for (int key : row.keys)
            if (key && InputKeyDown(key)) Button[row.entry] = 1;

    // Hot keys. Closing the window always quits, whatever the game chose.
    for (const HotKeyRow& row : kHotKeyRows)
        if ((HotKeysOn & row.bit) && InputKeyDown(row.key)) Button[row.entry] = 1;
    if (((HotKeysOn & HOTKEY_F4) && InputKeyDown(GLFW_KEY_F4)) || (window && glfwWindowShouldClose(window)))
        Button[100] = 1;
    Wireframe = Button[67] ? 1 : 0;
    // One switch per press. The re-created window starts with F11 up, but
    // once the key auto-repeats the new window sees a fresh press, so a held
    // F11 would keep switching: only a press that follows a poll with F11 up
    // switches, and not again until the repeat delay has surely passed.
    static int f11Before = 0;
    static double f11Switched = -1e9;
    int f11 = (HotKeysOn & HOTKEY_F11) && InputKeyDown(GLFW_KEY_F11);
    if (f11) {
        Button[65] = 1;
        if (window && !f11Before && glfwGetTime() - f11Switched >= F11_HOLD_OFF) {
            f11Switched = glfwGetTime();
            FlipFull();
        }
    }
    f11Before = f11;

    Button[63]--;
    if (InputFocused()) Button[63] = 1;

    // Q + digit: windowed presets sized from the monitor.
    for (int d = 1; d <= 7 && (HotKeysOn & HOTKEY_PRESETS); d++) {
        if (!window || !InputKeyDown(GLFW_KEY_Q) || !InputKeyDown(GLFW_KEY_0 + d)) continue;
        GLFWmonitor* monitor = glfwGetPrimaryMonitor();
        const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
        if (!mode) continue;
        int h = mode->height - 128;
        float ratio = kPresetRatio[d - 1];
        if (d == 6 && h * ratio > mode->width) h -= 64;
        isFullscreen = 0;
        SetScreen((int)floorf(h * ratio), h);
    }

    // Joysticks are only read once GLFW is running, which a window implies,
    // or from the devices a test put in GLFW's place.
    if (window || InputJoystick.present != glfwJoystickPresent) {
        const JoystickReader& in = InputJoystick;
        for (int j = 0; j < 4; j++) {
            GLFWgamepadstate pad;
            if (in.present(j) && in.isGamepad(j) && in.gamepadState(j, &pad)) {
                unsigned char buttons[15];
                for (int k = 0; k < 15; k++) buttons[k] = pad.buttons[kGamepadButtons[k]];
                StoreJoystick(j, 1, in.name(j), pad.axes, 6, buttons, 15, invertY, 1);
            } else if (in.present(j)) {
                int ac = 0, bc = 0;
                const float* axes = in.axes(j, &ac);
                const unsigned char* buttons = in.buttons(j, &bc);
                StoreJoystick(j, 1, in.name(j), axes, axes ? ac : 0, buttons, buttons ? bc : 0, invertY);
            } else {
                StoreJoystick(j, 0, nullptr, nullptr, 0, nullptr, 0, invertY);
            }
        }
    }

    PollRedef();
}

void KELPSys::StoreJoystick(int j, int present, const char* name, const float* axes, int axisCount,
                            const unsigned char* buttons, int buttonCount, int invertY, int gamepad) {
    if (j < 0 || j > 3) return;
    float* r = Joy[j];
    // Counts shrink when a different controller takes the slot: nothing of
    // the previous one may linger.
    for (int k = 0; k < 98; k++) r[k] = 0;
    r[99] = 0;
    if (!present) return;
    r[99] = 1;

    int rest = 1;
    int na = axes ? (axisCount < 45 ? axisCount : 45) : 0;
    for (int k = 0; k < na; k++) {
        float v = axes[k];
        if (!AxisAtRest(k, v, gamepad)) rest = 0;
        if (invertY == 1 && (k == 1 || k == 3)) v = -v;
        r[50 + k] = v;
    }
    int nb = buttons ? (buttonCount < 45 ? buttonCount : 45) : 0;
    for (int k = 0; k < nb; k++) {
        r[k] = buttons[k] == GLFW_PRESS ? 1.0f : 0.0f;
        if (r[k] != 0) rest = 0;
    }

    if (rest && r[98] == 0) {
        printf("\n\n--=--\nController ID '%s'\n--=--\n\n", name ? name : "");
        fflush(stdout);
    }
    if (rest) r[98] = 1;
    if (r[98] == 0)
        for (int k = 0; k < 98; k++) r[k] = 0;
}

void KELPSys::PollRedef() {
    for (int i = 0; i < 16; i++) {
        float v = 0;
        for (int s = 48; s < 64; s++) {
            int b = redef[s][i];
            if (b >= 1 && b <= 499) {
                if (InputKeyDown(b)) v = 1;
            } else if (b >= 500 && b <= 899) {
                int j = b / 100 - 5, k = b % 100;
                if (k > 97 || !JoyLive(j)) continue;
                float x = Joy[j][k];
                if ((x > 0.25f || x < -0.25f) && fabsf(x) > fabsf(v)) v = x;
            }
        }
        for (int j = 0; j < 4; j++) {
            if (!JoyLive(j)) continue;
            const float* a = &Joy[j][50];
            if (i < 4) {
                if (fabsf(a[0]) <= 0.25f && fabsf(a[1]) <= 0.25f) continue;
            } else if (i < 8) {
                if (fabsf(a[2]) <= 0.25f && fabsf(a[3]) <= 0.25f) continue;
            } else {
                break;
            }
            float w = 0;
            switch (i) {
                case 0: w = -a[1]; break;
                case 1: w = a[0]; break;
                case 2: w = a[1]; break;
                case 3: w = -a[0]; break;
                case 4: w = -a[3]; break;
                case 5: w = a[2]; break;
                case 6: w = a[3]; break;
                case 7: w = -a[2]; break;
            }
            if (w > v) v = w;
        }
        Keyv[i] = v;
    }
}

int KELPSys::AnyKey() {
    for (int code = 32; code <= 348; code++) {
        if (!InputKeyDown(code))
            ignorePress[code] = 0;
        else if (ignorePress[code] == 0)
            return code;
    }
    for (int j = 0; j < 4; j++) {
        if (!JoyLive(j)) continue;
        for (int k = 0; k < 50; k++) {
            int code = 500 + 100 * j + k;
            float x = Joy[j][k];
            if (x > -0.25f && x < 0.25f)
                ignorePress[code] = 0;
            else if (ignorePress[code] == 0)
                return code;
        }
    }
    return -1;
}

void KELPSys::LockAll() {
    for (int i = 0; i < 1000; i++) ignorePress[i] = 1;
}

void KELPSys::DefineKey(int action, int code) {
    if (action < 0 || action > 15) return;
    if (code != 0)
        for (int s = 0; s < 64; s++)
            for (int a = 0; a < 16; a++)
                if (redef[s][a] == code) redef[s][a] = 0;
    int pad = code / 100;
    for (int s = 48; s < 63; s++) {
        redef[s][action] = redef[s + 1][action];
        // One input per joystick and action: the new one replaces the old.
        if (pad > 4 && redef[s][action] / 100 == pad) redef[s][action] = 0;
    }
    redef[63][action] = code;
}

void KELPSys::ClearKeys() { memset(redef, 0, sizeof redef); }

std::string KELPSys::ButtonName(int code) {
    if (code >= 1 && code <= 349) return "[ " + KeyName[code] + " ]";
    if (code >= 500 && code <= 899) {
        int j = code / 100 - 5, k = code % 100;
        // 98 and 99 hold the record's flags, not inputs.
        if (k <= 97 && JoyLive(j)) {
            if (k <= 49) return fstrSys("Joy %i Button %i", j + 1, k);
            return fstrSys("Joy %i Axis %i", j + 1, k - 50);
        }
    }
    return "N/A";
}

void KELPSys::FlushKeys() { memset(Button, 0, 127 * sizeof(Button[0])); }

void KELPSys::FillKeyNames() {
    for (int i = 0; i < KEY_NAMES; i++) KeyName[i] = "???";
    KeyName[32] = "Space";
    KeyName[39] = "'";
    KeyName[44] = ",";
    KeyName[45] = "-";
    KeyName[46] = ".";
    KeyName[47] = "/";
    for (int i = 0; i <= 9; i++) KeyName[48 + i] = std::string(1, (char)('0' + i));
    KeyName[59] = ";";
    KeyName[61] = "=";
    for (int i = 0; i < 26; i++) KeyName[65 + i] = std::string(1, (char)('A' + i));
    KeyName[91] = "[";
    KeyName[92] = "\\";
    KeyName[93] = "]";
    KeyName[96] = "`";
    static const char* const kSpecial[] = {"Escape",  "Return",    "Tab",  "Backspace", "Insert", "Delete",
                                           "Right",   "Left",      "Down", "Up",        "Page Up", "Page Down",
                                           "Home",    "End"};
    for (int i = 0; i < 14; i++) KeyName[256 + i] = kSpecial[i];
    static const char* const kLocks[] = {"Caps Lock", "Scroll Lock", "Num Lock", "Print Screen", "Pause"};
    for (int i = 0; i < 5; i++) KeyName[280 + i] = kLocks[i];
    for (int i = 0; i < 25; i++) KeyName[290 + i] = "F" + std::to_string(i + 1);
    for (int i = 0; i <= 9; i++) KeyName[320 + i] = "Num " + std::to_string(i);
    static const char* const kPad[] = {"Num .", "Num /", "Num *", "Num -", "Num +", "Num Enter", "Num ="};
    for (int i = 0; i < 7; i++) KeyName[330 + i] = kPad[i];
    static const char* const kMods[] = {"Left Shift",  "Left Ctrl",  "Left Alt",  "Left Super",
                                        "Right Shift", "Right Ctrl", "Right Alt", "Right Super", "Menu"};
    for (int i = 0; i < 9; i++) KeyName[340 + i] = kMods[i];
}

}  // namespace kelp
