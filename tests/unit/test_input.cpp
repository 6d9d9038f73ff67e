// Input: joystick storage and its at-rest gate, the hard-wired buttons and
// their joystick equivalents, the pointer record and hit tests, capture,
// key bindings, action values and key names. No window: the keyboard and
// the mouse are fed through the poll's device readers.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "tests/common/driven_clock.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

namespace {

bool gKeys[512];
double gCurX, gCurY;
int gLeft, gRight;

int FakeKey(int key) { return key >= 0 && key < 512 && gKeys[key]; }
int FakePointer(double* x, double* y, int* left, int* right) {
    *x = gCurX;
    *y = gCurY;
    *left = gLeft;
    *right = gRight;
    return 1;
}

// Saves and restores everything the input tests touch in the shared objects.
class InputTest : public testing::Test {
protected:
    void SetUp() override {
        memcpy(savedRedef, ASys.redef, sizeof savedRedef);
        memcpy(savedJoy, ASys.Joy, sizeof savedJoy);
        memcpy(savedTouch, ASys.Touch, sizeof savedTouch);
        memcpy(savedButton, ASys.Button, sizeof savedButton);
        memcpy(savedIgnore, ignorePress, sizeof savedIgnore);
        savedKey = InputKeyDown;
        savedPointer = InputPointer;
        savedPadKeys = ThisGame.padKeysEnabled;
        savedStats = ThisGame.showStats;
        savedQuit = ThisGame.quitRequested;
        savedFocus = ThisGame.focusState;
        savedUpdateSec = StateOf(ThisGame).updateSec;
        savedUpdateFps = ThisGame.updateFps;
        memset(gKeys, 0, sizeof gKeys);
        gCurX = gCurY = 0;
        gLeft = gRight = 0;
        InputKeyDown = FakeKey;
        InputPointer = FakePointer;
        memset(ASys.Joy, 0, sizeof ASys.Joy);
        memset(ASys.Touch, 0, sizeof ASys.Touch);
        memset(ASys.Button, 0, sizeof ASys.Button);
        memset(ignorePress, 0, sizeof ignorePress);
        ASys.ClearKeys();
        ASys.FillKeyNames();
        ThisGame.padKeysEnabled = 1;
    }
    void TearDown() override {
        memcpy(ASys.redef, savedRedef, sizeof savedRedef);
        memcpy(ASys.Joy, savedJoy, sizeof savedJoy);
        memcpy(ASys.Touch, savedTouch, sizeof savedTouch);
        memcpy(ASys.Button, savedButton, sizeof savedButton);
        memcpy(ignorePress, savedIgnore, sizeof savedIgnore);
        InputKeyDown = savedKey;
        InputPointer = savedPointer;
        ThisGame.padKeysEnabled = savedPadKeys;
        ThisGame.showStats = savedStats;
        ThisGame.quitRequested = savedQuit;
        ThisGame.focusState = savedFocus;
        StateOf(ThisGame).updateSec = savedUpdateSec;
        ThisGame.updateFps = savedUpdateFps;
    }

    // A controller with 6 axes and 16 buttons in slot j.
    void Pad(int j, std::vector<float> axes, std::vector<int> pressed, int invertY = 0, const char* name = "Pad") {
        axes.resize(6, 0.0f);
        unsigned char buttons[16] = {0};
        for (int b : pressed) buttons[b] = GLFW_PRESS;
        ASys.StoreJoystick(j, 1, name, axes.data(), 6, buttons, 16, invertY);
    }

