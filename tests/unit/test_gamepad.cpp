// Gamepads as GLFW reports them on Linux, fed to the real input poll in
// place of GLFW's joystick functions, then used on the real screens: the
// pad goes live, moves the player, confirms on the menu and is caught by
// the redefine screen.
#include <GLFW/glfw3.h>

#include <functional>
#include <string>
#include <vector>

#include "frontend_fixture.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

// One joystick slot as GLFW's joystick functions would see it.
struct FakePad {
    const char* name = nullptr;          // null: nothing plugged in
    std::vector<float> axes;
    std::vector<unsigned char> buttons;  // hat buttons appended, as GLFW does
    bool known = false;                  // in GLFW's gamepad mapping database
};

FakePad gPads[4];

bool Plugged(int j) { return j >= 0 && j < 4 && gPads[j].name; }
int FakePresent(int j) { return Plugged(j) ? GLFW_TRUE : GLFW_FALSE; }
const char* FakeName(int j) { return Plugged(j) ? gPads[j].name : nullptr; }
const float* FakeAxes(int j, int* count) {
    *count = Plugged(j) ? (int)gPads[j].axes.size() : 0;
    return Plugged(j) ? gPads[j].axes.data() : nullptr;
}
const unsigned char* FakeButtons(int j, int* count) {
    *count = Plugged(j) ? (int)gPads[j].buttons.size() : 0;
    return Plugged(j) ? gPads[j].buttons.data() : nullptr;
}
int FakeIsGamepad(int j) { return Plugged(j) && gPads[j].known ? GLFW_TRUE : GLFW_FALSE; }

// The Xbox 360 pad's line of GLFW's mapping database on Linux: a:b0 b:b1
// x:b2 y:b3 leftshoulder:b4 rightshoulder:b5 back:b6 start:b7 guide:b8
// leftstick:b9 rightstick:b10, the d-pad on hat 0 (here the hat buttons 11
// up, 12 right, 13 down, 14 left), leftx:a0 lefty:a1 lefttrigger:a2
// rightx:a3 righty:a4 righttrigger:a5.
int FakeGamepadState(int j, GLFWgamepadstate* s) {
    if (!FakeIsGamepad(j)) return GLFW_FALSE;
    const FakePad& p = gPads[j];
    for (int b = 0; b <= 10; b++) s->buttons[b] = p.buttons[b];
    s->buttons[GLFW_GAMEPAD_BUTTON_DPAD_UP] = p.buttons[11];
    s->buttons[GLFW_GAMEPAD_BUTTON_DPAD_RIGHT] = p.buttons[12];
    s->buttons[GLFW_GAMEPAD_BUTTON_DPAD_DOWN] = p.buttons[13];
    s->buttons[GLFW_GAMEPAD_BUTTON_DPAD_LEFT] = p.buttons[14];
    s->axes[GLFW_GAMEPAD_AXIS_LEFT_X] = p.axes[0];
    s->axes[GLFW_GAMEPAD_AXIS_LEFT_Y] = p.axes[1];
    s->axes[GLFW_GAMEPAD_AXIS_LEFT_TRIGGER] = p.axes[2];
    s->axes[GLFW_GAMEPAD_AXIS_RIGHT_X] = p.axes[3];
    s->axes[GLFW_GAMEPAD_AXIS_RIGHT_Y] = p.axes[4];
    s->axes[GLFW_GAMEPAD_AXIS_RIGHT_TRIGGER] = p.axes[5];
    return GLFW_TRUE;
}

int NoKeys(int) { return 0; }

// An Xbox-style pad at rest, in the kernel's order: sticks and triggers
// (released: -1) on axes 0..5, 11 buttons, then the hat's four.
FakePad XboxIdle(bool known) {
    FakePad p;
    p.name = "Microsoft X-Box 360 pad";
    p.axes = {0, 0, -1, 0, 0, -1};
    p.buttons.assign(15, GLFW_RELEASE);
    p.known = known;
    return p;
}

