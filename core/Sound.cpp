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

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// The player's music volume, 0..1; a NaN keeps the last one heard.
void TakeMusicVolume(float volume) {
    if (NotNaN("musicVolume", {volume}, "the last music volume is kept")) ASys.musicMaster = Clamp01(volume);
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

// Pitch, volume and pan are clamped by the platform (infinities too); a NaN
// among them, or in sfxVolume, has no place in a range: nothing is played,
// and the log says so once.
static void PlayEffect(KELPCore& g, const char* call, int n, float pitch, float volume, float pan, int loop) {
    if (!NotNaN(call, {pitch, volume, pan, g.sfxVolume}, "nothing played")) return;
    // Each factor is clamped first: 0 times an infinity would be NaN.
    ASys.PlayWAV(n, pitch, g.Clamp(g.sfxVolume, 0, 1) * g.Clamp(volume, 0, 1), pan, loop);
}

void KELPCore::PlaySFX(int n) { PlayEffect(*this, "PlaySFX", n, tRnd(0.8f, 1.2f), 1, 0, 0); }
void KELPCore::PlaySFX(int n, float pitch) { PlayEffect(*this, "PlaySFX", n, pitch, 1, 0, 0); }
void KELPCore::PlaySFX(int n, float pitch, float volume) { PlayEffect(*this, "PlaySFX", n, pitch, volume, 0, 0); }
void KELPCore::PlaySFX(int n, float pitch, float volume, float pan) {
    PlayEffect(*this, "PlaySFX", n, pitch, volume, pan, 0);
}
void KELPCore::PlaySFX(int n, float pitch, float volume, float pan, int loop) {
    PlayEffect(*this, "PlaySFX", n, pitch, volume, pan, loop);
}

// ---- Music -------------------------------------------------------------------------

void KELPCore::PlayMusic(string name) { PlayMusic(name, 1); }

void KELPCore::PlayMusic(string name, int loop) {
    std::replace(name.begin(), name.end(), '\\', '/');
    // The first buffer is queued at once: it plays at the game's volume
    // even before the loop's first MusicHandler.
    TakeMusicVolume(musicVolume);
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
void KELPCore::StopMusic() { ASys.EndMusicSys(); }

void KELPCore::PauseMusic() { ASys.PauseMusicSys(); }
void KELPCore::ResumeMusic() { ASys.ResumeMusicSys(); }

// Clamped, infinities too; a NaN keeps the track's setting (said once).
void KELPCore::MusicVolume(float v) {
    if (NotNaN("MusicVolume", {v}, "the volume is kept")) ASys.trackVolume = Clamp(v, 0, 1);
}
void KELPCore::MusicPitch(float p) {
    if (NotNaN("MusicPitch", {p}, "the pitch is kept")) ASys.trackPitch = Clamp(p, 0.25f, 4);
}
void KELPCore::MusicPan(float p) {
    if (NotNaN("MusicPan", {p}, "the pan is kept")) ASys.trackPan = Clamp(p, -1, 1);
}

void KELPCore::MusicHandler() {
    TakeMusicVolume(musicVolume);
    if (ASys.musicMode > 0) ASys.HandleMusicSys();
}
