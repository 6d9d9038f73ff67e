// Window, GL context and canvas: window (re)creation and the virtual canvas
// that follows the framebuffer's shape.
#include <GLFW/glfw3.h>

#include <cstring>

#include "KELPSys.h"

namespace kelp {

// Off while start-up opens its first window, which only bridges the audio
// start and is replaced at once: warming its GL pipeline would be lost.
bool WarmOnOpen = true;

void error_callback(int code, const char* text) {
    (void)code;
    fprintf(stderr, "Error: %s\n", text);
}

// A browser keeps one canvas and its context for the whole run, and goes full
// screen on request: its own SetScreen and FlipFull are in sys/web/Canvas.cpp.
#ifndef __EMSCRIPTEN__
static void FramebufferSized(GLFWwindow*, int width, int height) {
    FramebufferSeenW = width;
    FramebufferSeenH = height;
}

void KELPSys::SetScreen(int width, int height) {
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    if (window) {
        glfwDestroyWindow(window);
        window = nullptr;
    }
    FramebufferSeenW = FramebufferSeenH = -1;
    ForgetTextures();
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    // Shown once its GL pipeline is warm (GLFW shows a full-screen window
    // at once).
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    if (isFullscreen == 0) {
        window = glfwCreateWindow(width, height, GameTitleSys, nullptr, nullptr);
        if (window && mode) glfwSetWindowPos(window, mode->width / 2 - width / 2, mode->height / 2 - height / 2);
        Debuglog("Opened Window");
    } else {
        if (mode) window = glfwCreateWindow(mode->width, mode->height, GameTitleSys, monitor, nullptr);
        Debuglog("Opened Fullscreen");
    }
    fbWidth = width;
    fbHeight = height;
    if (!window) {
        Debuglog("ERRORRZ");
        // Nothing can be shown: the main loop ends and the program says why.
        windowFailed = 1;
        return;
    }
    windowFailed = 0;
    int fw = 0, fh = 0;
    glfwGetFramebufferSize(window, &fw, &fh);
    FramebufferSized(window, fw, fh);
    glfwSetFramebufferSizeCallback(window, FramebufferSized);
    glfwMakeContextCurrent(window);
    // Image loads refuse planes larger than this implementation takes.
    GLint maxEdge = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxEdge);
    MaxTextureEdge = maxEdge;
    if (WarmOnOpen) WarmRenderer();
    glViewport(0, 0, width, height);
    glfwSetInputMode(window, GLFW_CURSOR, GLFW_CURSOR_NORMAL);
    glfwSetInputMode(window, GLFW_STICKY_KEYS, GLFW_FALSE);
    glfwSetInputMode(window, GLFW_STICKY_MOUSE_BUTTONS, GLFW_FALSE);
    glfwShowWindow(window);
}

void KELPSys::FlipFull() {
    isFullscreen = isFullscreen ? 0 : 1;
    SetScreen(800, 600);
}
#endif

void KELPSys::HiResRender() {
    if (window) glfwMakeContextCurrent(window);
}

void KELPSys::Force1920() {}

void KELPSys::ComputeCanvas(float& screenW, float& screenH) {
    // No framebuffer measured yet (no window): the canvas stays as it is,
    // rather than becoming a division by zero.
    if (!(aspect > 0) || !(virtualW > 0)) return;
    screenW = virtualW;
    rw2 = (int)(screenW / 2);
    screenH = virtualW / aspect;
    rh2 = (int)(screenH / 2);
    virtualW = 800;
    imageScale = 1;
    if (screenH > screenW) {
        virtualW = 512;
        imageScale = 800.0f / 512.0f;
    }
    iBump = 0;
    if (screenH > 2 * screenW) {
        iBump = 1;
        screenH -= 32;
        rh2 -= 32;
    }
    if (screenW > 2 * screenH) {
        iBump = 2;
        screenW -= 32;
        rw2 -= 32;
    }
    centreX = rw2;
    centreY = rh2;
    ViewScale = 2 / virtualW;
}

}  // namespace kelp