// A pad GLFW knows nothing about: two axes, ten buttons.
FakePad TwoAxisIdle() {
    FakePad p;
    p.name = "USB Gamepad";
    p.axes = {0, 0};
    p.buttons.assign(10, GLFW_RELEASE);
    return p;
}

}  // namespace

class Gamepads : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        savedReader_ = InputJoystick;
        savedKeys_ = InputKeyDown;
        std::memcpy(savedRedef_, ASys.redef, sizeof savedRedef_);
        std::memcpy(savedJoy_, ASys.Joy, sizeof savedJoy_);
        savedPadKeys_ = g.padKeysEnabled;
        InputJoystick = {FakePresent, FakeName, FakeAxes, FakeButtons, FakeIsGamepad, FakeGamepadState};
        InputKeyDown = NoKeys;
        for (FakePad& p : gPads) p = FakePad();
        std::memset(ASys.Joy, 0, sizeof ASys.Joy);
        std::memset(ignorePress, 0, sizeof ignorePress);
        g.padKeysEnabled = 1;
        g.FlushKeys();
        g.KeyDefaults();
    }
    void TearDown() override {
        InputJoystick = savedReader_;
        InputKeyDown = savedKeys_;
        std::memcpy(ASys.redef, savedRedef_, sizeof savedRedef_);
        std::memcpy(ASys.Joy, savedJoy_, sizeof savedJoy_);
        g.padKeysEnabled = savedPadKeys_;
        g.keyLatch[66] = 0;
        FrontEnd::TearDown();
    }

    // One poll of the devices; returns what it printed.
    std::string Poll(int invertY = 0) {
        testing::internal::CaptureStdout();
        ASys.PollInputB(invertY);
        return testing::internal::GetCapturedStdout();
    }

    JoystickReader savedReader_;
    int (*savedKeys_)(int) = nullptr;
    int32_t savedRedef_[64][16];
    float savedJoy_[4][100];
    int32_t savedPadKeys_ = 0;
};

TEST_F(Gamepads, EachPadGoesLiveMovesThePlayerConfirmsAndIsCaught) {
    struct Device {
        const char* what;
        FakePad idle;
        std::function<void(FakePad&)> right;   // what "right" is on this pad
    };
    const Device devices[] = {
        // Unknown to the mapping database: its raw numbering, its stick.
        {"Xbox-style pad, raw", XboxIdle(false), [](FakePad& p) { p.axes[0] = 1; }},
        // Known: the d-pad, which GLFW appends as buttons 11..14.
        {"Xbox-style pad, as a gamepad", XboxIdle(true), [](FakePad& p) { p.buttons[12] = GLFW_PRESS; }},
        {"two-axis pad", TwoAxisIdle(), [](FakePad& p) { p.axes[0] = 1; }},
    };
    for (const Device& d : devices) {
        SCOPED_TRACE(d.what);
        std::memset(ASys.Joy, 0, sizeof ASys.Joy);
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        FakePad& pad = gPads[0];
        pad = d.idle;

        // Live once seen at rest, announced once.
        EXPECT_EQ(std::string("\n\n--=--\nController ID '") + pad.name + "'\n--=--\n\n", Poll());
        EXPECT_EQ("", Poll());
        ASSERT_EQ(1, ASys.Joy[0][98]);
        for (int a = 0; a < 4; a++) EXPECT_EQ(0, g.Joy(a)) << "action " << a << " at rest";
        for (int a = 8; a < 16; a++) EXPECT_EQ(0, g.Joy(a)) << "action " << a << " at rest";

        // Moves the player: the steered marker turns clockwise.
        g.demoAngleA = 0;
        d.right(pad);
        Poll();
        Frames(3, [&] { g.DoGame(); });
        EXPECT_FLOAT_EQ(30, g.demoAngleA);
        pad = d.idle;
        Poll();
        Frames(3, [&] { g.DoGame(); });
        EXPECT_FLOAT_EQ(30, g.demoAngleA);

        // Confirms on the start page: Start opens the level page.
        g.menuPage = 0;
        g.startSelection = 0;
        Frame([&] { g.Menu_Start(); });
        pad.buttons[0] = GLFW_PRESS;
        Poll();
        Frame([&] { g.Menu_Start(); });
        EXPECT_EQ(1, g.menuPage);
        pad = d.idle;
        Poll();

        // Caught by the redefine screen for "Up", under its usual name.
        g.subScreen = 3;
        g.redefRow = 1;
        g.redefCol = 0;
        g.keyLatch[66] = 2;
        g.captureLock = 2;
        g.captureTimer = 359;
        g.testTimer = 0;
        for (int i = 0; i < 4; i++) {
            Poll();
            Frame([&] { g.RedefineKeys(); });
        }
        pad.buttons[1] = GLFW_PRESS;
        Poll();
        testing::internal::CaptureStdout();
        Frame([&] { g.RedefineKeys(); });
        EXPECT_EQ("Button Caught 501\n", testing::internal::GetCapturedStdout());
        EXPECT_EQ(501, g.KeyValue(0, 63));
        EXPECT_EQ("Joy 1 Button 1", g.KeyName(501));
        pad = d.idle;
        Poll();
        g.subScreen = 0;
        g.FlushKeys();
        g.KeyDefaults();
    }
}