    int32_t savedRedef[64][16];
    float savedJoy[4][100];
    float savedTouch[10][10];
    int32_t savedButton[128];
    int32_t savedIgnore[1024];
    int (*savedKey)(int);
    int (*savedPointer)(double*, double*, int*, int*);
    int32_t savedPadKeys, savedStats, savedQuit, savedFocus, savedUpdateSec, savedUpdateFps;
};

std::string Captured(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

const char* kControllerLine = "\n\n--=--\nController ID 'Stuck Pad'\n--=--\n\n";

// ---- Joystick records ---------------------------------------------------------

TEST_F(InputTest, JoystickStaysSilentUntilSeenAtRestThenAnnouncesOnce) {
    struct Case {
        const char* what;
        std::vector<float> axes;
        std::vector<int> buttons;
    } stuck[] = {
        {"trigger axis half pressed", {0, 0, 0.6f}, {}},
        {"stick pushed left", {-0.31f}, {}},
        {"second stick pulled down", {0, 0, 0, 0.5f}, {}},
        {"button held", {}, {4}},
    };
    for (auto& c : stuck) {
        SCOPED_TRACE(c.what);
        memset(ASys.Joy, 0, sizeof ASys.Joy);
        std::string out = Captured([&] {
            for (int i = 0; i < 3; i++) Pad(1, c.axes, c.buttons, 0, "Stuck Pad");
        });
        EXPECT_EQ("", out);
        EXPECT_EQ(1, ASys.Joy[1][99]);
        EXPECT_EQ(0, ASys.Joy[1][98]);
        for (int k = 0; k < 98; k++) ASSERT_EQ(0, ASys.Joy[1][k]) << k;
        EXPECT_EQ(0, ThisGame.JoyAxis(2, 1));
        EXPECT_EQ(0, ThisGame.JoyDown(4, 1));

        out = Captured([&] {
            Pad(1, {0.1f, -0.3f, 0, 0, 0.9f}, {}, 0, "Stuck Pad");  // within the rest band; axis 4 does not count
            Pad(1, {}, {}, 0, "Stuck Pad");
        });
        EXPECT_EQ(kControllerLine, out);
        EXPECT_EQ(1, ASys.Joy[1][98]);

        // Once seen at rest, the controller reads live, stuck input included.
        out = Captured([&] { Pad(1, c.axes, c.buttons, 0, "Stuck Pad"); });
        EXPECT_EQ("", out);
        for (size_t k = 0; k < c.axes.size(); k++) EXPECT_FLOAT_EQ(c.axes[k], ThisGame.JoyAxis((int)k, 1));
        for (int b : c.buttons) EXPECT_EQ(1, ThisGame.JoyDown(b, 1));
    }
}

TEST_F(InputTest, AbsentJoystickReadsZeroAndKeepsItsRestFlag) {
    Captured([&] { Pad(2, {0.2f, 0.1f}, {}); });
    Pad(2, {0.9f}, {3});
    EXPECT_EQ(1, ThisGame.JoyDown(3, 2));
    ASys.StoreJoystick(2, 0, nullptr, nullptr, 0, nullptr, 0, 0);
    EXPECT_EQ(0, ASys.Joy[2][99]);
    EXPECT_EQ(1, ASys.Joy[2][98]);
    for (int k = 0; k < 98; k++) ASSERT_EQ(0, ASys.Joy[2][k]) << k;
    EXPECT_EQ(0, ThisGame.JoyDown(3, 2));
    EXPECT_EQ(0, ThisGame.JoyAxis(0, 2));
    // Back again: no second announcement, values live at once.
    EXPECT_EQ("", Captured([&] { Pad(2, {0.9f}, {3}); }));
    EXPECT_EQ(1, ThisGame.JoyDown(3, 2));
}

TEST_F(InputTest, JoystickCountsAreCutSoTheFlagsSurvive) {
    float axes[60];
    unsigned char buttons[60];
    for (int k = 0; k < 60; k++) {
        axes[k] = k < 4 ? 0.0f : 0.75f;
        buttons[k] = k >= 45 ? GLFW_PRESS : GLFW_RELEASE;
    }
    Captured([&] { ASys.StoreJoystick(0, 1, "Wide", axes, 60, buttons, 60, 0); });
    // Buttons past 45 are not read, so they cannot block the rest check.
    EXPECT_EQ(1, ASys.Joy[0][98]);
    EXPECT_EQ(1, ASys.Joy[0][99]);
    EXPECT_FLOAT_EQ(0.75f, ASys.Joy[0][50 + 44]);
    EXPECT_EQ(0, ASys.Joy[0][50 + 45]);
    EXPECT_EQ(0, ASys.Joy[0][45]);
    EXPECT_EQ(0, ASys.Joy[0][49]);
}

TEST_F(InputTest, InvertedYSwapsUpAndDownOnBothSticks) {
    struct Case { int invert; int up, down, up2, down2; } cases[] = {
        {0, 0, 2, 4, 6},
        {1, 2, 0, 6, 4},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.invert);
        memset(ASys.Joy, 0, sizeof ASys.Joy);
        Captured([&] { Pad(0, {}, {}, c.invert); });
        Pad(0, {0, -1.0f, 0, -0.6f}, {}, c.invert);  // both sticks pushed up
        ASys.PollRedef();
        EXPECT_FLOAT_EQ(1.0f, ThisGame.Joy(c.up));
        EXPECT_EQ(0, ThisGame.Joy(c.down));
        EXPECT_FLOAT_EQ(0.6f, ThisGame.Joy(c.up2));
        EXPECT_EQ(0, ThisGame.Joy(c.down2));
    }
}

// ---- Hard-wired buttons ----------------------------------------------------------

TEST_F(InputTest, PlayKeyConsultsLiveJoysticksThroughItsTable) {
    struct Case { int type; std::vector<float> axes; std::vector<int> buttons; int expect; } cases[] = {
        {0, {}, {10}, 1},        {0, {0, -0.6f}, {}, 1},  {0, {0, -0.4f}, {}, 0},
        {3, {}, {13}, 1},        {3, {-0.6f}, {}, 1},     {3, {0.6f}, {}, 0},
        {5, {}, {11}, 1},        {5, {0.6f}, {}, 1},      {5, {0.45f}, {}, 0},
        {8, {}, {12}, 1},        {8, {0, 0.6f}, {}, 1},   {8, {0, -0.6f}, {}, 0},
        {10, {}, {0}, 1},        {12, {}, {2}, 1},        {15, {}, {5}, 1},  {15, {}, {4}, 0},
        {98, {}, {7}, 1},        {99, {}, {6}, 1},        {99, {}, {7}, 0},
        {1, {}, {10, 11, 12, 13}, 0},  // types outside the table read Button alone
        {64, {}, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        memset(ASys.Joy, 0, sizeof ASys.Joy);
        Captured([&] { Pad(3, {}, {}); });
        Pad(3, c.axes, c.buttons);
        EXPECT_EQ(c.expect, ThisGame.PlayKey(c.type));
        EXPECT_EQ(c.expect, ThisGame.PlayKeyAll(c.type));
    }

    // Not consulted when switched off, or for a joystick not yet seen at rest.
    memset(ASys.Joy, 0, sizeof ASys.Joy);
    Captured([&] { Pad(0, {}, {}); });
    Pad(0, {}, {6});
    ThisGame.padKeysEnabled = 0;
    EXPECT_EQ(0, ThisGame.PlayKey(99));
    ThisGame.padKeysEnabled = 1;
    EXPECT_EQ(1, ThisGame.PlayKey(99));
    memset(ASys.Joy, 0, sizeof ASys.Joy);
    Pad(0, {}, {6});
    EXPECT_EQ(0, ThisGame.PlayKey(99));

    ASys.Button[64] = 1;
    EXPECT_EQ(1, ThisGame.PlayKey(64));
    EXPECT_EQ(0, ThisGame.PlayKey(-1));
    EXPECT_EQ(0, ThisGame.PlayKey(128));
}

TEST_F(InputTest, PollFillsTheButtonTableFromItsKeys) {
    struct Case { int key; int entry; } cases[] = {
        {GLFW_KEY_UP, 0},          {GLFW_KEY_W, 0},           {GLFW_KEY_KP_8, 0},
        {GLFW_KEY_A, 3},           {GLFW_KEY_KP_4, 3},        {GLFW_KEY_RIGHT, 5},
        {GLFW_KEY_KP_6, 5},        {GLFW_KEY_KP_5, 8},        {GLFW_KEY_KP_2, 8},
        {GLFW_KEY_S, 8},           {GLFW_KEY_J, 10},          {GLFW_KEY_ENTER, 10},
        {GLFW_KEY_KP_7, 10},       {GLFW_KEY_K, 11},          {GLFW_KEY_RIGHT_CONTROL, 11},
        {GLFW_KEY_KP_9, 11},       {GLFW_KEY_L, 12},          {GLFW_KEY_RIGHT_SHIFT, 12},
        {GLFW_KEY_I, 13},          {GLFW_KEY_LEFT_ALT, 13},   {GLFW_KEY_U, 14},
        {GLFW_KEY_N, 15},          {GLFW_KEY_O, 15},          {GLFW_KEY_F2, 64},
        {GLFW_KEY_F10, 66},        {GLFW_KEY_F9, 67},         {GLFW_KEY_F1, 68},
        {GLFW_KEY_ESCAPE, 99},     {GLFW_KEY_F4, 100},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.key);
        memset(gKeys, 0, sizeof gKeys);
        gKeys[c.key] = true;
        ASys.PollInputB(0);
        for (int i = 0; i < 127; i++) {
            if (i != 63) {
                EXPECT_EQ(i == c.entry ? 1 : 0, ASys.Button[i]) << "entry " << i;
            }
        }
        EXPECT_EQ(c.key == GLFW_KEY_F9 ? 1 : 0, Wireframe);
    }
    // Without a window there is no focus.
    EXPECT_EQ(-1, ASys.Button[63]);
    memset(gKeys, 0, sizeof gKeys);
    ASys.PollInputB(0);
    EXPECT_EQ(0, Wireframe);
}

TEST_F(InputTest, FlushKeysClearsAllButTheLastEntry) {
    for (int i = 0; i < 128; i++) ASys.Button[i] = 7;
    ASys.FlushKeys();
    for (int i = 0; i < 127; i++) ASSERT_EQ(0, ASys.Button[i]) << i;
    EXPECT_EQ(7, ASys.Button[127]);
}

TEST_F(InputTest, F1FlipsStatisticsOncePerPress) {
    ThisGame.showStats = 0;
    DebugToggle = 0;
    gKeys[GLFW_KEY_F1] = true;
    for (int i = 0; i < 6; i++) ThisGame.PollInput(0);
    EXPECT_EQ(1, ThisGame.showStats);
    gKeys[GLFW_KEY_F1] = false;
    ThisGame.PollInput(0);
    EXPECT_EQ(1, ThisGame.showStats);
    gKeys[GLFW_KEY_F1] = true;
    ThisGame.PollInput(0);
    ThisGame.PollInput(0);
    EXPECT_EQ(0, ThisGame.showStats);
}

TEST_F(InputTest, PollInputQuitsOnF4AndCopiesFocus) {
    ThisGame.quitRequested = 0;
    ThisGame.focusState = 1;
    ThisGame.PollInput(0);
    EXPECT_EQ(0, ThisGame.quitRequested);
    EXPECT_EQ(-1, ThisGame.focusState);
    gKeys[GLFW_KEY_F4] = true;
    ThisGame.PollInput(0);
    EXPECT_EQ(1, ThisGame.quitRequested);
}

// The focus entry is the one hard-wired button that is not 0/1: PlayKey
// hands on its -1, so a game can tell a lost focus from a held key.
TEST_F(InputTest, PlayKeyReportsTheFocusEntryAsItIs) {
    ThisGame.PollInput(0);  // no window: no focus
    EXPECT_EQ(-1, ThisGame.PlayKey(63));
    EXPECT_EQ(-1, ThisGame.PlayKeyAll(63));
    ASys.Button[63] = 1;
    EXPECT_EQ(1, ThisGame.PlayKey(63));
}

TEST_F(InputTest, PollInputNamesTheNextScreenshot) {
    ASys.ScreenshotName[0] = 0;
    ThisGame.PollInput(0);
    std::string prefix = std::string(ThisGame.dataRoot) + "/Screenshot_" + std::to_string(ThisGame.gameNumber) + "_";
    std::string name = ASys.ScreenshotName;
    EXPECT_EQ(prefix, name.substr(0, prefix.size()));
    EXPECT_EQ(".png", name.substr(name.size() - 4));
}

TEST_F(InputTest, UpdateRateIsSampledOncePerSecond) {
    DrivenClock clock;
    StateOf(ThisGame).updateSec = ThisGame.Mills();
    ThisGame.updateFps = 55;
    UpdateCountLive = 0;
    for (int i = 0; i < 3; i++) ThisGame.PollInput(0);
    EXPECT_EQ(3, UpdateCountLive);
    EXPECT_EQ(55, ThisGame.updateFps);
    clock.Advance(1000);  // a second has passed
    ThisGame.PollInput(0);
    EXPECT_EQ(4, ThisGame.updateFps);
    EXPECT_EQ(0, UpdateCountLive);
    EXPECT_EQ(ThisGame.Mills(), StateOf(ThisGame).updateSec);
    StateOf(ThisGame).updateSec = ThisGame.Mills() + 5000;  // the clock went back
    ThisGame.PollInput(0);
    EXPECT_EQ(1, ThisGame.updateFps);
    EXPECT_EQ(ThisGame.Mills(), StateOf(ThisGame).updateSec);
    // 31 polls, then a stall: the sample closes 2 s after it opened, and
    // shows the 32 polls as 16 a second, not 32.
    for (int i = 0; i < 31; i++) ThisGame.PollInput(0);
    clock.Advance(2000);
    ThisGame.PollInput(0);
    EXPECT_EQ(16, ThisGame.updateFps);
}

TEST(RateCounter, ScalesALateSampleToOneSecond) {
    struct Case { int count, elapsed, rate; } cases[] = {
        {62, 1000, 62}, {63, 1008, 63}, {63, 1016, 62}, {30, 2000, 15}, {1, 3000, 0}, {7, -5000, 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.rate, RatePerSecond(c.count, c.elapsed)) << c.count << " in " << c.elapsed;
}

// ---- Hot keys ------------------------------------------------------------------------

TEST_F(InputTest, HotKeysActOnlyWhileChosen) {
    struct Case {
        int bit, key, entry;
        std::function<int()> acted;
    } cases[] = {
        {KELP_HOTKEY_F1, GLFW_KEY_F1, 68, [] { return ThisGame.showStats; }},   // flipped from 0
        {KELP_HOTKEY_F4, GLFW_KEY_F4, 100, [] { return ThisGame.quitRequested; }},
        {KELP_HOTKEY_F9, GLFW_KEY_F9, 67, [] { return Wireframe; }},
        // The renderer saves a screenshot after a poll that set this.
        {KELP_HOTKEY_F10, GLFW_KEY_F10, 66, [] { return ASys.Button[66]; }},
    };
    for (auto& c : cases) {
        // On alone, then every other one on: the choice is per key.
        for (int chosen : {c.bit, KELP_HOTKEYS_ALL & ~c.bit}) {
            SCOPED_TRACE(testing::Message() << "key " << c.key << ", hot keys " << chosen);
            ThisGame.SetHotKeys(chosen);
            ThisGame.showStats = 0;
            ThisGame.quitRequested = 0;
            DebugToggle = 0;
            memset(gKeys, 0, sizeof gKeys);
            gKeys[c.key] = true;
            Captured([&] { ThisGame.PollInput(0); });
            int on = (chosen & c.bit) ? 1 : 0;
            EXPECT_EQ(on, c.acted());
            EXPECT_EQ(on, ThisGame.PlayKey(c.entry));
        }
    }
    ThisGame.SetHotKeys(KELP_HOTKEYS_ALL | 64);
    EXPECT_EQ(KELP_HOTKEYS_ALL, ThisGame.HotKeys());
    memset(gKeys, 0, sizeof gKeys);
    ThisGame.PollInput(0);
    EXPECT_EQ(0, Wireframe);
}

// ---- Presses and releases ------------------------------------------------------------

TEST_F(InputTest, PressAndReleaseAreReportedOncePerChange) {
    ThisGame.SetKey(KELP_BUTTON1, KELP_KEY_Z);
    Captured([&] { Pad(0, {}, {}); });
    ThisGame.PollInput(0);   // whatever an earlier test held is let go
    // Each poll: pad 0's stick across (action Right) and Z (button 1), then
    // what the poll saw change.
    struct Step {
        float stick;
        bool z;
        int rightPressed, rightReleased, firePressed, fireReleased;
    } steps[] = {
        {0, false, 0, 0, 0, 0},
        {0.6f, true, 1, 0, 1, 0},
        {0.9f, true, 0, 0, 0, 0},    // held: nothing new
        {0.4f, false, 0, 0, 0, 1},   // between 0.3 and 0.5 the stick is still held
        {0.45f, false, 0, 0, 0, 0},
        {0.2f, false, 0, 1, 0, 0},   // below 0.3: let go
        {0.45f, false, 0, 0, 0, 0},  // not above 0.5: no press
        {0.7f, true, 1, 0, 1, 0},
    };
    int i = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(i++);
        gKeys[GLFW_KEY_Z] = s.z;
        Pad(0, {s.stick}, {});
        ThisGame.PollInput(0);
        EXPECT_EQ(s.rightPressed, ThisGame.JoyPressed(KELP_RIGHT));
        EXPECT_EQ(s.rightReleased, ThisGame.JoyReleased(KELP_RIGHT));
        EXPECT_EQ(s.firePressed, ThisGame.JoyPressed(KELP_BUTTON1));
        EXPECT_EQ(s.fireReleased, ThisGame.JoyReleased(KELP_BUTTON1));
        EXPECT_EQ(0, ThisGame.JoyPressed(KELP_LEFT));
    }
    for (int action : {-1, int(KELP_ACTIONS), 1000}) {
        EXPECT_EQ(0, ThisGame.JoyPressed(action));
        EXPECT_EQ(0, ThisGame.JoyReleased(action));
    }
}

// Settings files store GLFW's codes: the names must be exactly those.
TEST(KeyCodes, NamedKeysAreGlfwsCodes) {
#define SAME(name) {KELP_KEY_##name, GLFW_KEY_##name, #name}
    struct { int named, glfw; const char* name; } keys[] = {
        SAME(SPACE), SAME(APOSTROPHE), SAME(COMMA), SAME(MINUS), SAME(PERIOD), SAME(SLASH),
        SAME(0), SAME(1), SAME(2), SAME(3), SAME(4), SAME(5), SAME(6), SAME(7), SAME(8), SAME(9),
        SAME(SEMICOLON), SAME(EQUAL),
        SAME(A), SAME(B), SAME(C), SAME(D), SAME(E), SAME(F), SAME(G), SAME(H), SAME(I), SAME(J), SAME(K),
        SAME(L), SAME(M), SAME(N), SAME(O), SAME(P), SAME(Q), SAME(R), SAME(S), SAME(T), SAME(U), SAME(V),
        SAME(W), SAME(X), SAME(Y), SAME(Z),
        SAME(LEFT_BRACKET), SAME(BACKSLASH), SAME(RIGHT_BRACKET), {KELP_KEY_GRAVE, GLFW_KEY_GRAVE_ACCENT, "GRAVE"},
        SAME(ESCAPE), {KELP_KEY_RETURN, GLFW_KEY_ENTER, "RETURN"}, SAME(TAB), SAME(BACKSPACE), SAME(INSERT),
        SAME(DELETE), SAME(RIGHT), SAME(LEFT), SAME(DOWN), SAME(UP), SAME(PAGE_UP), SAME(PAGE_DOWN),
        SAME(HOME), SAME(END), SAME(CAPS_LOCK), SAME(SCROLL_LOCK), SAME(NUM_LOCK), SAME(PRINT_SCREEN),
        SAME(PAUSE), SAME(F1), SAME(F2), SAME(F3), SAME(F4), SAME(F5), SAME(F6), SAME(F7), SAME(F8),
        SAME(F9), SAME(F10), SAME(F11), SAME(F12),
        SAME(KP_0), SAME(KP_1), SAME(KP_2), SAME(KP_3), SAME(KP_4), SAME(KP_5), SAME(KP_6), SAME(KP_7),
        SAME(KP_8), SAME(KP_9), SAME(KP_DECIMAL), SAME(KP_DIVIDE), SAME(KP_MULTIPLY), SAME(KP_SUBTRACT),
        SAME(KP_ADD), SAME(KP_ENTER), SAME(KP_EQUAL),
        SAME(LEFT_SHIFT), {KELP_KEY_LEFT_CTRL, GLFW_KEY_LEFT_CONTROL, "LEFT_CTRL"}, SAME(LEFT_ALT),
        SAME(LEFT_SUPER), SAME(RIGHT_SHIFT), {KELP_KEY_RIGHT_CTRL, GLFW_KEY_RIGHT_CONTROL, "RIGHT_CTRL"},
        SAME(RIGHT_ALT), SAME(RIGHT_SUPER), SAME(MENU),
    };
#undef SAME
    for (auto& k : keys) EXPECT_EQ(k.glfw, k.named) << k.name;
    // Pad codes: button b and axis a of pad p; anything out of range binds nothing.
    EXPECT_EQ(500, KelpPadButton(0, KELP_PAD_A));
    EXPECT_EQ(813, KelpPadButton(3, KELP_PAD_DPAD_LEFT));
    EXPECT_EQ(651, KelpPadAxis(1, KELP_PAD_LEFT_Y));
    EXPECT_EQ(897, KelpPadAxis(3, 47));
    for (int bad : {KelpPadButton(4, 0), KelpPadButton(-1, 0), KelpPadButton(0, 50), KelpPadAxis(0, 48),
                    KelpPadAxis(4, 0)})
        EXPECT_EQ(0, bad);
}

// ---- Pointer ---------------------------------------------------------------------

class PointerTest : public InputTest {
protected:
    void SetUp() override {
        InputTest::SetUp();
        saved = {ASys.fbWidth, ASys.fbHeight, ASys.virtualW, ASys.centreX, ASys.centreY,
                 ASys.OverscanScaleX, ASys.OverscanScaleY};
        Canvas(800, 600, 800, 400, 300, 1, 1);
    }
    void TearDown() override {
        Canvas(saved.fbw, saved.fbh, saved.vw, saved.cx, saved.cy, saved.ox, saved.oy);
        InputTest::TearDown();
    }
    struct State { int fbw, fbh; float vw, cx, cy, ox, oy; } saved;
    static void Canvas(int fbw, int fbh, float vw, float cx, float cy, float ox, float oy) {
        ASys.fbWidth = fbw;
        ASys.fbHeight = fbh;
        ASys.virtualW = vw;
        ASys.centreX = cx;
        ASys.centreY = cy;
        ASys.OverscanScaleX = ox;
        ASys.OverscanScaleY = oy;
    }
    void Poll(double x, double y, int left, int right = 0) {
        gCurX = x;
        gCurY = y;
        gLeft = left;
        gRight = right;
        ASys.PollInputB(0);
    }
};

TEST_F(PointerTest, HeldCountAndMovementFollowTheLeftButton) {
    const float* t = ASys.Touch[0];
    Poll(100, 50, 0);
    EXPECT_FLOAT_EQ(100, ThisGame.MouseX());
    EXPECT_FLOAT_EQ(50, ThisGame.MouseY());
    EXPECT_EQ(0, ThisGame.MouseHeld());
    EXPECT_EQ(-100, t[3]);
    EXPECT_EQ(-100, t[4]);
    EXPECT_EQ(0, t[8]);
    EXPECT_EQ(0, t[9]);

    Poll(110, 60, 1);  // the first poll of the press
    EXPECT_EQ(1, ThisGame.MouseDown());
    EXPECT_EQ(1, ThisGame.MouseHeld());
    EXPECT_EQ(1, ThisGame.mdall());
    EXPECT_FLOAT_EQ(100, t[3]);
    EXPECT_FLOAT_EQ(50, t[4]);
    EXPECT_FLOAT_EQ(10, t[8]);
    EXPECT_FLOAT_EQ(10, t[9]);

    Poll(130, 60, 1);
    EXPECT_EQ(2, ThisGame.TouchHeld());
    EXPECT_FLOAT_EQ(20, t[8]);
    EXPECT_FLOAT_EQ(0, t[9]);

    Poll(140, 70, 0, 1);  // released; the right button is the alternative press
    EXPECT_EQ(0, ThisGame.MouseDown());
    EXPECT_EQ(1, ThisGame.MouseDown_Alt());
    EXPECT_EQ(0, ThisGame.MouseHeld());
    EXPECT_EQ(0, ThisGame.mdall());
    EXPECT_EQ(-100, t[3]);
    EXPECT_EQ(0, t[8]);
    EXPECT_EQ(0, t[9]);
    EXPECT_FLOAT_EQ(140, ThisGame.TouchX());
    EXPECT_FLOAT_EQ(70, ThisGame.TouchY());
}

TEST_F(PointerTest, CursorIsMappedThroughCanvasScaleAndOverscan) {
    // x = (cursor x - fbWidth/2) * OverscanScaleX * s + centreX, s = virtualW / fbWidth (both axes).
    struct Case { int fbw, fbh; float vw, cx, cy, ox, oy; double curX, curY; float x, y; } cases[] = {
        {800, 600, 800, 400, 300, 1, 1, 0, 0, 0, 0},
        {800, 600, 800, 400, 300, 1, 1, 799, 599, 799, 599},
        // 1600 x 900, no overscan: s = 0.5
        {1600, 900, 800, 400, 225, 1, 1, 1600, 450, 800, 225},
        // 1000 x 500 with overscan 0.1: scales 1/0.95 and 1/0.9; s = 0.8
        {1000, 500, 800, 400, 200, 1.0f / 0.95f, 1.0f / 0.9f, 1000, 0, 400 + 500 * 0.8f / 0.95f,
         200 - 250 * 0.8f / 0.9f},
        // odd framebuffer: the half is an integer division (333 / 2 = 166)
        {333, 333, 800, 400, 400, 1, 1, 166, 0, 400, 400 - 166 * 800.0f / 333},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fbw << "x" << c.fbh << " at " << c.curX << "," << c.curY);
        Canvas(c.fbw, c.fbh, c.vw, c.cx, c.cy, c.ox, c.oy);
        Poll(c.curX, c.curY, 0);
        EXPECT_NEAR(c.x, ThisGame.MouseX(), 0.01);
        EXPECT_NEAR(c.y, ThisGame.MouseY(), 0.01);
    }
}

