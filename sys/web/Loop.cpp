// The main loop in a browser: one pass a frame, on the page's animation
// frames, since a loop that never returns would freeze the page. The end
// (the game quit, or the page is being left) runs the game's end once. A
// game that quit leaves a screen from which a key or a tap starts it again
// in the same page (pre.js): a page's Escape is a reflex, which also leaves
// full screen, and ending a game for good on it would be harsh.
#include <emscripten.h>

#include "../KELPSys.h"
#include "Page.h"

namespace kelp {

const int SysPassPerFrame = 1;

namespace {

struct Loop {
    int (*pass)(void*) = nullptr;
    void (*done)(void*) = nullptr;
    void* arg = nullptr;
    bool running = false;
    bool shown = false;
} loop;

EM_JS(void, PageWatchLeaving, (), {
    if (Module["kelpLeavingWatched"]) return;
    Module["kelpLeavingWatched"] = true;
    // The page is going (closed, reloaded, navigated away): the game ends as
    // it would with its window closed, and saves on the way. The page's
    // script (pre.js) calls this from its one pagehide listener, before it
    // gives the turn to another tab.
    Module["kelpLeaveGame"] = function () { _kelp_web_leave(); };
    // A page the browser kept and shows again has its game ended: start anew.
    addEventListener("pageshow", function (e) {
        if (e.persisted) location.reload();
    });
});

void End() {
    if (!loop.running) return;
    loop.running = false;
    emscripten_cancel_main_loop();
    PageGameEnding();
    loop.done(loop.arg);
    PageGameEnded();
}

void Frame(void*) {
    PageChecks();
    if (!loop.shown) {
        loop.shown = true;
        PageGameShown();
    }
    if (!loop.pass(loop.arg)) End();
}

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_leave() { End(); }

void SysRunLoop(int (*pass)(void*), void (*done)(void*), void* arg) {
    loop.pass = pass;
    loop.done = done;
    loop.arg = arg;
    loop.running = true;
    loop.shown = false;
    PageWatchLeaving();
    // 0 frames a second: the browser's own frame rate. Never returns.
    emscripten_set_main_loop_arg(Frame, nullptr, 0, 1);
}

}  // namespace kelp
