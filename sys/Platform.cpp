// The platform's start-up and shut-down: each part of it brought up and
// closed in turn (window and GL context, audio, images, input).
#include <GLFW/glfw3.h>

#include <cstring>

#include "KELPSys.h"

namespace kelp {

void KELPSys::SysInit(const char* title) {
    snprintf(GameTitleSys, sizeof GameTitleSys, "%s", title ? title : "");
    FlushKeys();
    virtualW = 800;
    imageScale = 1;
    // Until the first render measures the framebuffer, draw for the 800 x 600
    // window about to be opened.
    ViewScale = 2.0f / virtualW;
    rw2 = 400;
    rh2 = 300;
    centreX = 400;
    centreY = 300;
    aspect = 800.0f / 600.0f;
    OverscanScaleX = OverscanScaleY = 1;

    // Installed before glfwInit so that a failing start says why.
    glfwSetErrorCallback(error_callback);
    if (!glfwInit()) Debuglog("Initialisation Failed");

    memset(Button, 0, sizeof Button);
    memset(Touch, 0, sizeof Touch);
    memset(Joy, 0, sizeof Joy);
    for (int i = 0; i < IMAGE_SLOTS; i++) imageFrames[i] = -1;

    isFullscreen = 0;
    WarmOnOpen = false;
    SetScreen(256, 128);
    WarmOnOpen = true;
    AudioStart();
    SetScreen(800, 600);
    FillKeyNames();
}

void KELPSys::Close() {
    // A file still open for writing becomes the named file now: a game that
    // forgot CloseFile keeps what it wrote.
    CloseFile_Sys();
    // A request still under way is stopped, not waited for.
    EndURLData();
    AudioClose();
    Debuglog("Closing OpenGL Window");
    if (window) glfwDestroyWindow(window);
    window = nullptr;
    FramebufferSeenW = FramebufferSeenH = -1;
    ForgetTextures();
    glfwTerminate();
}

}  // namespace kelp
