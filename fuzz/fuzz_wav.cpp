// The WAV reader and the WAV music stream on arbitrary files.
//
// No audio device is opened: with no OpenAL context current every AL call
// does nothing, so with the engine marked enabled and stand-in buffer names
// the stream's own file handling (start, fills, wrap-around) runs for real.
#include <AL/al.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch.h"
#include "sys/KELPSys.h"

using namespace kelp;

static std::string path;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    path = ScratchDir() + "/kelp-fuzz-wav-" + std::to_string(getpid()) + ".wav";
    atexit([] { unlink(path.c_str()); });
    return 0;
}

static uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// What an accepted file must look like where the reader says its samples are.
static void CheckAccepted(const WavInfo& info, const uint8_t* data, size_t size) {
    static const int32_t formats[2][2] = {{AL_FORMAT_MONO8, AL_FORMAT_STEREO8},     // [bytes - 1]
                                          {AL_FORMAT_MONO16, AL_FORMAT_STEREO16}};  // [channels - 1]
    if (info.channels < 1 || info.channels > 2) abort();
    if (info.bits != 8 && info.bits != 16) abort();
    if (info.format != formats[info.bits / 8 - 1][info.channels - 1]) abort();
    if (info.rate <= 0) abort();
    // Header, fmt chunk and the data chunk's own header come first.
    if (info.dataOffset < 44 || info.dataSize <= 0) abort();
    if ((size_t)info.dataOffset + (size_t)info.dataSize > size) abort();
    if (info.dataSize % (info.channels * info.bits / 8) != 0) abort();
    const uint8_t* head = data + info.dataOffset - 8;
    if (memcmp(head, "data", 4) != 0 || Le32(head + 4) < (uint32_t)info.dataSize) abort();
    if (memcmp(data, "RIFF", 4) != 0 || memcmp(data + 8, "WAVEfmt ", 8) != 0) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb+");
    if (!f) return 0;
    fwrite(data, 1, size, f);
    fflush(f);
    WavInfo info;
    int ok = ParseWAV(f, "fuzz", &info);
    fclose(f);
    if (ok) CheckAccepted(info, data, size);

    // The music stream, looping or not by the file's last byte, for a few
    // fills: it must stay inside the data chunk and keep a looping track on.
    AudioEnabled = 1;
    for (int i = 0; i < 4; i++) MusicBuffer[i] = uint32_t(i + 1);
    int loop = size > 0 && (data[size - 1] & 1);
    ASys.PlayMusic_Wav_Sys(path.c_str(), loop);
    if ((ASys.musicMode != 0 || MusicFile) != (ok != 0)) abort();
    for (int fill = 0; fill < 6 && ASys.musicMode == 1; fill++) {
        ASys.BufferMusic_Wav_Sys();
        long pos = ftell(MusicFile);
        if (pos < info.dataOffset || pos > info.dataOffset + info.dataSize) abort();
    }
    if (ok && loop && ASys.musicMode != 1) abort();
    ASys.StopMusicSys();
    AudioEnabled = 0;
    return 0;
}
