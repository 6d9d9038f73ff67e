#pragma once

#include <vector>

#include "synth.h"

namespace gen {

std::vector<float> MenuJingle();   // 95: back to the menu, and the start-up sound
std::vector<float> Zap();          // 01
std::vector<float> Blip();         // 99: move and select
std::vector<float> Confirm();      // 98: confirm and back

// The looping music track, stereo, exactly `frames` long; see music.cpp.
struct Track {
    std::vector<float> left, right;
};
Track Music();
// The game template's music: four bars of the same band, looping.
Track TemplateMusic();
// Encodes the track as Ogg Vorbis; the title goes into its comments.
bool WriteOgg(const std::string& path, const Track& track, const char* title = "Internet", int serial = 550,
              float quality = 0.3f);

}  // namespace gen
