// Ogg Vorbis music in the browser build: stb_vorbis compiled in from its
// Debian header, as no Vorbis library is packaged for Emscripten. It plays
// the game's own data pack; the desktop's decoder is the one fuzzed against
// outside files. Chained files play their first link only.
#include <stb/stb_vorbis.h>

#include <new>

#include "../Ogg.h"

namespace kelp {

struct OggStream {
    stb_vorbis* v;
};

OggStream* OggOpen(FILE* file, int* error) {
    *error = -VORBIS_outofmem;
    OggStream* s = file ? new (std::nothrow) OggStream : nullptr;
    if (!s) return nullptr;
    int e = 0;
    // 0: the file stays the caller's to close.
    s->v = stb_vorbis_open_file(file, 0, &e, nullptr);
    if (!s->v) {
        *error = -(e ? e : int(VORBIS_unexpected_eof));
        delete s;
        return nullptr;
    }
    return s;
}

void OggClose(OggStream* s) {
    if (!s) return;
    stb_vorbis_close(s->v);
    delete s;
}

const char* OggErrorText(int code) {
    switch (-code) {
        case VORBIS_outofmem: return "out of memory";
        case VORBIS_unexpected_eof: return "cut short";
        case VORBIS_invalid_setup: return "bad Vorbis header";
        case VORBIS_invalid_stream: return "invalid stream";
        case VORBIS_missing_capture_pattern: return "not Ogg data";
        case VORBIS_invalid_first_page: return "not Vorbis data";
        default: return "decoder error";
    }
}

int OggLinks(OggStream*) { return 1; }

bool OggLinkLayout(OggStream* s, int link, int* channels, long* rate) {
    if (link > 0) return false;
    stb_vorbis_info info = stb_vorbis_get_info(s->v);
    *channels = info.channels;
    *rate = long(info.sample_rate);
    return true;
}

long OggRead(OggStream* s, short* out, int frames, int channels, int* linkChannels) {
    *linkChannels = channels;
    return stb_vorbis_get_samples_short_interleaved(s->v, channels, out, frames * channels);
}

bool OggRewind(OggStream* s) { return stb_vorbis_seek_start(s->v) != 0; }

}  // namespace kelp
