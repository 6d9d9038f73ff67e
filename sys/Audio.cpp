#include "KELPSys.h"

void* ALdev = nullptr;
void* ALctx = nullptr;
int32_t AudioEnabled = 0;
uint32_t ALsource[AL_SOURCES];
int32_t ALsourcebuffer[AL_SOURCES];
int32_t ALChannel = 0;
uint32_t ALbuffer[SFX_SLOTS];
int32_t ALbufferActive[SFX_SLOTS];
uint32_t MusicBuffer[4];
int32_t MusicBufferTick = 0;
int32_t MusicBufferStats[10];
FILE* MusicFile = nullptr;
long MusicFileBegin = 0;
void* OggFile = nullptr;

// TODO: not built yet.
void KELPSys::GetWAV(int slot, const char* path) {}
void KELPSys::PlayWAV(int slot, float pitch, float gain, float pan, int loop) {}
void KELPSys::PlayMusic_Wav_Sys(const char* path, int loop) {}
void KELPSys::PlayMusic_Ogg_Sys(const char* path, int loop) {}
void KELPSys::BufferMusic_Wav_Sys() {}
void KELPSys::BufferMusic_Ogg_Sys() {}
void KELPSys::HandleMusicSys() {}
void KELPSys::StopMusicSys() {}
void KELPSys::AudioStart() {}
void KELPSys::AudioClose() {}
