// The settings and save loader on arbitrary files: the input is cut in two,
// the first part becomes "Settings.sav", the rest the save file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch.h"
#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

static std::string root;

static void Put(const std::string& name, const uint8_t* data, size_t size) {
    FILE* f = fopen((root + "/" + name).c_str(), "wb");
    if (!f) return;
    fwrite(data, 1, size, f);
    fclose(f);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    std::string tmpl = ScratchDir() + "/kelp-fuzz-save-XXXXXX";
    root = mkdtemp(&tmpl[0]) ? tmpl : ScratchDir();
    atexit([] {
        unlink((root + "/Settings.sav").c_str());
        unlink((root + "/Save_550_Test Game.sav").c_str());
        rmdir(root.c_str());
    });
    snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", root.c_str());
    ThisGame.gameNumber = 550;
    snprintf(ThisGame.gameTitle, sizeof ThisGame.gameTitle, "Test Game");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t cut = size >= 2 ? (data[0] | data[1] << 8) % (size - 1) + 2 : size;
    Put("Settings.sav", data + (size >= 2 ? 2 : size), cut - (size >= 2 ? 2 : size));
    Put("Save_550_Test Game.sav", data + cut, size - cut);
    MyGame& g = ThisGame;
    memset(g.saveData, 0, sizeof g.saveData);
    g.KeyDefaults();
    g.Load();
    // Bindings stay input codes that the tables can hold.
    for (int s = 0; s < 64; s++)
        for (int a = 0; a < 16; a++)
            if (ASys.redef[s][a] != 0 && s < 48) abort();
    return 0;
}
