// Where the targets write their per-input files: the runner's scratch folder
// when it names one, else memory-backed when the machine has it, since
// opening and truncating a file on a busy disk costs milliseconds and would
// make the file-reading targets crawl.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

inline std::string ScratchDir() {
    const char* given = getenv("KELP_FUZZ_SCRATCH");
    if (given && *given) return given;
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}