TEST_F(PointerTest, HitTestsNeverReportAPointerAtTheOrigin) {
    // Record 0 at exactly (0, 0) is never inside; record 3 is the first hit.
    ASys.Touch[3][1] = 12;
    ASys.Touch[3][2] = 8;
    EXPECT_EQ(4, ThisGame.MouseIn(-20, -20, 40, 40));
    EXPECT_EQ(4, ThisGame.MouseIn_Radius(0, 0, 15));
    EXPECT_EQ(0, ThisGame.MouseIn_Radius(0, 0, 14.4f));  // 12^2 + 8^2 = 208 > 14.4^2
    ASys.Touch[3][1] = ASys.Touch[3][2] = 0;
    EXPECT_EQ(0, ThisGame.MouseIn(-20, -20, 40, 40));
    EXPECT_EQ(0, ThisGame.MouseIn_Centered(0, 0, 40, 40));
    EXPECT_EQ(0, ThisGame.MouseIn_Radius(0, 0, 50));

    // One coordinate above zero is a pointer; box edges are inside.
    struct Case { float px, py, bx, by, bw, bh; int inside; } cases[] = {
        {0, 5, -10, 0, 20, 10, 1},     {-3, 5, -10, 0, 20, 10, 1},  {10, 10, 10, 10, 5, 5, 1},
        {15, 15, 10, 10, 5, 5, 1},     {15.01f, 15, 10, 10, 5, 5, 0}, {12, 9.99f, 10, 10, 5, 5, 0},
        {-1, -1, -10, -10, 20, 20, 0}, {0, 0, -10, -10, 20, 20, 0},
    };
    for (auto& c : cases) {
        ASys.Touch[0][1] = c.px;
        ASys.Touch[0][2] = c.py;
        EXPECT_EQ(c.inside, ThisGame.MouseIn(c.bx, c.by, c.bw, c.bh)) << c.px << "," << c.py;
    }
}

