// Shared by the audio tests: OpenAL's wave device writing to a file, test
// sounds in a private data root, and readers for what the device wrote.
#pragma once

#include <AL/al.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "game/MyGame.h"

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

inline std::string WaveOut() { return Scratch() + "/device.wav"; }

// OpenAL reads its configuration once, at the first device it opens: this
// runs before that. Every device opened later rewrites the same file.
inline void UseWaveDevice() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string conf = Scratch() + "/alsoft.conf";
    FILE* f = fopen(conf.c_str(), "w");
    fprintf(f, "[wave]\nfile=%s\n", WaveOut().c_str());
    fclose(f);
    setenv("ALSOFT_DRIVERS", "wave", 1);
    setenv("ALSOFT_CONF", conf.c_str(), 1);
}

inline void Put16(FILE* f, unsigned v) { fputc(int(v & 255), f), fputc(int(v >> 8 & 255), f); }
inline void Put32(FILE* f, uint32_t v) { Put16(f, v & 0xFFFF), Put16(f, v >> 16); }

// A PCM WAV file of interleaved 16-bit samples (or of raw bytes for other
// sample sizes, with `bits` written into the header as given).
inline void WriteWav(const std::string& path, int channels, int bits, const std::vector<int16_t>& samples) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    uint32_t bytes = uint32_t(samples.size() * 2);
    fwrite("RIFF", 1, 4, f);
    Put32(f, 36 + bytes);
    fwrite("WAVEfmt ", 1, 8, f);
    Put32(f, 16);
    Put16(f, 1);
    Put16(f, unsigned(channels));
    Put32(f, kRate);
    Put32(f, uint32_t(kRate * channels * bits / 8));
    Put16(f, unsigned(channels * bits / 8));
    Put16(f, unsigned(bits));
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

// What the wave device wrote: float32 stereo, its data chunk running to the
// end of the file.
struct Recording {
    std::vector<float> left, right;
    size_t Frames() const { return left.size(); }
    float Mono(size_t i) const { return left[i] + right[i]; }
};

inline Recording ReadWaveOut() {
    Recording rec;
    FILE* f = fopen(WaveOut().c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (!f) return rec;
    std::vector<unsigned char> b;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    fclose(f);
    auto u32 = [&](size_t p) { return uint32_t(b[p] | b[p + 1] << 8 | b[p + 2] << 16 | uint32_t(b[p + 3]) << 24); };
    auto u16 = [&](size_t p) { return unsigned(b[p] | b[p + 1] << 8); };
    EXPECT_GE(b.size(), 12u);
    if (b.size() < 12 || memcmp(b.data(), "RIFF", 4) != 0) return rec;
    size_t pos = 12;
    unsigned channels = 0, bits = 0;
    while (pos + 8 <= b.size()) {
        uint32_t size = u32(pos + 4);
        if (memcmp(&b[pos], "fmt ", 4) == 0) {
            channels = u16(pos + 10);
            EXPECT_EQ(u32(pos + 12), uint32_t(kRate));
            bits = u16(pos + 22);
        } else if (memcmp(&b[pos], "data", 4) == 0) {
            EXPECT_EQ(channels, 2u);
            EXPECT_EQ(bits, 32u);
            for (size_t p = pos + 8; p + 8 <= b.size(); p += 8) {
                float l, r;
                memcpy(&l, &b[p], 4);
                memcpy(&r, &b[p + 4], 4);
                rec.left.push_back(l);
                rec.right.push_back(r);
            }
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return rec;
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

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The main loop's music top-up, once per 16 ms pass, for `seconds`.
inline void Pump(double seconds) {
    auto start = std::chrono::steady_clock::now();
    while (Seconds(start) < seconds) {
        ThisGame.MusicHandler();
        usleep(16000);
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
