// The gamepad part of GLFW 3.3 that the browser's GLFW (3.2) lacks: its
// names, so that the shared input code builds unchanged, and the two
// functions, read from the browser's Gamepad API (sys/web/Gamepad.cpp). The
// browser build includes this before sys/Input.cpp.
#pragma once

#include <GLFW/glfw3.h>

#if GLFW_VERSION_MAJOR == 3 && GLFW_VERSION_MINOR < 3
#define GLFW_GAMEPAD_BUTTON_A 0
#define GLFW_GAMEPAD_BUTTON_B 1
#define GLFW_GAMEPAD_BUTTON_X 2
#define GLFW_GAMEPAD_BUTTON_Y 3
#define GLFW_GAMEPAD_BUTTON_LEFT_BUMPER 4
#define GLFW_GAMEPAD_BUTTON_RIGHT_BUMPER 5
#define GLFW_GAMEPAD_BUTTON_BACK 6
#define GLFW_GAMEPAD_BUTTON_START 7
#define GLFW_GAMEPAD_BUTTON_GUIDE 8
#define GLFW_GAMEPAD_BUTTON_LEFT_THUMB 9
#define GLFW_GAMEPAD_BUTTON_RIGHT_THUMB 10
#define GLFW_GAMEPAD_BUTTON_DPAD_UP 11
#define GLFW_GAMEPAD_BUTTON_DPAD_RIGHT 12
#define GLFW_GAMEPAD_BUTTON_DPAD_DOWN 13
#define GLFW_GAMEPAD_BUTTON_DPAD_LEFT 14

typedef struct GLFWgamepadstate {
    unsigned char buttons[15];
    float axes[6];
} GLFWgamepadstate;

#ifdef __cplusplus
extern "C" {
#endif
// 1 for a pad the browser lays out in its standard mapping.
int glfwJoystickIsGamepad(int jid);
// Such a pad's state in GLFW's gamepad layout; 0 for any other.
int glfwGetGamepadState(int jid, GLFWgamepadstate* state);
#ifdef __cplusplus
}
#endif
#endif
