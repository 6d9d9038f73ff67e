// The window in a browser: the page's canvas and its one GL context, made
// once and kept for the whole run. A new size resizes the canvas; full
// screen is the browser's full-screen request, which the browser grants
// only shortly after a key press or a click on the page.
#include <emscripten.h>
#include <GLFW/glfw3.h>

#include "../KELPSys.h"

namespace {

EM_JS(void, PageCanvasSize, (int width, int height), {
    Browser.setCanvasSize(width, height);
});

// No pointer lock; the canvas takes the screen's size while full screen and
// gets its own back afterwards.
EM_JS(void, PageFullScreen, (int on), {
    if (!Module["kelpFullScreenWatched"]) {
        Module["kelpFullScreenWatched"] = true;
        Module["onFullscreen"] = function (full) { _kelp_web_full_screen(full ? 1 : 0, 0); };
        document.addEventListener("fullscreenerror", function () { _kelp_web_full_screen(0, 1); });
    }
    if (on) {
        Browser.requestFullscreen(false, true);
    } else if (document.fullscreenElement) {
        Browser.exitFullscreen();
    }
});

}  // namespace

// The page went in or out of full screen, or the browser refused to: the
// user may leave full screen with the browser's own key (Escape).
extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_full_screen(int full, int refused) {
    if (refused) KELPSys::Debuglog("Full screen: the browser refused (it allows it only just after a key press or a click)");
    ASys.isFullscreen = full;
}

void KELPSys::SetScreen(int width, int height) {
    if (!window) {
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
        ForgetTextures();
        window = glfwCreateWindow(width, height, GameTitleSys, nullptr, nullptr);
        if (!window) {
            Debuglog("ERRORRZ");
            windowFailed = 1;
            return;
        }
        glfwMakeContextCurrent(window);
    }
    windowFailed = 0;
    if (isFullscreen) {
        PageFullScreen(1);
        Debuglog("Opened Fullscreen");
    } else {
        PageFullScreen(0);
        PageCanvasSize(width, height);
        Debuglog("Opened Window");
    }
    fbWidth = width;
    fbHeight = height;
    glViewport(0, 0, width, height);
}

void KELPSys::FlipFull() {
    isFullscreen = isFullscreen ? 0 : 1;
    SetScreen(800, 600);
}
