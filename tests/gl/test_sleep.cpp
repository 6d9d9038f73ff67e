// The loop's sleep on a real window: a key pressed while the loop sleeps
// is in the state the next input poll reads once the sleep ends, with no
// render (whose event pump used to be the only one) in between.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <chrono>
#include <cstdlib>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

// Sleeps in the loop's steps until `done` holds, for at most a minute.
template <class F>
bool RestUntil(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ThisGame.Rest(5);
    }
    return true;
}

TEST(Sleep, AKeyPressedDuringASleepReachesTheNextPoll) {
    if (!ASys.window) ASys.SysInit("sleep test");
    ASSERT_NE(nullptr, ASys.window);
    ASSERT_TRUE(RestUntil([] { return InputFocused() == 1; })) << "the window never had the focus";
    ASSERT_EQ(0, InputKeyDown(GLFW_KEY_Z));
    // The X server holds Z down for the focused window, as a player would.
    ASSERT_EQ(0, system("xdotool keydown z"));
    bool seen = RestUntil([] { return InputKeyDown(GLFW_KEY_Z) == 1; });
    ASSERT_EQ(0, system("xdotool keyup z"));
    bool released = RestUntil([] { return InputKeyDown(GLFW_KEY_Z) == 0; });
    ASys.Close();
    EXPECT_TRUE(seen) << "the key held during the sleeps never reached the poll";
    EXPECT_TRUE(released);
}

}  // namespace
