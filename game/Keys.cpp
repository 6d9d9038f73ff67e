// The demo's default key bindings. The order matters: within an action the
// newest binding sits last, and the redefine screen lists them that way.
#include <GLFW/glfw3.h>

#include "MyGame.h"

void MyGame::KeyDefaults() {
    SetKey(0, GLFW_KEY_UP);
    SetKey(1, GLFW_KEY_RIGHT);
    SetKey(2, GLFW_KEY_DOWN);
    SetKey(3, GLFW_KEY_LEFT);

    SetKey(0, GLFW_KEY_KP_8);
    SetKey(1, GLFW_KEY_KP_6);
    SetKey(2, GLFW_KEY_KP_5);
    SetKey(3, GLFW_KEY_KP_4);

    SetKey(10, GLFW_KEY_Z);
    SetKey(11, GLFW_KEY_X);
    SetKey(12, GLFW_KEY_C);
    SetKey(13, GLFW_KEY_V);
    SetKey(14, GLFW_KEY_B);
    SetKey(15, GLFW_KEY_N);

    SetKey(0, GLFW_KEY_W);
    SetKey(1, GLFW_KEY_D);
    SetKey(2, GLFW_KEY_S);
    SetKey(3, GLFW_KEY_A);

    SetKey(10, GLFW_KEY_K);
    SetKey(11, GLFW_KEY_L);
    SetKey(12, GLFW_KEY_J);
    SetKey(13, GLFW_KEY_I);
    SetKey(14, GLFW_KEY_U);
    SetKey(15, GLFW_KEY_O);

    SetKey(10, GLFW_KEY_SPACE);
    SetKey(10, GLFW_KEY_ENTER);
    SetKey(10, GLFW_KEY_KP_ENTER);

    SetKey(11, GLFW_KEY_LEFT_CONTROL);
    SetKey(11, GLFW_KEY_RIGHT_CONTROL);
    SetKey(12, GLFW_KEY_LEFT_ALT);
    SetKey(12, GLFW_KEY_RIGHT_ALT);
    SetKey(13, GLFW_KEY_LEFT_SHIFT);
    SetKey(13, GLFW_KEY_RIGHT_SHIFT);

    SetKey(8, GLFW_KEY_ESCAPE);
    SetKey(9, GLFW_KEY_BACKSPACE);

    // Every joystick slot: d-pad buttons 10..13, face and shoulder buttons
    // 0..5, start 7 and back 6.
    for (int j = 0; j < 4; j++) {
        int base = 500 + 100 * j;
        SetKey(0, base + 10);
        SetKey(1, base + 11);
        SetKey(2, base + 12);
        SetKey(3, base + 13);
        for (int b = 0; b < 6; b++) SetKey(10 + b, base + b);
        SetKey(8, base + 7);
        SetKey(9, base + 6);
    }
}