TEST_F(PointerTest, ButtonReportsThePointerPressingItsSquare) {
    const int slot = 97;
    int savedCount = ASys.drawCount;
    int savedSize = imageFrameSize[slot];
    float savedSizeX = ASys.sizeX, savedView = ASys.ViewScale;
    imageFrameSize[slot] = 64;
    ASys.ViewScale = 2.0f / 800;
    ASys.sizeX = 1.5f / ASys.ViewScale;  // size 1.5: a square of side 96
    struct Case { float px, py; int down; int expect; } cases[] = {
        {200 + 47, 100, 1, 1}, {152.5f, 147.5f, 1, 1}, {200 + 49, 100, 1, 0},
        {200, 100, 0, 0},      {200, 100 - 49, 1, 0},
    };
    for (auto& c : cases) {
        ASys.Touch[0][1] = c.px;
        ASys.Touch[0][2] = c.py;
        ASys.Touch[0][5] = (float)c.down;
        EXPECT_EQ(c.expect, ThisGame.Button(slot, 200, 100, 0)) << c.px << "," << c.py;
    }
    // A slot outside 0..99 neither answers nor draws.
    int before = ASys.drawCount;
    ASys.Touch[0][1] = 200;
    ASys.Touch[0][2] = 100;
    ASys.Touch[0][5] = 1;
    EXPECT_EQ(0, ThisGame.Button(100, 200, 100, 0));
    EXPECT_EQ(0, ThisGame.Button(-1, 200, 100, 0));
    EXPECT_EQ(before, ASys.drawCount);
    ASys.drawCount = savedCount;
    imageFrameSize[slot] = savedSize;
    ASys.sizeX = savedSizeX;
    ASys.ViewScale = savedView;
}

