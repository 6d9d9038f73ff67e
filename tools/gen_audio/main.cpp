// Writes the demo's sounds into the folder given as the only argument.
#include <cstdio>

#include "effects.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: gen_audio <audio folder>\n");
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
