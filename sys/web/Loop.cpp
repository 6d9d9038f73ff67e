// The main loop in a browser: one pass a frame, on the page's animation
// frames, since a loop that never returns would freeze the page. The end
// (the game quit, or the page is being left) runs the game's end once.
#include <emscripten.h>

#include "../KELPSys.h"
#include "Page.h"

const int SysPassPerFrame = 1;

namespace {

struct Loop {
    int (*pass)(void*) = nullptr;
    void (*done)(void*) = nullptr;
    void* arg = nullptr;
    bool running = false;
} loop;

EM_JS(void, PageGameEnded, (), {
    if (Module["kelpEnded"]) Module["kelpEnded"]();
});

EM_JS(void, PageWatchLeaving, (), {
    // The page is going (closed, reloaded, navigated away): the game ends as
    // it would with its window closed, and saves on the way.
    addEventListener("pagehide", function () {
        Module["kelpLeaving"] = true;
        _kelp_web_leave();
    });
    // A page the browser kept and shows again has its game ended: start anew.
    addEventListener("pageshow", function (e) {
        if (e.persisted) location.reload();
    });
});

void End() {
    if (!loop.running) return;
    loop.running = false;
    emscripten_cancel_main_loop();
    loop.done(loop.arg);
    PageGameEnded();
}

void Frame(void*) {
    PageChecks();
    if (!loop.pass(loop.arg)) End();
}

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_leave() { End(); }

void SysRunLoop(int (*pass)(void*), void (*done)(void*), void* arg) {
    loop.pass = pass;
    loop.done = done;
    loop.arg = arg;
    loop.running = true;
    PageWatchLeaving();
    // 0 frames a second: the browser's own frame rate. Never returns.
    emscripten_set_main_loop_arg(Frame, nullptr, 0, 1);
}
