// The demo's generated sounds: the formats the loaders take, sensible
// lengths and levels, a music loop without a seam, and the same bytes from
// every run of the generator.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

#include "sys/KELPSys.h"

using namespace kelp;

namespace {

const std::string kAudio = std::string(KELP_DATA_DIR) + "/audio";
const char* const kFiles[] = {"95.wav", "01.wav", "99.wav", "98.wav", "Internet.ogg"};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(AudioAssets, TheGeneratorIsQuickAndRepeatsItself) {
    char tmpl[] = "/tmp/kelp_gen_audio_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    int status = system((std::string(KELP_GEN_AUDIO) + " " + dir).c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Processor time, which a busy machine does not inflate.
    struct rusage used;
    getrusage(RUSAGE_CHILDREN, &used);
    double seconds = double(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                     double(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
    EXPECT_LT(seconds, 15);
    for (const char* name : kFiles) {
        SCOPED_TRACE(name);
        std::string fresh = Slurp(dir + "/" + name);
        EXPECT_GT(fresh.size(), 1000u);
        EXPECT_TRUE(fresh == Slurp(kAudio + "/" + name));
        remove((dir + "/" + name).c_str());
    }
    rmdir(dir.c_str());
}

TEST(AudioAssets, EffectsAreShortCleanPcm) {
    struct Case {
        const char* name;
        double minSeconds, maxSeconds;
    };
    const Case cases[] = {
        {"95.wav", 0.8, 1.5},   // the jingle
        {"01.wav", 0.05, 0.5},
        {"99.wav", 0.03, 0.2},  // heard on every menu step
        {"98.wav", 0.05, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = kAudio + "/" + c.name;
        FILE* f = fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        WavInfo info;
        ASSERT_EQ(ParseWAV(f, path.c_str(), &info), 1);
        EXPECT_EQ(info.bits, 16);
        EXPECT_EQ(info.rate, 44100);
        EXPECT_EQ(info.channels, 1);
        std::vector<int16_t> s(size_t(info.dataSize / 2));
        fseek(f, info.dataOffset, SEEK_SET);
        ASSERT_EQ(fread(s.data(), 2, s.size(), f), s.size());
        fclose(f);
        double seconds = double(s.size()) / 44100;
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LE(seconds, c.maxSeconds);
        int peak = 0;
        for (int16_t v : s) peak = std::max(peak, std::abs(int(v)));
        EXPECT_GT(peak, 32768 / 5) << "audible";
        EXPECT_LT(peak, 32767) << "not clipped";
        // Starting and ending at rest: no click at either end.
        EXPECT_LT(std::abs(int(s.front())), 300);
        EXPECT_LT(std::abs(int(s.back())), 300);
    }
}

TEST(AudioAssets, TheMusicLoopsWithoutASeam) {
    std::string path = kAudio + "/Internet.ogg";
    int channels = 0, rate = 0;
    short* pcm = nullptr;
    int frames = stb_vorbis_decode_filename(path.c_str(), &channels, &rate, &pcm);
    ASSERT_GT(frames, 0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    double seconds = double(frames) / rate;
    EXPECT_GE(seconds, 30);
    EXPECT_LE(seconds, 60);

    auto at = [&](long i, int c) { return double(pcm[((i % frames + frames) % frames) * channels + c]) / 32768; };
    for (int c = 0; c < channels; c++) {
        SCOPED_TRACE(c);
        // The step from the last sample to the first is no bigger than the
        // steps around it: the waveform runs on across the loop point.
        double seam = std::fabs(at(0, c) - at(-1, c));
        double around = 0;
        for (long i = -64; i <= 64; i++)
            if (i != 0) around = std::max(around, std::fabs(at(i, c) - at(i - 1, c)));
        EXPECT_LE(seam, 1.5 * around);
        // No fade to silence at either end: the sound carries across.
        double head = 0, tail = 0;
        for (long i = 0; i < 4410; i++) {
            head += at(i, c) * at(i, c);
            tail += at(-1 - i, c) * at(-1 - i, c);
        }
        head = std::sqrt(head / 4410);
        tail = std::sqrt(tail / 4410);
        EXPECT_GT(head, 0.02);
        EXPECT_GT(tail, 0.02);
    }
    free(pcm);
}

}  // namespace