// Fingers beyond the first, as a touch screen reports them (framebuffer
// pixels): record i is the finger on it, if any.
struct Finger { int on; double x, y; int down; };
Finger gFingers[10];
int FakeFinger(int i, double* x, double* y, int* down) {
    const Finger& f = gFingers[i];
    *x = f.x;
    *y = f.y;
    *down = f.down;
    return f.on;
}

TEST_F(PointerTest, FurtherTouchPointsDriveRecordsOneToNine) {
    struct Restore {
        ~Restore() { InputTouch = nullptr; }
    } restore;
    memset(gFingers, 0, sizeof gFingers);
    Canvas(1600, 900, 800, 400, 225, 1, 1);   // 2 pixels a unit
    InputTouch = FakeFinger;

    gFingers[3] = {1, 600, 300, 1};
    gFingers[9] = {1, 20, 40, 1};
    Poll(0, 0, 0);
    EXPECT_EQ(0, ThisGame.MouseDown());
    EXPECT_EQ(1, ThisGame.mdall());
    EXPECT_EQ(1, ThisGame.TouchDown(3));
    EXPECT_EQ(1, ThisGame.TouchHeld(3));
    EXPECT_FLOAT_EQ(300, ThisGame.TouchX(3));
    EXPECT_FLOAT_EQ(150, ThisGame.TouchY(3));
    EXPECT_FLOAT_EQ(10, ThisGame.TouchX(9));
    EXPECT_EQ(4, ThisGame.MouseIn_Radius(300, 150, 1));   // hit tests see record 3
    EXPECT_EQ(10, ThisGame.MouseIn(0, 0, 20, 30));

    gFingers[3] = {1, 640, 310, 1};   // moved while down
    Poll(0, 0, 0);
    EXPECT_EQ(2, ThisGame.TouchHeld(3));
    EXPECT_FLOAT_EQ(20, ASys.Touch[3][8]);
    EXPECT_FLOAT_EQ(5, ASys.Touch[3][9]);

    gFingers[3] = {1, 640, 310, 0};   // lifted: its release is reported once, in place
    Poll(0, 0, 0);
    EXPECT_EQ(0, ThisGame.TouchDown(3));
    EXPECT_EQ(0, ThisGame.TouchHeld(3));
    EXPECT_FLOAT_EQ(320, ThisGame.TouchX(3));
    EXPECT_EQ(-100, ASys.Touch[3][3]);

    gFingers[3] = {0, 0, 0, 0};   // then the record is unused: no hit test finds it
    Poll(0, 0, 0);
    EXPECT_FLOAT_EQ(0, ThisGame.TouchX(3));
    EXPECT_FLOAT_EQ(0, ThisGame.TouchY(3));
    EXPECT_EQ(0, ThisGame.MouseIn_Radius(320, 155, 50));
    EXPECT_EQ(1, ThisGame.mdall());   // record 9 is still down

    // Where there are no touch points the records are the game's to set.
    InputTouch = nullptr;
    ASys.Touch[5][1] = 7;
    ASys.Touch[5][5] = 1;
    Poll(0, 0, 0);
    EXPECT_FLOAT_EQ(7, ThisGame.TouchX(5));
    EXPECT_EQ(1, ThisGame.TouchDown(5));
}

