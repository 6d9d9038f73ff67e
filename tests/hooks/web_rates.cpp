// Linked into the browser test build of the demo: the update and render
// rates the game measured over its last second (the statistics line's
// figures), for a test to read from the page.
#include <emscripten.h>

#include "game/MyGame.h"

extern "C" EMSCRIPTEN_KEEPALIVE int kelp_test_update_rate() { return ThisGame.updateFps; }
extern "C" EMSCRIPTEN_KEEPALIVE int kelp_test_render_rate() { return ThisGame.renderFps; }
