// Sound effects on a rotating pool of OpenAL sources, and music streamed
// from WAV or Ogg Vorbis files through four queued buffers.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// Our own callbacks are used; the header's stdio ones would go unused.
#define OV_EXCLUDE_STATIC_CALLBACKS

#include "KELPSys.h"
#include "Ogg.h"

namespace kelp {

static void* OpenDefaultDevice() { return alcOpenDevice(nullptr); }

void* (*AudioOpenDevice)() = OpenDefaultDevice;
const int* AudioContextAttributes = nullptr;
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
int (*FileArriving)(const char* path) = nullptr;

namespace {

const int kMusicSource = 31;     // sources 0..30 rotate for effects
const int kEffectSources = 31;
const int kMusicBlock = 16384;   // bytes per WAV fill; 16-bit samples per Ogg fill
const int kShortRead = -37171;

// The stream's sample data ends here; MusicFileBegin is where it starts.
long musicDataEnd = 0;
int musicFrameBytes = 1;
char musicPath[1024];
int musicWaitMode = 0;   // the stream kind (1 WAV, 2 Ogg) of a track that waits for its file

// 1 when the library can place the two channels of a stereo sound.
int stereoAngles = 0;

// One fill's worth of samples, reused by every fill.
unsigned char wavBlock[kMusicBlock];
short oggBlock[kMusicBlock];

ALuint MusicSource() { return ALsource[kMusicSource]; }

// OpenAL takes any positive rate; Vorbis allows rates no sound card plays.
const long kMaxOggRate = 384000;
// Holes (skipped damaged pages) one fill takes before it hands over what it has.
const int kMaxOggHoles = 64;

// ---- Header readers ----------------------------------------------------------

const char* readTag(FILE* f) {
    static char tag[5];
    if (fread(tag, 1, 4, f) != 4) tag[0] = 0;
    tag[4] = 0;
    return tag;
}

int readInt(FILE* f) {
    unsigned char b[4];
    if (fread(b, 1, 4, f) != 4) return kShortRead;
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

int readShort(FILE* f) {
    unsigned char b[2];
    if (fread(b, 1, 2, f) != 2) return kShortRead;
    return b[0] | b[1] << 8;
}

void skipBytes(FILE* f, long n) {
    if (n > 0) fseek(f, n, SEEK_CUR);
}

int Reject(const char* name, const char* why, ...) __attribute__((format(printf, 2, 3)));
int Reject(const char* name, const char* why, ...) {
    char reason[160];
    va_list args;
    va_start(args, why);
    vsnprintf(reason, sizeof reason, why, args);
    va_end(args);
    KELPSys::Debuglog(KELPSys::fstrSys("Wave Rejected - %s: %s", name, reason));
    return 0;
}

// Sub-formats of a WAVE_FORMAT_EXTENSIBLE header, named in refusals: the
// first two bytes of the sub-format GUID, a format code of their own.
const char* FormatName(int code) {
    switch (code) {
        case 1: return "PCM";
        case 2: return "Microsoft ADPCM";
        case 3: return "IEEE float";
        case 6: return "A-law";
        case 7: return "mu-law";
        case 0x11: return "IMA ADPCM";
        case 0x55: return "MPEG layer 3";
        default: return "unknown";
    }
}

// The rest of the KSDATAFORMAT_SUBTYPE GUID that every such sub-format shares.
const unsigned char kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const int kExtensible = 0xFFFE;

// Says where a sound file could not be opened, on a line of its own below
// the message that names the kind of file.
void ReportOpenFailure(const char* path, int err) {
    KELPSys::Debuglog(KELPSys::fstrSys("    %.900s : %s", path, strerror(err)));
}

int OpenALFormat(int bytesPerSample, int channels) {
    if (bytesPerSample == 1) return channels == 1 ? AL_FORMAT_MONO8 : AL_FORMAT_STEREO8;
    return channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
}

float Clamp(float v, float lo, float hi) {
    if (!(v >= lo)) return lo;   // NaN lands on the low end too
    return v > hi ? hi : v;
}

// Logs `message` (with the error code) when OpenAL reports an error.
// Returns 1 when there was one.
int CheckAL(const char* message) {
    ALenum err = alGetError();
    if (err == AL_NO_ERROR) return 0;
    KELPSys::Debuglog(KELPSys::fstrSys(message, int(err)));
    return 1;
}

// Stops the music source and takes every buffer off it, so a new track
// starts on an empty queue.
void ResetMusicSource() {
    ALuint src = MusicSource();
    alSourceStop(src);
    alSourcei(src, AL_BUFFER, 0);
    alGetError();
}

void ReleaseStream() {
    // The decoder reads through MusicFile, so it goes first.
    OggClose(static_cast<OggStream*>(OggFile));
    OggFile = nullptr;
    if (MusicFile) fclose(MusicFile);
    MusicFile = nullptr;
}

// OpenAL places a mono sound by its source's position, but plays a stereo
// one from fixed channel angles (left +30 degrees, right -30) wherever the
// source is. Pan therefore also turns the far channel over to the near
// side: at -1 or +1 both channels play from that side, at 0 the sound is as
// recorded. Mono sounds ignore the angles and pan by position as before.
void SetPan(ALuint src, float pan) {
    alSource3f(src, AL_POSITION, -pan, 0, 0);
    if (!stereoAngles) return;
    const float side = float(M_PI / 6);
    const ALfloat angles[2] = {side - 2 * side * (pan > 0 ? pan : 0), -side - 2 * side * (pan < 0 ? pan : 0)};
    alSourcefv(src, AL_STEREO_ANGLES, angles);
}

void ApplyMusicSettings() {
    ALuint src = MusicSource();
    alSourcef(src, AL_PITCH, ASys.trackPitch);
    alSourcef(src, AL_GAIN, ASys.trackVolume * ASys.musicMaster);
    SetPan(src, ASys.trackPan);
}

// Steps shared by both stream kinds. Returns the buffer to fill next, or 0
// when the queue holds four buffers and none has been played yet.
ALuint FreeMusicBuffer() {
    ALuint src = MusicSource();
    ALint processed = 0, queued = 0, state = 0;
    alGetSourcei(src, AL_BUFFERS_PROCESSED, &processed);
    alGetSourcei(src, AL_BUFFERS_QUEUED, &queued);
    alGetSourcei(src, AL_SOURCE_STATE, &state);
    if (state == AL_STOPPED && processed > 0) {
        // The queue ran dry (a long pass, or the pause menu): what it holds
        // has been heard already and would play again on restart.
        for (ALint i = 0; i < processed; i++) {
            ALuint b;
            alSourceUnqueueBuffers(src, 1, &b);
        }
        queued -= processed;
        processed = 0;
    }
    if (queued >= 4) {
        if (processed == 0) return 0;
        // Buffers go in and out in rotation order, so the oldest one is the
        // one due next.
        ALuint b;
        alSourceUnqueueBuffers(src, 1, &b);
    }
    return MusicBuffer[ASys.musicNextBuffer & 3];
}

void QueueMusic(ALuint buffer, const void* data, int bytes) {
    alBufferData(buffer, MusicBufferStats[1], data, bytes, MusicBufferStats[4]);
    alSourceQueueBuffers(MusicSource(), 1, &buffer);
    ASys.musicNextBuffer = (ASys.musicNextBuffer + 1) % 4;
    MusicBufferTick++;
    CheckAL("Buffer Error %i");
}

void KeepMusicPlaying() {
    ApplyMusicSettings();
    ALint state = 0;
    alGetSourcei(MusicSource(), AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING) alSourcePlay(MusicSource());
}

}  // namespace

// ---- WAV header ------------------------------------------------------------------

int ParseWAV(FILE* f, const char* name, WavInfo* info) {
    if (!f || !info) return 0;
    if (!name) name = "";
    memset(info, 0, sizeof *info);
    if (fseek(f, 0, SEEK_END) != 0) return Reject(name, "cannot seek");
    long fileSize = ftell(f);
    if (fileSize < 0 || fseek(f, 0, SEEK_SET) != 0) return Reject(name, "cannot seek");

    // Every read below is checked against what is left of the file first.
    long pos = 0;
    auto left = [&]() { return fileSize - pos; };

    if (left() < 12) return Reject(name, "truncated header");
    if (strcmp(readTag(f), "RIFF") != 0) return Reject(name, "not a RIFF file");
    readInt(f);   // the RIFF size is not trusted: the file's own size is
    if (strcmp(readTag(f), "WAVE") != 0) return Reject(name, "not a WAVE file");
    pos = 12;

    if (left() < 8) return Reject(name, "truncated header");
    if (strcmp(readTag(f), "fmt ") != 0) return Reject(name, "no \"fmt \" chunk after the header");
    long fmtSize = long(uint32_t(readInt(f)));
    pos += 8;
    if (fmtSize > left()) return Reject(name, "\"fmt \" chunk larger than the file");
    if (fmtSize < 16) return Reject(name, "truncated \"fmt \" chunk");
    int audioFormat = readShort(f);
    int channels = readShort(f);
    long rate = long(uint32_t(readInt(f)));
    readInt(f);     // byte rate
    readShort(f);   // block align: derived from channels and bits instead
    int bits = readShort(f);
    if (audioFormat == kShortRead || channels == kShortRead || bits == kShortRead)
        return Reject(name, "read error");
    pos += 16;
    long fmtRest = fmtSize - 16;
    // An extensible header names the real format in its sub-format GUID;
    // editors write one for plain 16-bit PCM too.
    if (audioFormat == kExtensible) {
        if (fmtRest < 24) return Reject(name, "truncated extensible \"fmt \" chunk");
        int extra = readShort(f);
        int validBits = readShort(f);
        readInt(f);   // the speaker positions of the channels
        unsigned char guid[16];
        if (extra == kShortRead || validBits == kShortRead || fread(guid, 1, 16, f) != 16)
            return Reject(name, "read error");
        pos += 24;
        fmtRest -= 24;
        int code = guid[0] | guid[1] << 8;
        if (memcmp(guid + 2, kSubtypeTail, sizeof kSubtypeTail) != 0)
            return Reject(name, "extensible format with an unknown sub-format is not PCM");
        if (code != 1)
            return Reject(name, "extensible format with sub-format %i (%s) is not PCM", code, FormatName(code));
        // Fewer valid bits than the container holds still play: the unused
        // low bits are zero.
        if (validBits > bits) return Reject(name, "%i valid bits in %i-bit samples", validBits, bits);
        audioFormat = 1;
    }
    skipBytes(f, fmtRest + (fmtSize & 1));
    pos += fmtRest + (fmtSize & 1);

    if (audioFormat != 1) return Reject(name, "format %i (%s) is not PCM", audioFormat, FormatName(audioFormat));
    if (channels == 0) return Reject(name, "zero channels");
    if (rate == 0 || rate > 0x7FFFFFFF) return Reject(name, "zero sample rate");
    if (bits != 8 && bits != 16) return Reject(name, "%i-bit samples are not supported", bits);
    if (channels > 2) return Reject(name, "%i channels are not supported", channels);

    long dataOffset = -1, dataSize = 0;
    // Fewer than 8 bytes left cannot hold a chunk: trailing padding is ignored.
    while (left() >= 8) {
        char tag[5];
        memcpy(tag, readTag(f), 5);
        long size = long(uint32_t(readInt(f)));
        pos += 8;
        if (size > left()) {
            // Editors append metadata after the samples; one cut short there
            // takes nothing the player needs. A cut "data" chunk would.
            if (dataOffset >= 0 && strcmp(tag, "data") != 0) break;
            return Reject(name, "chunk larger than the file");
        }
        if (strcmp(tag, "data") == 0) {
            dataOffset = pos;   // a later "data" chunk replaces an earlier one
            dataSize = size;
        }
        // Chunks are word aligned; the pad byte of an odd one may be missing
        // at the very end of the file.
        long skip = size + ((size & 1) && size < left() ? 1 : 0);
        skipBytes(f, skip);
        pos += skip;
    }
    if (dataOffset < 0) return Reject(name, "no \"data\" chunk");

    int frame = channels * (bits / 8);
    dataSize -= dataSize % frame;
    if (dataSize == 0) return Reject(name, "no samples in the \"data\" chunk");

    info->format = OpenALFormat(bits / 8, channels);
    info->channels = channels;
    info->rate = int32_t(rate);
    info->bits = bits;
    info->dataOffset = dataOffset;
    info->dataSize = dataSize;
    return 1;
}

// ---- Start-up and shut-down ------------------------------------------------------

void KELPSys::AudioStart() {
    AudioEnabled = 0;
    // A new engine says its slot faults anew.
    ForgetLogged("sound load");
    ForgetLogged("sound play");
    ALCdevice* device = (ALCdevice*)AudioOpenDevice();
    if (!device) {
        Debuglog("Audio Device Error");
        return;
    }
    ALdev = device;
    ALCcontext* context = alcCreateContext(device, AudioContextAttributes);
    if (!context || !alcMakeContextCurrent(context)) {
        Debuglog("Audio Context Issue");
        if (context) alcDestroyContext(context);
        return;
    }
    ALctx = context;
    Debuglog("OpenAL Audio Engaged!");
    AudioEnabled = 1;
    stereoAngles = alIsExtensionPresent("AL_EXT_STEREO_ANGLES") ? 1 : 0;

    alGetError();
    alGenSources(AL_SOURCES, ALsource);
    for (int i = 0; i < 4; i++) alGenBuffers(1, &MusicBuffer[i]);
    if (alGetError() != AL_NO_ERROR) {
        Debuglog("Error with Audio Buffers");
        AudioEnabled = 0;
    }
    // No source has played an effect yet (0 would name slot 0).
    for (int i = 0; i < AL_SOURCES; i++) ALsourcebuffer[i] = -1;
    ALChannel = 0;
    MusicBufferTick = 0;
    musicMode = 0;
    musicNextBuffer = 0;
    musicPaused = 0;

    // Facing +z from z = 1, the listener's right is -x: PlayWAV puts a
    // source at x = -pan.
    alListener3f(AL_POSITION, 0, 0, 1);
    alListener3f(AL_VELOCITY, 0, 0, 0);
    const ALfloat orientation[6] = {0, 0, 1, 0, 1, 0};
    alListenerfv(AL_ORIENTATION, orientation);
}

void KELPSys::AudioClose() {
    Debuglog("Closing OpenAL Audio");
    StopMusicSys();
    if (ALctx) {
        // One source at a time: a browser's OpenAL has no working vector form.
        for (int i = 0; i < AL_SOURCES; i++) alSourceStop(ALsource[i]);
        alDeleteSources(AL_SOURCES, ALsource);
        for (int i = 0; i < SFX_SLOTS; i++) {
            if (ALbufferActive[i]) alDeleteBuffers(1, &ALbuffer[i]);
            ALbufferActive[i] = 0;
        }
        // The stream buffers are no longer queued once the sources are gone.
        alDeleteBuffers(4, MusicBuffer);
        alGetError();
    }
    memset(ALsource, 0, sizeof ALsource);
    memset(MusicBuffer, 0, sizeof MusicBuffer);
    for (int i = 0; i < AL_SOURCES; i++) ALsourcebuffer[i] = -1;
    alcMakeContextCurrent(nullptr);
    if (ALctx) alcDestroyContext(static_cast<ALCcontext*>(ALctx));
    if (ALdev) alcCloseDevice(static_cast<ALCdevice*>(ALdev));
    ALctx = nullptr;
    ALdev = nullptr;
    AudioEnabled = 0;
}

// ---- Sound effects -----------------------------------------------------------------

void KELPSys::GetWAV(int slot, const char* path) {
    if (!AudioEnabled || !path) return;
    if (slot < 0 || slot >= SFX_SLOTS) {
        DebuglogOnce("sound load", slot, "Sound slot %i is outside 0..%i: %.900s is not loaded", slot, SFX_SLOTS - 1,
                     path);
        return;
    }
    alGetError();

    for (int i = 0; i < AL_SOURCES; i++) {
        if (ALsourcebuffer[i] != slot) continue;
        Debuglog(fstrSys("Freeing Buffer %i", i));
        alSourceStop(ALsource[i]);
        ALsourcebuffer[i] = -1;
        // Detaching is what lets the old buffer be deleted below.
        alSourcei(ALsource[i], AL_BUFFER, 0);
        CheckAL("Source->Buffer Error %i");
    }

    if (ALbufferActive[slot]) {
        alDeleteBuffers(1, &ALbuffer[slot]);
        ALbufferActive[slot] = 0;
        CheckAL("Delete Buffer Error %i");
    }
    alGenBuffers(1, &ALbuffer[slot]);
    if (CheckAL("Generate Buffer Error %i")) return;
    ALbufferActive[slot] = 1;

    // Whatever goes wrong from here, the slot ends up empty, so playing it
    // does nothing and does not cut another sound short.
    auto dropBuffer = [slot]() {
        alDeleteBuffers(1, &ALbuffer[slot]);
        ALbufferActive[slot] = 0;
        alGetError();
    };

    FILE* f = fopen(path, "rb");
    if (!f) {
        int err = errno;
        Debuglog("Error Opening Wave");
        ReportOpenFailure(path, err);
        dropBuffer();
        return;
    }
    WavInfo info;
    if (!ParseWAV(f, path, &info)) {
        fclose(f);
        dropBuffer();
        return;
    }
    // OpenAL takes the size as an int; a file that size is no sound effect.
    if (info.dataSize > 0x7FFFFFFF) {
        fclose(f);
        Reject(path, "too large for a sound effect");
        dropBuffer();
        return;
    }
    size_t size = size_t(info.dataSize);
    std::unique_ptr<unsigned char, void (*)(void*)> data(static_cast<unsigned char*>(malloc(size)), free);
    bool complete = data && fseek(f, info.dataOffset, SEEK_SET) == 0 && fread(data.get(), 1, size, f) == size;
    fclose(f);
    if (!complete) {
        Reject(path, data ? "read error" : "out of memory");
        dropBuffer();
        return;
    }
    alBufferData(ALbuffer[slot], info.format, data.get(), ALsizei(size), info.rate);
    Debuglog(fstrSys("     Load %i bytes", int(size)));
    CheckAL("Post Error %i");
}

void KELPSys::PlayWAV(int slot, float pitch, float gain, float pan, int loop) {
    if (!AudioEnabled) return;
    if (slot < 0 || slot >= SFX_SLOTS) {
        DebuglogOnce("sound play", slot, "Sound slot %i is outside 0..%i: nothing plays", slot, SFX_SLOTS - 1);
        return;
    }
    if (ALbufferActive[slot] != 1) return;
    if (ALChannel < 0) ALChannel = 0;
    ALChannel = (ALChannel + 1) % kEffectSources;
    ALuint src = ALsource[ALChannel];
    ALsourcebuffer[ALChannel] = slot;

    alSourceStop(src);
    alSourcei(src, AL_BUFFER, ALint(ALbuffer[slot]));
    alSourcef(src, AL_PITCH, Clamp(pitch, 0.25f, 16.0f));
    alSourcef(src, AL_GAIN, Clamp(gain, 0.0f, 1.0f));
    SetPan(src, Clamp(pan, -1.0f, 1.0f));
    alSourcei(src, AL_LOOPING, loop == 1 ? AL_TRUE : AL_FALSE);
    alSourcePlay(src);
}

// ---- Music -----------------------------------------------------------------------------

// The common start of both stream kinds: the previous track stopped and
// released, the queue empty.
static void BeginStream(KELPSys& s, int loop) {
    ResetMusicSource();
    ReleaseStream();
    s.musicPaused = 0;
    s.musicMode = 0;
    s.musicNextBuffer = 0;
    s.musicLoop = loop;
}

// A track whose file is still on its way (FileArriving) waits for it,
// silent, with the mode MUSIC_WAITING; the stream's handler opens it once it
// has come, or once nothing is on its way any more (then the open fails as
// it would have at once). Stopping the music or another track ends the wait.
static bool WaitForTrack(KELPSys& s, const char* path, int mode) {
    if (!FileArriving || !FileArriving(path)) return false;
    snprintf(musicPath, sizeof musicPath, "%s", path);
    musicWaitMode = mode;
    s.musicMode = MUSIC_WAITING;
    return true;
}

// A track that opened: its own settings reset, the queue to be filled.
static void TrackStarted(KELPSys& s, int mode) {
    s.trackPitch = 1;
    s.trackVolume = 1;
    s.trackPan = 0;
    MusicBufferTick = -3;
    s.musicMode = mode;
}

void KELPSys::PlayMusic_Wav_Sys(const char* path, int loop) {
    if (!AudioEnabled || !path) return;
    BeginStream(*this, loop);

    MusicFile = fopen(path, "rb");
    if (!MusicFile) {
        if (WaitForTrack(*this, path, 1)) return;
        Debuglog(fstrSys("Error Opening Wave - %s", path));
        return;
    }
    WavInfo info;
    if (!ParseWAV(MusicFile, path, &info)) {
        ReleaseStream();
        return;
    }
    // The stream plays the samples of the "data" chunk only, and loops
    // back to its first sample: the header would play as noise.
    MusicBufferStats[1] = info.format;
    MusicBufferStats[4] = info.rate;
    MusicBufferStats[5] = info.channels;
    MusicFileBegin = info.dataOffset;
    musicDataEnd = info.dataOffset + info.dataSize;
    musicFrameBytes = info.channels * (info.bits / 8);
    snprintf(musicPath, sizeof musicPath, "%s", path);
    fseek(MusicFile, MusicFileBegin, SEEK_SET);

    TrackStarted(*this, 1);
    alGetError();
    BufferMusic_Wav_Sys();
    if (alGetError() != AL_NO_ERROR) fprintf(stderr, "Error Opening WAV stream :(\n");
}

void KELPSys::PlayMusic_Ogg_Sys(const char* path, int loop) {
    if (!AudioEnabled || !path) return;
    BeginStream(*this, loop);

    MusicFile = fopen(path, "rb");
    if (!MusicFile) {
        int err = errno;
        if (WaitForTrack(*this, path, 2)) return;
        Debuglog("Error Opening Ogg");
        ReportOpenFailure(path, err);
        ReleaseStream();
        return;
    }
    // The decoder reads through our file and never closes it.
    int error = 0;
    OggStream* ogg = OggOpen(MusicFile, &error);
    if (!ogg) {
        Debuglog("Error Opening Ogg");
        Debuglog(fstrSys("Ogg Rejected - %s: decoder error %i (%s)", path, error, OggErrorText(error)));
        ReleaseStream();
        return;
    }
    OggFile = ogg;
    int channels = 0;
    long rate = 0;
    OggLinkLayout(ogg, 0, &channels, &rate);
    if (channels != 1 && channels != 2) {
        Debuglog(fstrSys("Ogg Rejected - %s: %i channels are not supported", path, channels));
        ReleaseStream();
        return;
    }
    if (rate <= 0 || rate > kMaxOggRate) {
        Debuglog(fstrSys("Ogg Rejected - %s: sample rate %li is not supported", path, rate));
        ReleaseStream();
        return;
    }
    // A chained file plays its links one after the other into the same
    // buffers, so every link must have the first one's layout.
    for (int link = 1; link < OggLinks(ogg); link++) {
        int otherChannels = 0;
        long otherRate = 0;
        if (!OggLinkLayout(ogg, link, &otherChannels, &otherRate) || otherChannels != channels ||
            otherRate != rate) {
            Debuglog(fstrSys("Ogg Rejected - %s: link %i changes the channels or the rate", path, link));
            ReleaseStream();
            return;
        }
    }
    MusicBufferStats[1] = channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
    MusicBufferStats[4] = int32_t(rate);
    MusicBufferStats[5] = channels;
    snprintf(musicPath, sizeof musicPath, "%s", path);

    TrackStarted(*this, 2);
    alGetError();
    BufferMusic_Ogg_Sys();
    if (alGetError() != AL_NO_ERROR) fprintf(stderr, "Error Opening OGG stream :(\n");
}

void KELPSys::BufferMusic_Wav_Sys() {
    if (musicMode != 1 || !MusicFile) return;
    ALuint buffer = FreeMusicBuffer();
    if (!buffer) return;

    // A looping track wraps inside the block, so every buffer is full and
    // the seam is as smooth as the file. A track that ends queues its last
    // whole frames.
    int filled = 0;
    int ended = 0;
    while (filled < kMusicBlock) {
        long pos = ftell(MusicFile);
        long avail = musicDataEnd - pos;
        if (pos < 0 || avail <= 0) {
            if (musicLoop != 1) {
                ended = 1;
                break;
            }
            if (fseek(MusicFile, MusicFileBegin, SEEK_SET) != 0) {
                ended = 1;
                break;
            }
            continue;
        }
        long want = kMusicBlock - filled;
        if (want > avail) want = avail;
        size_t got = fread(wavBlock + filled, 1, size_t(want), MusicFile);
        if (got == 0) {
            Debuglog(fstrSys("Wave Rejected - %s: read error", musicPath));
            ended = 1;
            break;
        }
        filled += int(got);
    }
    filled -= filled % musicFrameBytes;
    if (filled > 0) QueueMusic(buffer, wavBlock, filled);
    if (!ended && musicLoop != 1 && ftell(MusicFile) >= musicDataEnd) ended = 1;
    if (ended) musicMode = 0;
    KeepMusicPlaying();
}

void KELPSys::BufferMusic_Ogg_Sys() {
    if (musicMode != 2 || !OggFile) return;
    ALuint buffer = FreeMusicBuffer();
    if (!buffer) return;

    OggStream* ogg = static_cast<OggStream*>(OggFile);
    int channels = MusicBufferStats[5];
    int capacity = kMusicBlock / channels;   // frames
    int frames = 0;
    int ended = 0;
    int rewound = 0;   // a track that gives nothing even from its start ends
    int holes = 0;
    while (frames < capacity) {
        int linkChannels = channels;
        long got = OggRead(ogg, oggBlock + frames * channels, capacity - frames, channels, &linkChannels);
        if (got > 0) {
            if (linkChannels != channels) {
                // Only an unseekable file hides its later links from the start.
                Debuglog(fstrSys("Ogg Rejected - %s: a link changes the channels", musicPath));
                ended = 1;
                break;
            }
            frames += int(got);
            rewound = 0;
            continue;
        }
        if (got == kOggHole) {
            // Damaged or missing pages: the decoder skips them and goes on.
            // A file that is mostly damage still ends the fill in bounded time.
            if (++holes < kMaxOggHoles) continue;
            break;
        }
        if (got < 0) {
            Debuglog(fstrSys("Ogg Rejected - %s: decoder error %li (%s)", musicPath, got, OggErrorText(int(got))));
            ended = 1;
            break;
        }
        if (musicLoop != 1 || rewound || !OggRewind(ogg)) {
            ended = 1;
            break;
        }
        rewound = 1;
    }
    if (frames > 0) QueueMusic(buffer, oggBlock, frames * channels * 2);
    if (ended) musicMode = 0;
    KeepMusicPlaying();
}

void KELPSys::HandleMusicSys() {
    if (!AudioEnabled) return;
    if (musicPaused) {
        // Held where it is: nothing is queued, and the source stays paused.
        ApplyMusicSettings();
        return;
    }
    if (musicMode == MUSIC_WAITING && (!FileArriving || !FileArriving(musicPath))) {
        char path[sizeof musicPath];
        snprintf(path, sizeof path, "%s", musicPath);
        if (musicWaitMode == 1) PlayMusic_Wav_Sys(path, musicLoop);
        if (musicWaitMode == 2) PlayMusic_Ogg_Sys(path, musicLoop);
    }
    if (musicMode == 1) BufferMusic_Wav_Sys();
    if (musicMode == 2) BufferMusic_Ogg_Sys();
    // Volume changes take effect on every pass, due buffer or not.
    ApplyMusicSettings();
}

void KELPSys::StopMusicSys() {
    musicMode = 0;
    musicNextBuffer = 0;
    musicPaused = 0;
    ReleaseStream();
}

// OpenAL keeps a paused source's place in its queue, and a play takes it up
// from there: the stream goes on with the very next sample.
void KELPSys::PauseMusicSys() {
    if (!AudioEnabled) return;
    musicPaused = 1;
    ALint state = 0;
    alGetSourcei(MusicSource(), AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING) alSourcePause(MusicSource());
    alGetError();
}

void KELPSys::ResumeMusicSys() {
    if (!AudioEnabled || !musicPaused) return;
    musicPaused = 0;
    ALint state = 0;
    alGetSourcei(MusicSource(), AL_SOURCE_STATE, &state);
    if (state == AL_PAUSED) alSourcePlay(MusicSource());
    alGetError();
}

void KELPSys::EndMusicSys() {
    musicMode = 0;
    if (!musicPaused) return;
    // A paused track has nothing to play out: the player chose silence.
    musicPaused = 0;
    if (AudioEnabled) ResetMusicSource();
}

}  // namespace kelp