// ---- Capture ----------------------------------------------------------------------

TEST_F(InputTest, CaptureWaitsForReleaseAfterLockForGet) {
    gKeys[GLFW_KEY_Z] = true;
    gKeys[GLFW_KEY_SPACE] = true;
    EXPECT_EQ(GLFW_KEY_SPACE, ThisGame.GetKey());  // lowest code first
    ThisGame.LockForGet();
    EXPECT_EQ(-1, ThisGame.GetKey());
    gKeys[GLFW_KEY_SPACE] = false;
    EXPECT_EQ(-1, ThisGame.GetKey());
    gKeys[GLFW_KEY_SPACE] = true;
    EXPECT_EQ(GLFW_KEY_SPACE, ThisGame.GetKey());
    gKeys[GLFW_KEY_SPACE] = gKeys[GLFW_KEY_Z] = false;
    EXPECT_EQ(-1, ThisGame.GetKey());
}

TEST_F(InputTest, CaptureTakesLiveJoystickButtonsButNeverAxes) {
    Captured([&] {
        Pad(0, {}, {});
        Pad(1, {}, {});
    });
    Pad(1, {1.0f, 1.0f}, {});
    EXPECT_EQ(-1, ThisGame.GetKey());
    Pad(1, {}, {3});
    EXPECT_EQ(603, ThisGame.GetKey());
    ThisGame.LockForGet();
    EXPECT_EQ(-1, ThisGame.GetKey());
    Pad(1, {}, {});
    EXPECT_EQ(-1, ThisGame.GetKey());
    Pad(1, {}, {3});
    EXPECT_EQ(603, ThisGame.GetKey());
    // A controller never seen at rest offers nothing.
    Pad(2, {}, {0});
    Pad(1, {}, {});
    EXPECT_EQ(-1, ThisGame.GetKey());
    for (int i = 0; i < 1000; i++) ignorePress[i] = 0;
    ThisGame.LockForGet();
    for (int i = 0; i < 1000; i++) ASSERT_NE(0, ignorePress[i]) << i;
}

