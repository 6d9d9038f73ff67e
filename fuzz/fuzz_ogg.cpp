// The Ogg Vorbis music stream on arbitrary files: open, a run of fills,
// looping, stop.
//
// The input's last byte steers the run: bit 0 loops the track, bit 1 first
// repairs the checksum of every whole Ogg page. Without the repair almost
// every change inside a page is dropped by the Ogg layer's checksum test;
// with it, changed packets reach the Vorbis decoder itself.
//
// No audio device is opened, as in fuzz_wav: the AL calls do nothing and the
// stream's own decoding runs for real.
#include <AL/al.h>
#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/scratch.h"
#include "sys/KELPSys.h"

using namespace kelp;

static std::string path;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    path = ScratchDir() + "/kelp-fuzz-ogg-" + std::to_string(getpid()) + ".ogg";
    atexit([] { unlink(path.c_str()); });
    KELPSys::Debuglog("");   // stdout's buffer, taken once, before any count below
    return 0;
}

// Ogg's page checksum: CRC-32, polynomial 0x04C11DB7, not reflected, over
// the page with its checksum field zeroed.
static void RepairPageChecksums(std::vector<uint8_t>& d) {
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; k++) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            table[i] = r;
        }
    for (size_t at = 0; at + 27 <= d.size(); at++) {
        if (memcmp(&d[at], "OggS", 4) != 0) continue;
        size_t segments = d[at + 26];
        size_t len = 27 + segments;
        if (at + len > d.size()) break;
        for (size_t i = 0; i < segments; i++) len += d[at + 27 + i];
        if (at + len > d.size()) break;
        memset(&d[at + 22], 0, 4);
        uint32_t crc = 0;
        for (size_t i = 0; i < len; i++) crc = (crc << 8) ^ table[((crc >> 24) ^ d[at + i]) & 0xFF];
        for (int i = 0; i < 4; i++) d[at + 22 + i] = uint8_t(crc >> (8 * i));
        at += len - 1;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    int flags = size > 0 ? data[size - 1] : 0;
    if (flags & 2) RepairPageChecksums(file);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite(file.data(), 1, file.size(), f);
    fclose(f);

    AudioEnabled = 1;
    for (int i = 0; i < 4; i++) MusicBuffer[i] = uint32_t(i + 1);
    const size_t heldBefore = __sanitizer_get_current_allocated_bytes();
    ASys.PlayMusic_Ogg_Sys(path.c_str(), flags & 1);
    bool accepted = OggFile != nullptr;
    if (accepted != (MusicFile != nullptr)) abort();
    if (accepted) {
        // What the stream hands to OpenAL must be a layout it takes.
        int channels = MusicBufferStats[5];
        if (channels != 1 && channels != 2) abort();
        if (MusicBufferStats[1] != (channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16)) abort();
        if (MusicBufferStats[4] <= 0) abort();
    } else if (ASys.musicMode != 0) {
        abort();
    }
    // Enough fills to wrap a short looping track a few times.
    for (int fill = 0; fill < 24 && ASys.musicMode == 2; fill++) {
        int32_t tick = MusicBufferTick;
        ASys.BufferMusic_Ogg_Sys();
        if (MusicBufferTick < tick || MusicBufferTick > tick + 1) abort();
    }
    ASys.StopMusicSys();
    if (OggFile || MusicFile || ASys.musicMode != 0) abort();
    // A track that played gives back all it took when it stops. (A refused
    // file may leave a little behind inside the library's open, a fault of
    // its own: tests/lsan.supp.)
    if (accepted && __sanitizer_get_current_allocated_bytes() > heldBefore) abort();
    AudioEnabled = 0;
    return 0;
}
