// Shared by the audio tests: an OpenAL loopback device whose output the test
// renders itself, as much as it asks for and whenever it asks, so that what
// is heard never depends on how busy the machine is; test sounds in a
// private data root; and readers for what the device played.
#pragma once

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace audiotest {

const int kRate = 44100;

// One private folder per test process.
inline const std::string& Scratch() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/kelp_audio_XXXXXX";
        const char* made = mkdtemp(tmpl);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

// What the device played: float32 stereo at kRate.
struct Recording {
    std::vector<float> left, right;
    size_t Frames() const { return left.size(); }
    float Mono(size_t i) const { return left[i] + right[i]; }
};

// The loopback device: the program's audio start-up opens it in place of
// the default device, and Render() runs its mixer for a stretch of time.
class Loopback {
public:
    static void Install() {
        static const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT,
                                            ALC_FLOAT_SOFT, ALC_FREQUENCY, kRate, 0};
        AudioOpenDevice = [] {
            auto open = (LPALCLOOPBACKOPENDEVICESOFT)alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT");
            return open ? (void*)open(nullptr) : nullptr;
        };
        AudioContextAttributes = attributes;
        Played() = Recording();
    }

    // Mixes `seconds` of output into the recording.
    static void Render(double seconds) {
        static auto render = (LPALCRENDERSAMPLESSOFT)alcGetProcAddress(nullptr, "alcRenderSamplesSOFT");
        ASSERT_NE(render, nullptr);
        ASSERT_NE(ALdev, nullptr);
        size_t frames = size_t(std::lround(seconds * kRate));
        std::vector<float> buf(frames * 2);
        render((ALCdevice*)ALdev, buf.data(), ALCsizei(frames));
        Recording& rec = Played();
        for (size_t i = 0; i < frames; i++) {
            rec.left.push_back(buf[2 * i]);
            rec.right.push_back(buf[2 * i + 1]);
        }
    }

    // Everything rendered since Install or the last Take.
    static Recording Take() {
        Recording rec = Played();
        Played() = Recording();
        return rec;
    }

private:
    static Recording& Played() {
        static Recording rec;
        return rec;
    }
};

inline void Put16(FILE* f, unsigned v) { fputc(int(v & 255), f), fputc(int(v >> 8 & 255), f); }
inline void Put32(FILE* f, uint32_t v) { Put16(f, v & 0xFFFF), Put16(f, v >> 16); }

// A PCM WAV file of interleaved 16-bit samples (or of raw bytes for other
// sample sizes, with `bits` written into the header as given). Extensible:
// in a WAVE_FORMAT_EXTENSIBLE header, as sox and many editors write, with the
// PCM sub-format.
inline void WriteWav(const std::string& path, int channels, int bits, const std::vector<int16_t>& samples,
                     bool extensible = false) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    uint32_t bytes = uint32_t(samples.size() * 2);
    fwrite("RIFF", 1, 4, f);
    Put32(f, (extensible ? 60 : 36) + bytes);
    fwrite("WAVEfmt ", 1, 8, f);
    Put32(f, extensible ? 40 : 16);
    Put16(f, extensible ? 0xFFFE : 1);
    Put16(f, unsigned(channels));
    Put32(f, kRate);
    Put32(f, uint32_t(kRate * channels * bits / 8));
    Put16(f, unsigned(channels * bits / 8));
    Put16(f, unsigned(bits));
    if (extensible) {
        Put16(f, 22);                       // the extension's size
        Put16(f, unsigned(bits));           // valid bits
        Put32(f, channels == 1 ? 4 : 3);    // front centre, or front left and right
        fwrite("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 1, 16, f);
    }
    fwrite("data", 1, 4, f);
    Put32(f, bytes);
    for (int16_t s : samples) Put16(f, uint16_t(s));
    fclose(f);
}

// `frames` of a sine at `hz`, the same in every channel.
inline std::vector<int16_t> Tone(double hz, int frames, int channels, double level = 0.4) {
    std::vector<int16_t> s;
    for (int i = 0; i < frames; i++) {
        int16_t v = int16_t(std::lround(32767 * level * std::sin(2 * M_PI * hz * i / kRate)));
        for (int c = 0; c < channels; c++) s.push_back(v);
    }
    return s;
}


// A stretch of sound: [begin, end) in frames.
struct Burst {
    size_t begin, end;
    size_t Length() const { return end - begin; }
};

// Stretches above `threshold`, joined across quiet runs shorter than `gap`
// frames (a sine passes through zero twice a cycle).
inline std::vector<Burst> Bursts(const Recording& rec, float threshold = 1e-3f, size_t gap = 400) {
    std::vector<Burst> out;
    for (size_t i = 0; i < rec.Frames(); i++) {
        if (std::fabs(rec.left[i]) < threshold && std::fabs(rec.right[i]) < threshold) continue;
        if (!out.empty() && i - out.back().end < gap)
            out.back().end = i + 1;
        else
            out.push_back({i, i + 1});
    }
    return out;
}

inline double Rms(const std::vector<float>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; i++) sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// Frames between upward zero crossings of the mono mix over [from, to).
inline std::vector<size_t> CrossingGaps(const Recording& rec, size_t from, size_t to) {
    std::vector<size_t> gaps;
    size_t last = 0;
    for (size_t i = from + 1; i < to; i++) {
        if (rec.Mono(i - 1) < 0 && rec.Mono(i) >= 0) {
            if (last) gaps.push_back(i - last);
            last = i;
        }
    }
    return gaps;
}

// Time going by with nothing topping up the music: the device plays on.
inline void Play(double seconds) { Loopback::Render(seconds); }

// The main loop's music top-up, once per 16 ms pass, for `seconds` of play.
inline void Pump(double seconds) {
    for (double t = 0; t < seconds; t += 0.016) {
        ThisGame.MusicHandler();
        Loopback::Render(0.016);
    }
}

inline ALint SourceInt(int source, ALenum what) {
    ALint v = 0;
    alGetSourcei(ALsource[source], what, &v);
    return v;
}

inline float SourceFloat(int source, ALenum what) {
    ALfloat v = 0;
    alGetSourcef(ALsource[source], what, &v);
    return v;
}

}  // namespace audiotest