// ---- Bindings ------------------------------------------------------------------------

std::vector<int> List(int action) {
    std::vector<int> out;
    for (int s = 48; s < 64; s++)
        if (ThisGame.KeyValue(action, s)) out.push_back(ThisGame.KeyValue(action, s));
    return out;
}

TEST_F(InputTest, DefaultsAreInstalledInOrder) {
    ThisGame.KeyDefaults();
    struct Case { int action; std::vector<int> list; } cases[] = {
        {0, {265, 328, 87, 510, 610, 710, 810}},
        {1, {262, 326, 68, 511, 611, 711, 811}},
        {3, {263, 324, 65, 513, 613, 713, 813}},
        {4, {}},
        {7, {}},
        {8, {256, 507, 607, 707, 807}},
        {9, {259, 506, 606, 706, 806}},
        {10, {90, 75, 32, 257, 335, 500, 600, 700, 800}},
        {11, {88, 76, 341, 345, 501, 601, 701, 801}},
        {13, {86, 73, 340, 344, 503, 603, 703, 803}},
        {15, {78, 79, 505, 605, 705, 805}},
    };
    for (auto& c : cases) EXPECT_EQ(c.list, List(c.action)) << "action " << c.action;
    // The newest binding is at slot 63; nothing lies below slot 48.
    EXPECT_EQ(800, ThisGame.KeyValue(10, 63));
    EXPECT_EQ(90, ThisGame.KeyValue(10, 55));
    EXPECT_EQ(0, ThisGame.KeyValue(10, 54));
    for (int s = 0; s < 48; s++)
        for (int a = 0; a < 16; a++) ASSERT_EQ(0, ASys.redef[s][a]);
}

