#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::LoadSFX(int n) {}
void KELPCore::LoadSFX(int slot, string name) {}
void KELPCore::PlaySFX(int n) {}
void KELPCore::PlaySFX(int n, float pitch) {}
void KELPCore::PlaySFX(int n, float pitch, float volume) {}
void KELPCore::PlaySFX(int n, float pitch, float volume, float pan) {}
void KELPCore::PlaySFX(int n, float pitch, float volume, float pan, int loop) {}
void KELPCore::PlayMusic(string name) {}
void KELPCore::PlayMusic(string name, int loop) {}
void KELPCore::StopMusic() {}
void KELPCore::MusicVolume(float v) {}
void KELPCore::MusicPitch(float p) {}
void KELPCore::MusicPan(float p) {}
void KELPCore::MusicHandler() {}
