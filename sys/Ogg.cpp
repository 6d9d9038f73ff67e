// Ogg Vorbis music on the desktop: libvorbisfile, the reference decoder,
// reading through the game's own FILE. Damaged input is refused or skipped
// by the library, never trusted (the fuzz target fuzz_ogg drives it).
#include "Ogg.h"

#include <sys/types.h>
#include <vorbis/vorbisfile.h>

#include <new>

namespace kelp {

struct OggStream {
    OggVorbis_File vf;
};

namespace {

size_t ReadCallback(void* to, size_t size, size_t count, void* file) {
    return fread(to, size, count, static_cast<FILE*>(file));
}

int SeekCallback(void* file, ogg_int64_t offset, int whence) {
    return fseeko(static_cast<FILE*>(file), off_t(offset), whence);
}

long TellCallback(void* file) { return ftell(static_cast<FILE*>(file)); }

// No close: the file is the caller's and is closed with the stream.
const ov_callbacks kCallbacks = {ReadCallback, SeekCallback, nullptr, TellCallback};

}  // namespace

OggStream* OggOpen(FILE* file, int* error) {
    *error = OV_EFAULT;
    OggStream* s = file ? new (std::nothrow) OggStream : nullptr;
    if (!s) return nullptr;
    *error = ov_open_callbacks(file, &s->vf, nullptr, 0, kCallbacks);
    if (*error < 0) {
        // A failed open has cleaned up after itself already.
        delete s;
        return nullptr;
    }
    return s;
}

void OggClose(OggStream* s) {
    if (!s) return;
    ov_clear(&s->vf);
    delete s;
}

const char* OggErrorText(int code) {
    switch (code) {
        case OV_EREAD: return "read error";
        case OV_EFAULT: return "decoder fault";
        case OV_EIMPL: return "unsupported feature";
        case OV_EINVAL: return "invalid stream";
        case OV_ENOTVORBIS: return "not Vorbis data";
        case OV_EBADHEADER: return "bad Vorbis header";
        case OV_EVERSION: return "unsupported Vorbis version";
        case OV_ENOTAUDIO: return "not audio";
        case OV_EBADPACKET: return "bad packet";
        case OV_EBADLINK: return "bad link";
        case OV_ENOSEEK: return "not seekable";
        default: return "decoder error";
    }
}

int OggLinks(OggStream* s) { return int(ov_streams(&s->vf)); }

bool OggLinkLayout(OggStream* s, int link, int* channels, long* rate) {
    const vorbis_info* info = ov_info(&s->vf, link);
    if (!info) return false;
    *channels = info->channels;
    *rate = info->rate;
    return true;
}

long OggRead(OggStream* s, short* out, int frames, int channels, int* linkChannels) {
    int link = 0;
    *linkChannels = channels;
    // 16-bit signed little-endian samples, interleaved.
    long got = ov_read(&s->vf, reinterpret_cast<char*>(out), frames * channels * 2, 0, 2, 1, &link);
    if (got <= 0) return got == OV_HOLE ? kOggHole : got;
    const vorbis_info* now = ov_info(&s->vf, link);
    *linkChannels = now ? now->channels : 0;
    // Counted in the caller's layout. A link with other channels may give
    // less than one such frame: still more than 0, which would mean the end,
    // and the caller sees linkChannels and drops them.
    return got / (2 * channels) > 0 ? got / (2 * channels) : 1;
}

bool OggRewind(OggStream* s) { return ov_pcm_seek(&s->vf, 0) == 0; }

}  // namespace kelp
