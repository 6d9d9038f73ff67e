// The window in a browser: the page's canvas and its one GL context, made
// once and kept for the whole run. The page is the window: the canvas fills
// it (the page's style sheet sizes it) and its buffer follows it at the
// screen's own pixels (devicePixelRatio), within a budget of pixels, so the
// renderer reads a new framebuffer size after every resize or rotation and
// the canvas rules pick the virtual size from its shape, as for a resized
// desktop window. Full screen is the whole page's (the Fullscreen API),
// which the browser grants only in answer to a key press, a click or a tap;
// however it is left, the page and with it the canvas get their size back.
#include <emscripten.h>
#include <GLFW/glfw3.h>

#include "../KELPSys.h"
#include "Page.h"

namespace kelp {

namespace {

// Watches the canvas's size from now on: a resize, a rotation, full screen
// or a new pixel ratio give a new wanted buffer size, which PageFitCanvas
// takes in before the next frame draws (changing it clears the buffer: done
// between frames it would show an empty frame). The buffer is never larger
// than GL can draw into.
//
// Every pixel of the buffer is filled each frame, and a phone's screen has
// three or more pixels to a CSS pixel: nine times the fill of one, which a
// browser drawing in software (or a phone's GPU) pays in frames. The buffer
// has at most kelpMaxPixelRatio pixels to a CSS pixel (2) and at most
// kelpMaxPixels pixels in all (2.5 million: a full-HD screen at its own
// pixels), and the browser scales it to the canvas's size. A game's page
// may lift either (Module.kelpMaxPixelRatio, Module.kelpMaxPixels, set by a
// script of its own; Infinity for none).
EM_JS(void, PageWatchCanvas, (), {
    if (Module["kelpCanvasWatched"]) return;
    Module["kelpCanvasWatched"] = true;
    var canvas = Module["canvas"];
    function option(name, otherwise) {
        var value = Number(Module[name]);
        return Module[name] === undefined || !(value > 0) ? otherwise : value;
    }
    function measure() {
        var box = canvas.getBoundingClientRect();
        var scale = Math.min(window.devicePixelRatio || 1, option("kelpMaxPixelRatio", 2));
        var pixels = box.width * box.height * scale * scale, budget = option("kelpMaxPixels", 2500000);
        if (pixels > budget) scale *= Math.sqrt(budget / pixels);
        var w = Math.round(box.width * scale), h = Math.round(box.height * scale), most = 4096;
        if (typeof GLctx !== "undefined" && GLctx) {
            var dims = GLctx.getParameter(GLctx.MAX_VIEWPORT_DIMS);
            most = Math.min(dims[0], dims[1], GLctx.getParameter(GLctx.MAX_RENDERBUFFER_SIZE));
        }
        var over = Math.max(w, h) / most;
        if (over > 1) {
            w = Math.floor(w / over);
            h = Math.floor(h / over);
        }
        Module["kelpCanvasWanted"] = [Math.max(1, w), Math.max(1, h)];
    }
    if (typeof ResizeObserver !== "undefined") new ResizeObserver(measure).observe(canvas);
    addEventListener("resize", measure);
    // A new pixel ratio at the same CSS size (a move to another screen)
    // changes neither: the media query of the present ratio says so.
    function watchRatio() {
        if (!window.matchMedia) return;
        var query = matchMedia("(resolution: " + (window.devicePixelRatio || 1) + "dppx)");
        function changed() {
            query.removeEventListener("change", changed);
            measure();
            watchRatio();
        }
        query.addEventListener("change", changed);
    }
    watchRatio();
    measure();
});

// Takes in the wanted buffer size; 1 if it changed. The browser's GLFW
// reports the window's size as the framebuffer's: it is kept equal to the
// buffer's.
EM_JS(int, PageFitCanvas, (), {
    var canvas = Module["canvas"], wanted = Module["kelpCanvasWanted"];
    if (!wanted) return 0;
    var changed = canvas.width !== wanted[0] || canvas.height !== wanted[1];
    if (changed) {
        canvas.width = wanted[0];
        canvas.height = wanted[1];
    }
    if (GLFW.active) {
        GLFW.active.width = canvas.width;
        GLFW.active.height = canvas.height;
    }
    return changed ? 1 : 0;
});

EM_JS(int, PageCanvasWidth, (), { return Module["canvas"].width; });
EM_JS(int, PageCanvasHeight, (), { return Module["canvas"].height; });

// The browser grants full screen only in answer to a player's action: a key
// going down, a click, or a finger lifting. The game acts on a finger going
// down, in a frame after it: a full screen asked for then (or at any time
// without such an action shortly before) is asked for again on the player's
// next action, within which the browser grants it.
EM_JS(void, PageFullScreen, (int on), {
    if (!Module["kelpFullScreenWatched"]) {
        Module["kelpFullScreenWatched"] = true;
        document.addEventListener("fullscreenchange", function () {
            _kelp_web_full_screen(document.fullscreenElement ? 1 : 0, 0);
        });
    }
    var waiting = Module["kelpFullScreenWaiting"];
    if (waiting) waiting.stop();
    Module["kelpFullScreenWaiting"] = null;
    var page = document.documentElement;
    function ask(again) {
        var asked = page.requestFullscreen ? page.requestFullscreen({navigationUI: "hide"}) : null;
        if (!asked) {
            _kelp_web_full_screen(0, 1);
        } else {
            asked.catch(function () {
                if (again) waitForAction(); else _kelp_web_full_screen(0, 1);
            });
        }
    }
    function waitForAction() {
        var kinds = ["pointerup", "touchend", "mousedown", "keydown"];
        var wait = {
            stop: function () {
                kinds.forEach(function (kind) { removeEventListener(kind, act, true); });
            }
        };
        function act(e) {
            if (!e.isTrusted || (navigator.userActivation && !navigator.userActivation.isActive)) return;
            wait.stop();
            Module["kelpFullScreenWaiting"] = null;
            if (!document.fullscreenElement) ask(false);
        }
        kinds.forEach(function (kind) { addEventListener(kind, act, true); });
        Module["kelpFullScreenWaiting"] = wait;
    }
    if (on && !document.fullscreenElement) {
        if (navigator.userActivation && !navigator.userActivation.isActive) waitForAction(); else ask(true);
    } else if (!on && document.fullscreenElement) {
        document.exitFullscreen().catch(function () {});
    }
});

}  // namespace

// The page went in or out of full screen, or the browser refused to: the
// user may leave full screen with the browser's own key (Escape).
extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_full_screen(int full, int refused) {
    if (refused) KELPSys::Debuglog("Full screen: the browser refused (it allows it only just after a key press, a click or a tap)");
    ASys.isFullscreen = full;
}

void PageCanvasFrame() {
    if (ASys.window) PageFitCanvas();
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
        PageWatchCanvas();
        PageWatchTouches();
    }
    windowFailed = 0;
    // The size asked for is the desktop's window; a page's canvas is the
    // page's size, windowed or full screen.
    PageFullScreen(isFullscreen ? 1 : 0);
    Debuglog(isFullscreen ? "Opened Fullscreen" : "Opened Window");
    PageFitCanvas();
    fbWidth = PageCanvasWidth();
    fbHeight = PageCanvasHeight();
    glViewport(0, 0, fbWidth, fbHeight);
}

void KELPSys::FlipFull() {
    isFullscreen = isFullscreen ? 0 : 1;
    SetScreen(800, 600);
}

}  // namespace kelp
