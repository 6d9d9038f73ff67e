// The hot keys that replace the window, on a real one: F11 (full screen)
// and Q + 1..7 (window presets) act only while the game leaves them on. The
// keyboard is fed through the poll's reader; the window is GLFW's.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <cstring>
#include <string>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

bool gHeld[512];
int HeldKey(int key) { return key >= 0 && key < 512 && gHeld[key]; }

class HotKeyWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!ASys.window) ASys.SysInit("hot key test");
    }
    static void TearDownTestSuite() { ASys.Close(); }

    void SetUp() override {
        ASSERT_NE(nullptr, ASys.window);
        savedKeys_ = InputKeyDown;
        InputKeyDown = HeldKey;
        memset(gHeld, 0, sizeof gHeld);
    }
    void TearDown() override {
        InputKeyDown = savedKeys_;
        ThisGame.SetHotKeys(KELP_HOTKEYS_ALL);
        if (ASys.isFullscreen) ASys.FlipFull();
    }

    // One poll with these keys held, then one with none; what it logged.
    std::string PollHolding(std::initializer_list<int> keys) {
        for (int k : keys) gHeld[k] = true;
        testing::internal::CaptureStdout();
        ASys.PollInputB(0);
        memset(gHeld, 0, sizeof gHeld);
        ASys.PollInputB(0);
        return testing::internal::GetCapturedStdout();
    }

    int (*savedKeys_)(int) = nullptr;
};

TEST_F(HotKeyWindow, F11AndThePresetsActOnlyWhileChosen) {
    ThisGame.SetHotKeys(KELP_HOTKEYS_ALL & ~KELP_HOTKEY_F11);
    EXPECT_EQ("", PollHolding({GLFW_KEY_F11}));
    EXPECT_EQ(0, ASys.isFullscreen);
    ThisGame.SetHotKeys(KELP_HOTKEY_F11);
    EXPECT_NE(std::string::npos, PollHolding({GLFW_KEY_F11}).find("Opened Fullscreen"));
    EXPECT_EQ(1, ASys.isFullscreen);
    ASys.FlipFull();   // back, without waiting out F11's repeat guard
    ASSERT_EQ(0, ASys.isFullscreen);
    ASSERT_EQ(800, ASys.fbWidth);

    // Q + 1: a 4:3 window as tall as the monitor less 128.
    ThisGame.SetHotKeys(KELP_HOTKEYS_ALL & ~KELP_HOTKEY_PRESETS);
    EXPECT_EQ("", PollHolding({GLFW_KEY_Q, GLFW_KEY_1}));
    EXPECT_EQ(800, ASys.fbWidth);
    ThisGame.SetHotKeys(KELP_HOTKEY_PRESETS);
    EXPECT_NE(std::string::npos, PollHolding({GLFW_KEY_Q, GLFW_KEY_1}).find("Opened Window"));
    const GLFWvidmode* mode = glfwGetVideoMode(glfwGetPrimaryMonitor());
    ASSERT_NE(nullptr, mode);
    EXPECT_EQ(mode->height - 128, ASys.fbHeight);
    EXPECT_EQ((int)((mode->height - 128) * 1.3333f), ASys.fbWidth);
    ASys.SetScreen(800, 600);
}

}  // namespace
