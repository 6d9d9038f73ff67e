// Gamepads in a browser: a pad in the Gamepad API's standard mapping read
// into GLFW's gamepad layout, as the desktop reads a pad that GLFW's mapping
// database knows. Any other pad is read raw by the browser's GLFW.
#include <emscripten.h>

#include "Gamepad.h"

namespace {

// The standard mapping numbers buttons A B X Y, bumpers, triggers (6, 7),
// Back 8, Start 9, stick presses 10 and 11, d-pad up, down, left, right
// (12..15) and Guide 16; triggers become axes from -1 (released) to 1.
EM_JS(int, PageGamepad, (int jid, unsigned char* buttons, float* axes), {
    var pads = navigator.getGamepads ? navigator.getGamepads() : [];
    var pad = pads[jid];
    if (!pad || !pad.connected || pad.mapping !== "standard") return 0;
    var order = [0, 1, 2, 3, 4, 5, 8, 9, 16, 10, 11, 12, 15, 13, 14];
    for (var k = 0; k < 15; k++) {
        var b = pad.buttons[order[k]];
        HEAPU8[buttons + k] = b && b.pressed ? 1 : 0;
    }
    for (var a = 0; a < 4; a++) HEAPF32[(axes >> 2) + a] = pad.axes[a] || 0;
    for (var t = 0; t < 2; t++) {
        var trigger = pad.buttons[6 + t];
        HEAPF32[(axes >> 2) + 4 + t] = (trigger ? trigger.value : 0) * 2 - 1;
    }
    return 1;
});

}  // namespace

extern "C" int glfwJoystickIsGamepad(int jid) {
    GLFWgamepadstate state;
    return PageGamepad(jid, state.buttons, state.axes);
}

extern "C" int glfwGetGamepadState(int jid, GLFWgamepadstate* state) {
    return state ? PageGamepad(jid, state->buttons, state->axes) : 0;
}
