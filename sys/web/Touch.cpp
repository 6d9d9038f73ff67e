// Touch in a page: up to ten fingers drive the pointer records. The first
// finger down takes record 0, which the mouse drives otherwise, so whatever
// reads the pointer works by touch; further fingers take records 1..9. A
// finger keeps its record until it is lifted; a new finger takes the lowest
// free one.
//
// The page takes the canvas's touches for itself: the browser neither
// scrolls nor zooms on them nor makes mouse events of them (which would press
// record 0 a second time), and the browser's GLFW does not see them. A tap
// shorter than a frame still reads as down on one poll and up on the next,
// and acts at once (no tap delay: the page's viewport is the device's).
#include <emscripten.h>

#include "../KELPSys.h"
#include "Page.h"

namespace kelp {

namespace {

EM_JS(void, PageWatchTouchesJS, (), {
    if (Module["kelpTouches"]) return;
    var slots = [];
    for (var i = 0; i < 10; i++) slots.push({id: null, x: 0, y: 0, fresh: false, lifted: false});
    Module["kelpTouches"] = slots;
    Module["kelpTouchMode"] = false;
    Module["kelpTouchPolls"] = 0;
    var canvas = Module["canvas"];
    function place(slot, touch) {
        var box = canvas.getBoundingClientRect();
        slot.x = (touch.clientX - box.left) * canvas.width / (box.width || 1);
        slot.y = (touch.clientY - box.top) * canvas.height / (box.height || 1);
    }
    function slotOf(id) {
        for (var i = 0; i < slots.length; i++) if (slots[i].id === id) return slots[i];
        return null;
    }
    function start(e) {
        if (e.target !== canvas) return;
        e.preventDefault();
        e.stopPropagation();
        Module["kelpTouchMode"] = true;
        for (var t = 0; t < e.changedTouches.length; t++) {
            var touch = e.changedTouches[t];
            // A tap no poll has seen yet keeps its record until one has.
            var free = null;
            for (var i = 0; i < slots.length && !free; i++)
                if (slots[i].id === null && !slots[i].fresh) free = slots[i];
            if (!free) continue;
            free.id = touch.identifier;
            free.fresh = true;
            free.lifted = false;
            place(free, touch);
        }
    }
    // A finger moved, or lifted: its record follows it; a lifted finger's
    // release is reported once.
    function follow(e, lifted) {
        var mine = false;
        for (var t = 0; t < e.changedTouches.length; t++) {
            var slot = slotOf(e.changedTouches[t].identifier);
            if (!slot) continue;
            mine = true;
            place(slot, e.changedTouches[t]);
            if (lifted) {
                slot.id = null;
                slot.lifted = true;
            }
        }
        if (mine) {
            e.preventDefault();
            e.stopPropagation();
        }
    }
    function move(e) { follow(e, false); }
    function end(e) { follow(e, true); }
    // Ahead of the canvas's own listeners (the browser's GLFW has some).
    var options = {capture: true, passive: false};
    addEventListener("touchstart", start, options);
    addEventListener("touchmove", move, options);
    addEventListener("touchend", end, options);
    addEventListener("touchcancel", end, options);
    // A mouse moved again drives record 0 again.
    addEventListener("mousemove", function () { Module["kelpTouchMode"] = false; }, true);
    addEventListener("mousedown", function () { Module["kelpTouchMode"] = false; }, true);
});

// One poll's view of a slot: 1 with its position and whether it is down, 0
// when no finger is on it and its release has been reported.
EM_JS(int, PageTouch, (int i, double* x, double* y, int* down), {
    var slot = Module["kelpTouches"][i];
    if (i === 0) Module["kelpTouchPolls"]++;
    HEAPF64[x >> 3] = slot.x;
    HEAPF64[y >> 3] = slot.y;
    var held = slot.id !== null || slot.fresh;
    HEAP32[down >> 2] = held ? 1 : 0;
    slot.fresh = false;
    if (held) return 1;
    if (slot.lifted) {
        slot.lifted = false;
        return 1;
    }
    return 0;
});

EM_JS(int, PageTouchMode, (), { return Module["kelpTouchMode"] ? 1 : 0; });

int (*mousePointer)(double*, double*, int*, int*) = nullptr;

// Record 0: the first finger while the page is being touched; the mouse
// otherwise. A lifted finger leaves the record where it was, as the mouse
// does.
int PagePointer(double* x, double* y, int* left, int* right) {
    if (!ASys.window) return 0;
    if (!PageTouchMode()) return mousePointer(x, y, left, right);
    PageTouch(0, x, y, left);
    *right = 0;
    return 1;
}

int PageFinger(int i, double* x, double* y, int* down) {
    if (!ASys.window) return 0;
    return PageTouch(i, x, y, down);
}

}  // namespace

void PageWatchTouches() {
    PageWatchTouchesJS();
    if (InputPointer == PagePointer) return;
    mousePointer = InputPointer;
    InputPointer = PagePointer;
    InputTouch = PageFinger;
}

}  // namespace kelp
