// Writes the demo's sounds into the folder given as the only argument; with
// --template, the game template's music into the file given after it (kept
// in the repository as templates/new-game/Data/100/audio/music.ogg).
#include <cstdio>
#include <cstring>

#include "effects.h"

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--template") == 0) {
        if (gen::WriteOgg(argv[2], gen::TemplateMusic(), "New Game", 100, 0.0f)) return 0;
        fprintf(stderr, "gen_audio: cannot write %s\n", argv[2]);
        return 1;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: gen_audio <audio folder>\n       gen_audio --template <music file>\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = gen::WriteWav16(dir + "/95.wav", gen::MenuJingle()) &&
              gen::WriteWav16(dir + "/01.wav", gen::Zap()) &&
              gen::WriteWav16(dir + "/99.wav", gen::Blip()) &&
              gen::WriteWav16(dir + "/98.wav", gen::Confirm()) &&
              gen::WriteOgg(dir + "/Internet.ogg", gen::Music());
    if (!ok) {
        fprintf(stderr, "gen_audio: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
