// Ogg Vorbis encoding with libvorbisenc, shared by the demo's music
// (gen_audio) and the fuzzer's seed files (fuzz/make_seeds.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace gen {

// One Ogg Vorbis stream of `frames` frames, one plane of samples per
// channel; `title` (when not null) goes into the comments. headerBytes, when
// given, receives the size of the header pages. Empty when the encoder
// refuses the layout.
std::string EncodeVorbis(const std::vector<const float*>& planes, size_t frames, int rate, float quality,
                         int serial, const char* title, size_t* headerBytes = nullptr);

}  // namespace gen
