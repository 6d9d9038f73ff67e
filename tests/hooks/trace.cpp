// Linked into the test variant of a game that has no test build of its own:
// KELP_TRACE=1 in the environment turns on the input trace before main runs.
#include <cstdlib>

#include "sys/KELPSys.h"

using namespace kelp;

static const int kTraceFromEnvironment = [] {
    if (getenv("KELP_TRACE")) TraceInput = 1;
    return 0;
}();
