// Ogg Vorbis music through the stream itself: the demo's track decodes to
// the samples an independent decoder gives, a looping track starts again at
// its first sample, and damaged files (the fuzz corpus with its crash cases)
// are refused with a reason or played without harm.
//
// No device is needed: the samples are taken on their way to OpenAL.
#include <gtest/gtest.h>

#include <AL/al.h>
#include <AL/alc.h>
#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

#include "sys/KELPSys.h"

using namespace kelp;

namespace {

std::vector<int16_t>* captured = nullptr;

}  // namespace

// Everything the program uploads passes here; the stream's uploads are kept
// while a test asks for them, and every call goes on to OpenAL.
extern "C" void alBufferData(ALuint buffer, ALenum format, const ALvoid* data, ALsizei size, ALsizei freq) {
    if (captured && data && size > 0) {
        const int16_t* s = static_cast<const int16_t*>(data);
        captured->insert(captured->end(), s, s + size / 2);
    }
    using Upload = void (*)(ALuint, ALenum, const ALvoid*, ALsizei, ALsizei);
    static Upload real = reinterpret_cast<Upload>(dlsym(RTLD_NEXT, "alBufferData"));
    if (real) real(buffer, format, data, size, freq);
}

namespace {

const std::string kTrack = std::string(KELP_DATA_DIR) + "/audio/Internet.ogg";
const std::string kCorpus = std::string(KELP_FUZZ_CORPUS) + "/fuzz_ogg";

// The stream with the engine marked on and stand-in buffer names: with no
// context current every AL call does nothing, but the decoding is real.
class OggStream : public testing::Test {
protected:
    std::vector<int16_t> samples;
    std::string log;

    void SetUp() override {
        ASSERT_EQ(alcGetCurrentContext(), nullptr);
        AudioEnabled = 1;
        for (int i = 0; i < 4; i++) MusicBuffer[i] = uint32_t(i + 1);
    }
    void TearDown() override {
        captured = nullptr;
        ASys.StopMusicSys();
        AudioEnabled = 0;
        memset(MusicBuffer, 0, sizeof MusicBuffer);
    }

    // Starts the file and fills until the track ends, `want` samples are
    // in, or `fills` fills have run. Returns whether the track started.
    bool Play(const std::string& path, int loop, size_t want, int fills) {
        samples.clear();
        captured = &samples;
        testing::internal::CaptureStdout();
        ASys.PlayMusic_Ogg_Sys(path.c_str(), loop);
        bool started = OggFile != nullptr;
        for (int i = 0; i < fills && ASys.musicMode == 2 && samples.size() < want; i++) ASys.BufferMusic_Ogg_Sys();
        log = testing::internal::GetCapturedStdout();
        captured = nullptr;
        return started;
    }
};

struct Decoded {
    int channels = 0, rate = 0, frames = 0;
    std::vector<int16_t> pcm;
};

Decoded DecodeWithStb(const std::string& path) {
    Decoded d;
    short* pcm = nullptr;
    d.frames = stb_vorbis_decode_filename(path.c_str(), &d.channels, &d.rate, &pcm);
    if (d.frames > 0) d.pcm.assign(pcm, pcm + size_t(d.frames) * size_t(d.channels));
    free(pcm);
    return d;
}

TEST_F(OggStream, TheTrackDecodesToTheSamplesOfAnIndependentDecoder) {
    // The demo's track, and a recording made elsewhere with another encoder.
    for (const std::string& path : {kTrack, kCorpus + "/bell.oga"}) {
        SCOPED_TRACE(path);
        Decoded ref = DecodeWithStb(path);
        ASSERT_GT(ref.frames, 0);
        ASSERT_TRUE(Play(path, 0, SIZE_MAX, 100000)) << log;
        EXPECT_EQ(ASys.musicMode, 0) << "the track did not end";
        EXPECT_EQ(MusicBufferStats[5], ref.channels);
        EXPECT_EQ(MusicBufferStats[4], ref.rate);
        ASSERT_EQ(samples.size(), ref.pcm.size());
        // The two decoders round a few samples differently, by one step of
        // 16 bits at most: nothing anyone can hear.
        size_t differ = 0;
        int worst = 0;
        for (size_t i = 0; i < samples.size(); i++) {
            int d = std::abs(int(samples[i]) - int(ref.pcm[i]));
            differ += d != 0;
            worst = std::max(worst, d);
        }
        EXPECT_LE(worst, 1);
        EXPECT_LE(differ, samples.size() / 1000);
    }
}

TEST_F(OggStream, ALoopingTrackStartsAgainAtItsFirstSample) {
    Decoded ref = DecodeWithStb(kTrack);
    ASSERT_GT(ref.frames, 0);
    const size_t length = ref.pcm.size();
    const size_t after = 4 * 16384;   // what follows the loop point
    ASSERT_TRUE(Play(kTrack, 1, length + after, 100000)) << log;
    EXPECT_EQ(ASys.musicMode, 2);
    ASSERT_GE(samples.size(), length + after);
    EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + long(after), samples.begin() + long(length)));
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> names;
    if (DIR* d = opendir(kCorpus.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(OggStream, DamagedFilesAreRefusedOrPlayedWithoutHarm) {
    std::vector<std::string> names = CorpusFiles();
    int crashCases = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = kCorpus + "/" + name;
        bool started = Play(path, 0, SIZE_MAX, 2000);
        if (name.rfind("crash_", 0) == 0) {
            // Files that once crashed the program or held it for seconds.
            crashCases++;
            EXPECT_FALSE(started);
        }
        if (!started) {
            EXPECT_NE(log.find("Ogg Rejected - " + path + ": "), std::string::npos) << log;
            EXPECT_EQ(MusicFile, nullptr);
        } else {
            EXPECT_TRUE(MusicBufferStats[5] == 1 || MusicBufferStats[5] == 2);
            EXPECT_EQ(samples.size() % size_t(MusicBufferStats[5]), 0u);
        }
        ASys.StopMusicSys();
    }
    EXPECT_GE(names.size(), 8u);
    EXPECT_GE(crashCases, 3);
}

}  // namespace