TEST_F(InputTest, DefineKeyMovesInputsAndKeepsOnePerJoystick) {
    ThisGame.KeyDefaults();
    ThisGame.SetKey(11, GLFW_KEY_SPACE);
    for (int s = 0; s < 64; s++) EXPECT_NE(GLFW_KEY_SPACE, ThisGame.KeyValue(10, s)) << s;
    EXPECT_EQ(GLFW_KEY_SPACE, ThisGame.KeyValue(11, 63));

    ThisGame.SetKey(0, 503);
    EXPECT_EQ((std::vector<int>{265, 328, 87, 610, 710, 810, 503}), List(0));
    EXPECT_EQ((std::vector<int>{86, 73, 340, 344, 603, 703, 803}), List(13));

    // Out-of-range actions change nothing.
    int32_t before[64][16];
    memcpy(before, ASys.redef, sizeof before);
    ThisGame.SetKey(16, 42);
    ThisGame.SetKey(-1, 42);
    EXPECT_EQ(0, memcmp(before, ASys.redef, sizeof before));
    EXPECT_EQ(0, ThisGame.KeyValue(16, 63));
    EXPECT_EQ(0, ThisGame.KeyValue(0, 64));
}

TEST_F(InputTest, SeventeenthBindingPushesOutTheOldest) {
    for (int i = 0; i < 17; i++) ThisGame.SetKey(5, 65 + i);
    for (int s = 48; s < 64; s++) EXPECT_EQ(66 + (s - 48), ThisGame.KeyValue(5, s)) << s;
    for (int s = 0; s < 64; s++)
        for (int a = 0; a < 16; a++) ASSERT_NE(65, ASys.redef[s][a]);
    // An empty binding is pushed in like any other.
    ThisGame.SetKey(5, 0);
    EXPECT_EQ(0, ThisGame.KeyValue(5, 63));
    EXPECT_EQ(67, ThisGame.KeyValue(5, 48));
}

TEST_F(InputTest, ReplayingSavedListsRebuildsTheBindings) {
    ThisGame.KeyDefaults();
    ThisGame.SetKey(4, 601);
    ThisGame.SetKey(9, GLFW_KEY_SPACE);
    int32_t saved[64][16];
    memcpy(saved, ASys.redef, sizeof saved);

    ThisGame.FlushKeys();
    for (int s = 0; s < 64; s++)
        for (int a = 0; a < 16; a++) ASSERT_EQ(0, ASys.redef[s][a]);
    ThisGame.KeyDefaults();  // the defaults are in place when a settings file is loaded
    for (int a = 0; a < 16; a++)
        for (int s = 0; s < 64; s++) ThisGame.SetKey(a, saved[s][a]);
    EXPECT_EQ(0, memcmp(saved, ASys.redef, sizeof saved));
}

TEST_F(InputTest, ActionValuesFromKeysSticksAndBoundInputs) {
    ThisGame.KeyDefaults();
    ThisGame.SetKey(9, 551);  // joystick 0, axis 1
    Captured([&] { Pad(0, {}, {}); });
    struct Case {
        const char* what;
        std::vector<float> axes;
        std::vector<int> buttons;
        int key;
        int action;
        float value;
    } cases[] = {
        {"left stick half up", {0, -0.5f}, {}, 0, 0, 0.5f},
        {"half up with W held", {0, -0.5f}, {}, GLFW_KEY_W, 0, 1.0f},
        {"inside the dead band", {0, -0.25f}, {}, 0, 0, 0.0f},
        {"stick right", {0.8f}, {}, 0, 1, 0.8f},
        {"stick left does not lower right", {-0.8f}, {}, 0, 1, 0.0f},
        {"second stick right", {0, 0, 0.7f}, {}, 0, 5, 0.7f},
        {"second stick down", {0, 0, 0, 0.4f}, {}, 0, 6, 0.4f},
        {"bound button", {}, {5}, 0, 15, 1.0f},
        {"bound axis keeps its sign", {0, -0.8f}, {}, 0, 9, -0.8f},
        {"bound axis, key wins", {0, -0.8f}, {}, GLFW_KEY_BACKSPACE, 9, 1.0f},
        {"unbound key", {}, {}, GLFW_KEY_Q, 10, 0.0f},
        {"Num Enter", {}, {}, GLFW_KEY_KP_ENTER, 10, 1.0f},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        memset(gKeys, 0, sizeof gKeys);
        if (c.key) gKeys[c.key] = true;
        Pad(0, c.axes, c.buttons);
        ASys.PollRedef();
        EXPECT_FLOAT_EQ(c.value, ThisGame.Joy(c.action));
    }

    // A joystick not seen at rest, or absent, adds nothing.
    memset(gKeys, 0, sizeof gKeys);
    memset(ASys.Joy, 0, sizeof ASys.Joy);
    Pad(0, {0, -1.0f}, {5});
    ASys.PollRedef();
    EXPECT_EQ(0, ThisGame.Joy(0));
    EXPECT_EQ(0, ThisGame.Joy(15));
}

TEST_F(InputTest, ButtonNames) {
    Captured([&] { Pad(0, {}, {}); });
    Pad(2, {}, {1});  // present, never at rest
    struct Case { int code; const char* name; } cases[] = {
        {32, "[ Space ]"},      {65, "[ A ]"},           {48, "[ 0 ]"},          {92, "[ \\ ]"},
        {96, "[ ` ]"},          {39, "[ ' ]"},           {162, "[ ??? ]"},       {256, "[ Escape ]"},
        {265, "[ Up ]"},        {267, "[ Page Down ]"},  {284, "[ Pause ]"},     {290, "[ F1 ]"},
        {314, "[ F25 ]"},       {320, "[ Num 0 ]"},      {335, "[ Num Enter ]"}, {336, "[ Num = ]"},
        {341, "[ Left Ctrl ]"}, {347, "[ Right Super ]"}, {348, "[ Menu ]"},     {349, "[ ??? ]"},
        {0, "N/A"},             {350, "N/A"},            {-5, "N/A"},            {499, "N/A"},
        {510, "Joy 1 Button 10"}, {549, "Joy 1 Button 49"}, {550, "Joy 1 Axis 0"}, {597, "Joy 1 Axis 47"},
        {598, "N/A"},           {610, "N/A"},            {700, "N/A"},           {900, "N/A"},
    };
    for (auto& c : cases) EXPECT_EQ(c.name, ThisGame.KeyName(c.code)) << c.code;
}

}  // namespace
