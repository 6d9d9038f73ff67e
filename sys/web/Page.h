// What the browser build's platform files share.
#pragma once

namespace kelp {

// Runs before every loop pass: the page's own checks (features a page cannot
// offer say so once in the log) and the canvas's new size, if it has one.
void PageChecks();

// Takes in a new size of the page's canvas before the frame draws.
void PageCanvasFrame();

// From the canvas's creation on, the page's touches drive the pointer
// records (sys/web/Touch.cpp).
void PageWatchTouches();

// Offers n bytes to the user as a file download named `name`.
void PageOfferDownload(const char* name, const unsigned char* bytes, int n);

// The loop's ends and start: before the game's end runs, after it (the page
// offers to start it again), and before its first frame (the page's own
// screen goes).
void PageGameEnding();
void PageGameEnded();
void PageGameShown();

}  // namespace kelp
