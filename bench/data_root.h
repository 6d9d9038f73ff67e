// A benchmark's own data root: the demo's data (the build's bin/Data, found
// from the benchmark's path) with fresh settings and saves beside it.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "game/MyGame.h"

// Points the game at a new folder in /tmp; false if it cannot be made.
inline bool UsePrivateDataRoot(MyGame& g, const char* argv0) {
    char tmpl[] = "/tmp/kelp-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    std::string bin = argv0;
    bin = bin.substr(0, bin.rfind('/')) + "/../bin";
    char real[4096];
    if (!realpath(bin.c_str(), real)) return false;
    if (symlink((std::string(real) + "/Data").c_str(), (std::string(tmpl) + "/Data").c_str())) return false;
    g.SetDataRoot((std::string(tmpl) + "/MyGame").c_str());
    return true;
}
