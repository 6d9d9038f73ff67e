// The framework's own state of a game object, and the core's small helpers.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

namespace kelp {
int32_t UpdateCountLive = 0, RenderCountLive = 0;
clock_t GameStartTime = 0;

CoreState& StateOf(KELPCore& game) { return *game.state_; }
}  // namespace kelp

KELPCore::KELPCore() : state_(new CoreState()) {}
KELPCore::~KELPCore() { delete state_; }

int kelp::RatePerSecond(int count, int elapsedMs) {
    if (elapsedMs <= 1000) return count;  // on time, or the clock went back
    return (int)(((int64_t)count * 1000 + elapsedMs / 2) / elapsedMs);
}

void kelp::Zero(void* block, size_t bytes) {
    if (!block || !bytes) return;
#ifdef __linux__
    // The whole pages of a large block are given back rather than written:
    // they read as zero again and take no memory until the game writes them.
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize > 0 && bytes >= 16 * (size_t)pageSize) {
        const uintptr_t page = (uintptr_t)pageSize;
        const uintptr_t start = (uintptr_t)block, end = start + bytes;
        const uintptr_t first = (start + page - 1) & ~(page - 1), last = end & ~(page - 1);
        if (madvise((void*)first, last - first, MADV_DONTNEED) == 0) {
            memset(block, 0, first - start);
            memset((void*)last, 0, end - last);
            return;
        }
    }
#endif
    memset(block, 0, bytes);
}

// ---- Bad values ----------------------------------------------------------------

static bool Refused(const char* call, const char* what, const char* instead) {
    // Said once per call: a game that passes a NaN does so on every frame.
    KELPSys::DebuglogOnce(call, 0, "%s: %s; %s (said once)", call, what, instead);
    return false;
}

bool kelp::Finite(const char* call, std::initializer_list<float> values, const char* instead) {
    for (float v : values)
        if (!std::isfinite(v)) return Refused(call, "an argument is NaN or infinite", instead);
    return true;
}

bool kelp::NotNaN(const char* call, std::initializer_list<float> values, const char* instead) {
    for (float v : values)
        if (std::isnan(v)) return Refused(call, "an argument is NaN", instead);
    return true;
}
