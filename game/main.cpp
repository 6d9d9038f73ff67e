// Entry point of the demo: the program path is the only input.
#include <cstdlib>

#include "MyGame.h"
#include "../sys/KELPSys.h"

int main(int argc, char** argv) {
#ifdef KELP_TEST_BUILD
    // The test build lets a test point the score submission at its own
    // server, and log what each poll saw of the keys and each screen change.
    if (const char* port = getenv("KELP_SCORE_PORT")) kelp::ASys.webPort = atoi(port);
    if (getenv("KELP_TRACE")) kelp::TraceInput = TraceScreens = 1;
#endif
    ThisGame.Launch(argc > 0 ? argv[0] : ".");
    // A run that could not open any window must not report success.
    return ThisGame.WindowFailed() ? 1 : 0;
}
