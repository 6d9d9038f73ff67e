// The music stream's Ogg Vorbis decoder, behind one small interface: the
// desktop decodes with libvorbisfile (sys/Ogg.cpp), the browser build with
// stb_vorbis (sys/web/Ogg.cpp), as no Vorbis library is packaged for it.
// Both read through the caller's FILE and never close it.
#pragma once

#include <cstdio>

namespace kelp {

struct OggStream;

const long kOggHole = -3;   // damaged or missing pages were skipped; read on

// Opens the stream on `file`. On failure returns null with a negative code.
OggStream* OggOpen(FILE* file, int* error);
void OggClose(OggStream* s);
const char* OggErrorText(int code);

// How many links the file chains, and the layout of one of them; false when
// the link is unknown.
int OggLinks(OggStream* s);
bool OggLinkLayout(OggStream* s, int link, int* channels, long* rate);

// Decodes up to `frames` frames of interleaved signed 16-bit samples in the
// stream's first layout of `channels`. Returns the frames decoded (0 at the
// end of the stream), kOggHole, or another negative code for a decoder
// error; `linkChannels` is the channel count of the link they came from.
long OggRead(OggStream* s, short* out, int frames, int channels, int* linkChannels);

// Back to the first sample; false when the stream cannot seek.
bool OggRewind(OggStream* s);

}  // namespace kelp