// A pad in the mapping database reads in the layout the default bindings
// and PlayKey expect, whatever its own numbering.
TEST_F(Gamepads, KnownPadsReadInTheStandardLayout) {
    FakePad& pad = gPads[0];
    pad = XboxIdle(true);
    Poll();
    ASSERT_EQ(1, ASys.Joy[0][98]);
    // Released triggers read -1, past the sticks.
    EXPECT_EQ(-1, g.JoyAxis(4));
    EXPECT_EQ(-1, g.JoyAxis(5));

    struct Case {
        const char* what;
        std::function<void(FakePad&)> press;
        int playKey;   // the fixed button it stands for, -1 none
        int action;    // the action it drives through the default bindings
    } cases[] = {
        {"d-pad up", [](FakePad& p) { p.buttons[11] = GLFW_PRESS; }, 0, 0},
        {"d-pad right", [](FakePad& p) { p.buttons[12] = GLFW_PRESS; }, 5, 1},
        {"d-pad down", [](FakePad& p) { p.buttons[13] = GLFW_PRESS; }, 8, 2},
        {"d-pad left", [](FakePad& p) { p.buttons[14] = GLFW_PRESS; }, 3, 3},
        {"A", [](FakePad& p) { p.buttons[0] = GLFW_PRESS; }, 10, 10},
        {"Y", [](FakePad& p) { p.buttons[3] = GLFW_PRESS; }, 13, 13},
        {"right shoulder", [](FakePad& p) { p.buttons[5] = GLFW_PRESS; }, 15, 15},
        {"back", [](FakePad& p) { p.buttons[6] = GLFW_PRESS; }, 99, 9},
        {"start", [](FakePad& p) { p.buttons[7] = GLFW_PRESS; }, 98, 8},
        {"left stick up", [](FakePad& p) { p.axes[1] = -1; }, 0, 0},
        {"right stick right", [](FakePad& p) { p.axes[3] = 1; }, -1, 5},
        {"right stick down", [](FakePad& p) { p.axes[4] = 1; }, -1, 6},
        {"left trigger", [](FakePad& p) { p.axes[2] = 1; }, -1, -1},
        {"right stick press", [](FakePad& p) { p.buttons[10] = GLFW_PRESS; }, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pad = XboxIdle(true);
        c.press(pad);
        Poll();
        for (int type : {0, 3, 5, 8, 10, 11, 12, 13, 14, 15, 98, 99})
            EXPECT_EQ(type == c.playKey ? 1 : 0, g.PlayKey(type)) << "PlayKey " << type;
        for (int a = 0; a < 16; a++) EXPECT_EQ(a == c.action ? 1.0f : 0.0f, g.Joy(a)) << "action " << a;
    }
    pad = XboxIdle(true);
    pad.axes[2] = 0.5f;
    Poll();
    EXPECT_FLOAT_EQ(0.5f, g.JoyAxis(4));

    // Inverted Y swaps up and down on both sticks.
    pad = XboxIdle(true);
    pad.axes[1] = -1;
    pad.axes[4] = -1;
    Poll(1);
    EXPECT_EQ(1, g.Joy(2));
    EXPECT_EQ(1, g.Joy(6));
}

// The at-rest gate: a released trigger (-1) is at rest, a pressed one is
// not, on either path; a raw stick pushed halfway still holds the pad back.
// (Raw, a trigger held exactly halfway reads 0, as a centred stick does:
// only the gamepad layout can tell the two apart.)
TEST_F(Gamepads, ARestingTriggerDoesNotHoldThePadBack) {
    struct Case {
        const char* what;
        FakePad pad;
        int axis;
        float value;
    } cases[] = {
        {"known pad, left trigger half pressed", XboxIdle(true), 2, 0.0f},
        {"known pad, right trigger pressed", XboxIdle(true), 5, 1.0f},
        {"raw pad, left trigger pressed", XboxIdle(false), 2, 0.6f},
        {"raw pad, stick half left", XboxIdle(false), 0, -0.5f},
        {"two-axis pad, stick half up", TwoAxisIdle(), 1, -0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(ASys.Joy, 0, sizeof ASys.Joy);
        FakePad& pad = gPads[0];
        pad = c.pad;
        pad.axes[c.axis] = c.value;
        EXPECT_EQ("", Poll());
        EXPECT_EQ(0, ASys.Joy[0][98]);
        EXPECT_EQ(0, g.JoyAxis(c.axis));
        pad.axes[c.axis] = c.pad.axes[c.axis];
        EXPECT_NE("", Poll());
        EXPECT_EQ(1, ASys.Joy[0][98]);
    }
}

// The pad names and BindPads read a pad GLFW knows the same on every slot:
// each named button is that button, and drives its action in the standard
// layout (the guide and stick buttons none).
TEST_F(Gamepads, BindPadsGivesEveryKnownPadTheStandardLayout) {
    struct Case {
        int raw;      // the Xbox pad's own button number (11..14 its hat)
        int named;    // KELP_PAD_...
        int action;   // -1: none
    } cases[] = {
        {0, KELP_PAD_A, KELP_BUTTON1},          {1, KELP_PAD_B, KELP_BUTTON2},
        {2, KELP_PAD_X, KELP_BUTTON3},          {3, KELP_PAD_Y, KELP_BUTTON4},
        {4, KELP_PAD_LB, KELP_SHOULDER_L},      {5, KELP_PAD_RB, KELP_SHOULDER_R},
        {6, KELP_PAD_BACK, KELP_BACK},          {7, KELP_PAD_START, KELP_START},
        {8, KELP_PAD_GUIDE, -1},                {9, KELP_PAD_LEFT_THUMB, -1},
        {10, KELP_PAD_RIGHT_THUMB, -1},         {11, KELP_PAD_DPAD_UP, KELP_UP},
        {12, KELP_PAD_DPAD_RIGHT, KELP_RIGHT},  {13, KELP_PAD_DPAD_DOWN, KELP_DOWN},
        {14, KELP_PAD_DPAD_LEFT, KELP_LEFT},
    };
    g.FlushKeys();
    g.BindPads();
    for (int j = 0; j < 4; j++) {
        gPads[j] = XboxIdle(true);
        Poll();
    }
    for (int j = 0; j < 4; j++) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "pad " << j << ", button " << c.raw);
            gPads[j].buttons[c.raw] = GLFW_PRESS;
            Poll();
            EXPECT_EQ(1, g.JoyDown(c.named, j));
            for (int a = 0; a < KELP_ACTIONS; a++) EXPECT_EQ(a == c.action ? 1.0f : 0.0f, g.Joy(a)) << "action " << a;
            gPads[j].buttons[c.raw] = GLFW_RELEASE;
        }
        Poll();
    }
    // Only the pads were bound.
    for (int a = 0; a < KELP_ACTIONS; a++)
        for (int s = 48; s < 64; s++) {
            int code = g.KeyValue(a, s);
            EXPECT_TRUE(code == 0 || code >= KelpPadButton(0, 0)) << code;
        }
}
