// The game's side of sound: effect slots loaded from the game's audio folder,
// played at the player's effects volume, and the music track controls.
#include <algorithm>
#include <cstring>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

namespace {

bool EndsWith(const string& s, const char* tail) {
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool EndsWithAnyCase(const string& s, const char* lower, const char* capital, const char* upper) {
    return EndsWith(s, lower) || EndsWith(s, capital) || EndsWith(s, upper);
}

}  // namespace

// ---- Effects ---------------------------------------------------------------------

void KELPCore::LoadSFX(int n) {
    Debuglog(fstr("Load SFX   : %i", n));
    ASys.GetWAV(n, fstr("%s/Data/%i/audio/%02i.wav", dataRoot, gameNumber, n));
}

void KELPCore::LoadSFX(int slot, string name) {
    Debuglog(fstr("Load Wave %s to %i", name.c_str(), slot));
    std::replace(name.begin(), name.end(), '\\', '/');
    if (EndsWithAnyCase(name, ".wav", ".Wav", ".WAV"))
        ASys.GetWAV(slot, fstr("%s/Data/%i/audio/%s", dataRoot, gameNumber, name.c_str()));
    else
        ASys.GetWAV(slot, fstr("%s/Data/%i/audio/%s.wav", dataRoot, gameNumber, name.c_str()));
}

void KELPCore::PlaySFX(int n) { ASys.PlayWAV(n, tRnd(0.8f, 1.2f), sfxVolume, 0, 0); }
void KELPCore::PlaySFX(int n, float pitch) { ASys.PlayWAV(n, pitch, sfxVolume, 0, 0); }
void KELPCore::PlaySFX(int n, float pitch, float volume) { ASys.PlayWAV(n, pitch, sfxVolume * volume, 0, 0); }
void KELPCore::PlaySFX(int n, float pitch, float volume, float pan) {
    ASys.PlayWAV(n, pitch, sfxVolume * volume, pan, 0);
}
void KELPCore::PlaySFX(int n, float pitch, float volume, float pan, int loop) {
    ASys.PlayWAV(n, pitch, sfxVolume * volume, pan, loop);
}

// ---- Music -------------------------------------------------------------------------

void KELPCore::PlayMusic(string name) { PlayMusic(name, 1); }

void KELPCore::PlayMusic(string name, int loop) {
    std::replace(name.begin(), name.end(), '\\', '/');
    // The first buffer is queued at once: it plays at the game's volume
    // even before the loop's first MusicHandler.
    ASys.musicMaster = musicVolume;
    if (EndsWithAnyCase(name, ".ogg", ".Ogg", ".OGG")) {
        ASys.PlayMusic_Ogg_Sys(fstr("%s/Data/%i/audio/%s", dataRoot, gameNumber, name.c_str()), loop);
        return;
    }
    if (EndsWithAnyCase(name, ".wav", ".Wav", ".WAV")) {
        ASys.PlayMusic_Wav_Sys(fstr("%s/Data/%i/audio/%s", dataRoot, gameNumber, name.c_str()), loop);
        return;
    }
    // The stream kind comes from the ending alone: say why nothing plays.
    Debuglog(fstr("Music Rejected - %s: the name must end in .ogg or .wav", name.c_str()));
}

// What is queued already plays out; no more buffers follow.
void KELPCore::StopMusic() { ASys.musicMode = 0; }

void KELPCore::MusicVolume(float v) { ASys.trackVolume = Clamp(v, 0, 1); }
void KELPCore::MusicPitch(float p) { ASys.trackPitch = Clamp(p, 0.25f, 4); }
void KELPCore::MusicPan(float p) { ASys.trackPan = Clamp(p, -1, 1); }

void KELPCore::MusicHandler() {
    ASys.musicMaster = musicVolume;
    if (ASys.musicMode > 0) ASys.HandleMusicSys();
}
