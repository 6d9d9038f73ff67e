// Effects and music through an OpenAL device: what the program asks for is
// checked in what the device actually played.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "audio_fixture.h"
#include "effects.h"
#include "sys/KELPSys.h"

using namespace kelp;

using namespace audiotest;

namespace {

std::string AudioDir(const std::string& root) { return root + "/Data/550/audio"; }
std::string Root() { return Scratch() + "/root"; }

void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); i++)
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void WriteOggTone(const std::string& path, int frames) {
    gen::Track t;
    std::vector<int16_t> s = Tone(440, frames, 1);
    for (int16_t v : s) {
        t.left.push_back(v / 32768.0f);
        t.right.push_back(v / 32768.0f);
    }
    ASSERT_TRUE(gen::WriteOgg(path, t));
}

std::string Captured(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

bool Has(const std::string& log, const std::string& line) { return log.find("> " + line + "\n") != std::string::npos; }

class AudioDevice : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string dir = AudioDir(Root());
        MakeDirs(dir + "/sfx");
        MakeDirs(dir + "/music");
        WriteWav(dir + "/07.wav", 1, 16, Tone(440, 8820, 1));    // 0.2 s, 17640 bytes
        WriteWav(dir + "/long.wav", 1, 16, Tone(300, 44100, 1));  // 1 s, 88200 bytes
        WriteWav(dir + "/silent.wav", 1, 16, std::vector<int16_t>(441, 0));
        WriteWav(dir + "/sfx/hit.wav", 1, 16, Tone(600, 500, 1));
        WriteWav(dir + "/hit.WAV", 1, 16, Tone(600, 600, 1));
        WriteWav(dir + "/hit.wav", 1, 16, Tone(600, 700, 1));
        WriteWav(dir + "/deep24.wav", 1, 24, std::vector<int16_t>(6, 0));
        // As editors leave them: metadata after the samples, cut short.
        WriteWav(dir + "/tagged.wav", 1, 16, Tone(600, 800, 1));
        FILE* tagged = fopen((dir + "/tagged.wav").c_str(), "ab");
        ASSERT_NE(tagged, nullptr);
        fwrite("LIST", 1, 4, tagged);
        Put32(tagged, 100);
        fwrite("INFOISFT", 1, 8, tagged);
        fclose(tagged);
        // Music: 440 Hz fits 220 whole cycles into 0.5 s, so a seamless loop
        // keeps every cycle 100.2 frames long.
        WriteWav(dir + "/tone.wav", 2, 16, Tone(440, 22050, 2));
        WriteWav(dir + "/music/tone.wav", 2, 16, Tone(440, 22050, 2));
        WriteWav(dir + "/short.wav", 2, 16, Tone(440, 13230, 2));
        WriteOggTone(dir + "/tone.OGG", 22050);
        // Stereo with different content on each side: 440 Hz left, 660 Hz right.
        std::vector<int16_t> l = Tone(440, 13230, 1), r = Tone(660, 13230, 1), lr;
        for (size_t i = 0; i < l.size(); i++) lr.push_back(l[i]), lr.push_back(r[i]);
        WriteWav(dir + "/stereo_fx.wav", 2, 16, lr);
        WriteWav(dir + "/mono_fx.wav", 1, 16, Tone(440, 13230, 1));
        WriteOggTone(dir + "/short.ogg", 13230);
        WriteWav(dir + "/notogg.ogg", 2, 16, Tone(440, 1000, 2));
        WriteWav(dir + "/extensible.wav", 1, 16, Tone(440, 22050, 1), true);
        // A rising ramp that wraps every kRampFrames: each sample's value
        // tells where in the track it is.
        std::vector<int16_t> ramp;
        for (int i = 0; i < 2 * kRampFrames; i++) {
            int16_t v = int16_t(std::lround(32767 * (0.8 * (i % kRampFrames) / kRampFrames - 0.4)));
            ramp.push_back(v), ramp.push_back(v);
        }
        WriteWav(dir + "/ramp.wav", 2, 16, ramp);
    }
    static const int kRampFrames = 22050;

    void SetUp() override {
        Loopback::Install();
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", Root().c_str());
        ThisGame.gameNumber = 550;
        ThisGame.sfxVolume = 1;
        ThisGame.musicVolume = 1;
        ASys.AudioStart();
        ASSERT_EQ(AudioEnabled, 1);
    }

    void TearDown() override {
        if (ALdev) ASys.AudioClose();
    }

    // What the device has played so far; the device is closed.
    Recording Finish() {
        ASys.AudioClose();
        return Loopback::Take();
    }

    std::string Path(const std::string& name) { return AudioDir(Root()) + "/" + name; }
};

// ---- Effects ----------------------------------------------------------------------

TEST_F(AudioDevice, LoadSFXFindsFilesByNumberAndName) {
    struct Case {
        std::function<void()> load;
        int slot;
        std::string firstLine;
        std::string outcome;   // the line that must follow
        int loaded;
        std::string detail = "";   // a further line, if any
    };
    const Case cases[] = {
        {[] { ThisGame.LoadSFX(7); }, 7, "Load SFX   : 7", "     Load 17640 bytes", 1},
        {[] { ThisGame.LoadSFX(3, "sfx\\hit"); }, 3, "Load Wave sfx\\hit to 3", "     Load 1000 bytes", 1},
        {[] { ThisGame.LoadSFX(4, "hit.WAV"); }, 4, "Load Wave hit.WAV to 4", "     Load 1200 bytes", 1},
        {[] { ThisGame.LoadSFX(8, "hit"); }, 8, "Load Wave hit to 8", "     Load 1400 bytes", 1},
        {[] { ThisGame.LoadSFX(11, "tagged"); }, 11, "Load Wave tagged to 11", "     Load 1600 bytes", 1},
        {[] { ThisGame.LoadSFX(9, "missing"); }, 9, "Load Wave missing to 9", "Error Opening Wave", 0,
         "    " + Path("missing.wav") + " : No such file or directory"},
        {[] { ThisGame.LoadSFX(12, "extensible"); }, 12, "Load Wave extensible to 12", "     Load 44100 bytes", 1},
        {[] { ThisGame.LoadSFX(10, "deep24"); }, 10, "Load Wave deep24 to 10",
         "Wave Rejected - " + Path("deep24.wav") + ": 24-bit samples are not supported", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstLine);
        std::string log = Captured(c.load);
        EXPECT_TRUE(Has(log, c.firstLine)) << log;
        EXPECT_TRUE(Has(log, c.outcome)) << log;
        if (!c.detail.empty()) {
            EXPECT_TRUE(Has(log, c.detail)) << log;
        }
        EXPECT_EQ(ALbufferActive[c.slot], c.loaded);
    }
}

// A slot out of range is said once per slot, loading and playing alike,
// since a game may repeat the call on every frame.
TEST_F(AudioDevice, SoundSlotsOutOfRangeAreLoggedOncePerSlot) {
    const std::string load105 = "Sound slot 105 is outside 0..104: " + Path("hit.wav") + " is not loaded";
    const std::string playMinus1 = "Sound slot -1 is outside 0..104: nothing plays";
    EXPECT_TRUE(Has(Captured([] { ThisGame.LoadSFX(105, "hit"); }), load105));
    EXPECT_TRUE(Has(Captured([] { ThisGame.PlaySFX(-1); }), playMinus1));
    std::string again = Captured([] {
        ThisGame.LoadSFX(105, "hit");
        ThisGame.PlaySFX(-1);
        ThisGame.PlaySFX(-1, 1.0f, 1.0f, 0, 1);
    });
    EXPECT_FALSE(Has(again, load105)) << again;
    EXPECT_FALSE(Has(again, playMinus1)) << again;
    EXPECT_TRUE(Has(Captured([] { ThisGame.PlaySFX(105); }), "Sound slot 105 is outside 0..104: nothing plays"));
    // A sound slot in range that was never loaded plays nothing, quietly.
    EXPECT_EQ("", Captured([] { ThisGame.PlaySFX(50); }));
}

// The volumes start at full: a game that never sets one is heard.
TEST_F(AudioDevice, AGameThatNeverSetsAVolumeIsHeard) {
    std::unique_ptr<KELPCore> game(new KELPCore());
    snprintf(game->dataRoot, sizeof game->dataRoot, "%s", Root().c_str());
    game->gameNumber = 550;
    EXPECT_EQ(1.0f, game->sfxVolume);
    EXPECT_EQ(1.0f, game->musicVolume);

    Captured([&] { game->LoadSFX(7); });
    game->PlaySFX(7, 1.0f);
    EXPECT_FLOAT_EQ(1, SourceFloat(ALChannel, AL_GAIN));
    Play(0.2);
    Recording effect = Loopback::Take();
    EXPECT_GT(Rms(effect.left, 0, effect.Frames()), 0.05);

    // Full from the first buffer on, before the loop's first top-up.
    Captured([&] { game->PlayMusic("tone.wav"); });
    EXPECT_FLOAT_EQ(1, SourceFloat(31, AL_GAIN));
    for (int i = 0; i < 30; i++) {
        game->MusicHandler();
        Loopback::Render(0.016);
    }
    Recording music = Loopback::Take();
    EXPECT_GT(Rms(music.left, 0, music.Frames()), 0.05);
}

TEST_F(AudioDevice, EffectsPanLeftAndRightAndPitchChangesLength) {
    ThisGame.LoadSFX(7);
    const float pans[3] = {-1, 1, 0};
    for (float pan : pans) {
        ThisGame.PlaySFX(7, 1.0f, 1.0f, pan);
        Play(0.33);
    }
    ThisGame.PlaySFX(7, 2.0f);
    Play(0.25);
    Recording rec = Finish();

    std::vector<Burst> b = Bursts(rec);
    ASSERT_EQ(b.size(), 4u);
    double l0 = Rms(rec.left, b[0].begin, b[0].end), r0 = Rms(rec.right, b[0].begin, b[0].end);
    double l1 = Rms(rec.left, b[1].begin, b[1].end), r1 = Rms(rec.right, b[1].begin, b[1].end);
    double l2 = Rms(rec.left, b[2].begin, b[2].end), r2 = Rms(rec.right, b[2].begin, b[2].end);
    EXPECT_GT(l0, 0.05);
    EXPECT_GT(l0, 2 * r0) << "pan -1 is heard on the left";
    EXPECT_GT(r1, 2 * l1) << "pan +1 is heard on the right";
    EXPECT_NEAR(l2, r2, 0.05 * l2) << "pan 0 is centred";
    // 8820 frames at pitch 1; half as many at pitch 2, at twice the frequency.
    EXPECT_NEAR(double(b[2].Length()), 8820, 60);
    EXPECT_NEAR(double(b[3].Length()), 4410, 60);
    std::vector<size_t> gaps = CrossingGaps(rec, b[3].begin + 200, b[3].end - 200);
    ASSERT_FALSE(gaps.empty());
    for (size_t g : gaps) EXPECT_NEAR(double(g), 44100.0 / 880, 2);
}

// Pan is heard on stereo sounds as on mono ones, effects and music alike:
// at -1 the left channel carries at least four times the right's energy,
// at +1 the reverse, and at 0 the two are within 10 %.
TEST_F(AudioDevice, PanIsHeardOnMonoAndStereoEffectsAndMusic) {
    struct Sound {
        const char* what;
        std::function<void(float)> play;
        size_t skip;   // frames before the pan surely applies
    };
    const Sound sounds[] = {
        {"mono effect", [](float pan) {
             ThisGame.LoadSFX(20, "mono_fx");
             ThisGame.PlaySFX(20, 1.0f, 1.0f, pan);
             Play(0.4);
         }, 0},
        {"stereo effect", [](float pan) {
             ThisGame.LoadSFX(21, "stereo_fx");
             ThisGame.PlaySFX(21, 1.0f, 1.0f, pan);
             Play(0.4);
         }, 0},
        // A track starts centred; its pan is set once it plays.
        {"stereo WAV music", [](float pan) {
             ThisGame.PlayMusic("tone.wav");
             ThisGame.MusicPan(pan);
             Pump(0.4);
         }, 4410},
        {"stereo Ogg music", [](float pan) {
             ThisGame.PlayMusic("tone.OGG");
             ThisGame.MusicPan(pan);
             Pump(0.4);
         }, 4410},
    };
    for (const Sound& sound : sounds) {
        for (float pan : {-1.0f, 1.0f, 0.0f}) {
            SCOPED_TRACE(testing::Message() << sound.what << " at pan " << pan);
            if (!ALdev) ASys.AudioStart();
            sound.play(pan);
            Recording rec = Finish();
            std::vector<Burst> b = Bursts(rec);
            ASSERT_FALSE(b.empty());
            size_t from = b[0].begin + sound.skip, to = b.back().end;
            ASSERT_GT(to, from + 4410);
            double l = Rms(rec.left, from, to), r = Rms(rec.right, from, to);
            double el = l * l, er = r * r;
            EXPECT_GT(el + er, 1e-4) << "heard at all";
            if (pan < 0) {
                EXPECT_GE(el, 4 * er) << "left " << el << " right " << er;
            } else if (pan > 0) {
                EXPECT_GE(er, 4 * el) << "left " << el << " right " << er;
            } else {
                EXPECT_LE(std::fabs(el - er), 0.1 * std::max(el, er)) << "left " << el << " right " << er;
            }
        }
    }
}

TEST_F(AudioDevice, PlayWAVClampsItsSettings) {
    ThisGame.LoadSFX(7);
    struct Case {
        float pitch, gain, pan;
        int loop;
        float alPitch, alGain, alX;
        int alLoop;
    };
    const Case cases[] = {
        {0, 0.5f, 0, 0, 0.25f, 0.5f, 0, 0},
        {40, 3, 2, 1, 16, 1, -1, 1},
        {1.5f, -1, -7, 2, 1.5f, 0, 1, 0},
    };
    for (const Case& c : cases) {
        ASys.PlayWAV(7, c.pitch, c.gain, c.pan, c.loop);
        int s = ALChannel;
        EXPECT_FLOAT_EQ(SourceFloat(s, AL_PITCH), c.alPitch);
        EXPECT_FLOAT_EQ(SourceFloat(s, AL_GAIN), c.alGain);
        ALfloat x = 9, y = 9, z = 9;
        alGetSource3f(ALsource[s], AL_POSITION, &x, &y, &z);
        EXPECT_FLOAT_EQ(x, c.alX);
        EXPECT_EQ(SourceInt(s, AL_LOOPING), c.alLoop);
    }
    // The effect volume scales the per-call volume.
    ThisGame.sfxVolume = 0.5f;
    ThisGame.PlaySFX(7, 1.0f, 0.5f);
    EXPECT_FLOAT_EQ(SourceFloat(ALChannel, AL_GAIN), 0.25f);
    // A random pitch between 0.8 and 1.2 when none is given.
    ThisGame.PlaySFX(7);
    EXPECT_GE(SourceFloat(ALChannel, AL_PITCH), 0.8f);
    EXPECT_LE(SourceFloat(ALChannel, AL_PITCH), 1.2f);
    // A slot that holds nothing plays nothing and takes no source.
    int before = ALChannel;
    ThisGame.PlaySFX(60, 1.0f);
    EXPECT_EQ(ALChannel, before);
}

// Infinities are clamped like other values out of range; a NaN in a
// sound call has no place in any range: the call does nothing, said once.
TEST_F(AudioDevice, SoundCallsClampInfinitiesAndRefuseNaNOnce) {
    ThisGame.LoadSFX(7);
    for (const char* call : {"PlaySFX", "MusicVolume", "MusicPitch", "MusicPan", "musicVolume"})
        KELPSys::ForgetLogged(call);
    ThisGame.PlaySFX(7, INFINITY, INFINITY, -INFINITY);
    EXPECT_FLOAT_EQ(SourceFloat(ALChannel, AL_PITCH), 16);
    EXPECT_FLOAT_EQ(SourceFloat(ALChannel, AL_GAIN), 1);
    ALfloat x = 9, y = 9, z = 9;
    alGetSource3f(ALsource[ALChannel], AL_POSITION, &x, &y, &z);
    EXPECT_FLOAT_EQ(x, 1);   // pan -1: heard on the left

    const int before = ALChannel;
    std::string log = Captured([&] {
        ThisGame.PlaySFX(7, NAN);
        ThisGame.PlaySFX(7, 1, NAN, 0);
        ThisGame.sfxVolume = NAN;
        ThisGame.PlaySFX(7);
        ThisGame.sfxVolume = 1;
    });
    EXPECT_EQ(ALChannel, before) << "nothing played";
    EXPECT_TRUE(Has(log, "PlaySFX: an argument is NaN; nothing played (said once)")) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

    ThisGame.PlayMusic("tone.wav");
    ThisGame.MusicVolume(0.5f);
    ThisGame.MusicPitch(2);
    ThisGame.MusicPan(0.25f);
    ThisGame.musicVolume = 0.8f;
    ThisGame.MusicHandler();
    log = Captured([&] {
        ThisGame.MusicVolume(NAN);
        ThisGame.MusicPitch(NAN);
        ThisGame.MusicPan(NAN);
        ThisGame.musicVolume = NAN;
        ThisGame.MusicHandler();
        ThisGame.MusicHandler();
    });
    ThisGame.musicVolume = 1;
    EXPECT_FLOAT_EQ(ASys.trackVolume, 0.5f);
    EXPECT_FLOAT_EQ(ASys.trackPitch, 2);
    EXPECT_FLOAT_EQ(ASys.trackPan, 0.25f);
    EXPECT_FLOAT_EQ(SourceFloat(31, AL_GAIN), 0.4f) << "the last volume heard";
    for (const char* line : {"MusicVolume: an argument is NaN; the volume is kept (said once)",
                             "MusicPitch: an argument is NaN; the pitch is kept (said once)",
                             "MusicPan: an argument is NaN; the pan is kept (said once)",
                             "musicVolume: an argument is NaN; the last music volume is kept (said once)"})
        EXPECT_TRUE(Has(log, line)) << line << "\n" << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;

    ThisGame.MusicVolume(INFINITY);
    ThisGame.MusicPitch(-INFINITY);
    ThisGame.MusicPan(-INFINITY);
    ThisGame.musicVolume = INFINITY;
    ThisGame.MusicHandler();
    ThisGame.musicVolume = 1;
    EXPECT_FLOAT_EQ(SourceFloat(31, AL_GAIN), 1);
    EXPECT_FLOAT_EQ(SourceFloat(31, AL_PITCH), 0.25f);
    EXPECT_FLOAT_EQ(ASys.trackPan, -1);
}

TEST_F(AudioDevice, The32ndPlayCutsTheFirst) {
    ThisGame.LoadSFX(5, "long");
    ThisGame.LoadSFX(6, "silent");
    ThisGame.PlaySFX(5, 1.0f);
    int first = ALChannel;
    Play(0.2);
    for (int i = 0; i < 30; i++) {
        ThisGame.PlaySFX(6, 1.0f);
        EXPECT_NE(ALChannel, first);
    }
    EXPECT_EQ(SourceInt(first, AL_SOURCE_STATE), AL_PLAYING);
    ThisGame.PlaySFX(6, 1.0f);
    EXPECT_EQ(ALChannel, first);
    EXPECT_EQ(ALsourcebuffer[first], 6);
    EXPECT_EQ(SourceInt(first, AL_BUFFER), ALint(ALbuffer[6]));
    Play(0.3);
    Recording rec = Finish();

    // The one-second tone stops about 0.2 s in, when its source is taken.
    std::vector<Burst> b = Bursts(rec);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_GT(b[0].Length(), size_t(0.1 * kRate));
    EXPECT_LT(b[0].Length(), size_t(0.5 * kRate));
}

TEST_F(AudioDevice, ReloadingAPlayingSlotStopsItsSources) {
    ThisGame.LoadSFX(5, "long");
    ThisGame.LoadSFX(6, "long");
    ThisGame.PlaySFX(5, 1.0f);
    int a = ALChannel;
    ThisGame.PlaySFX(6, 1.0f);
    int other = ALChannel;
    ThisGame.PlaySFX(5, 1.0f);
    int b = ALChannel;

    std::string log = Captured([] { ThisGame.LoadSFX(5, "long"); });
    size_t freed = 0;
    for (size_t at = log.find("Freeing Buffer"); at != std::string::npos; at = log.find("Freeing Buffer", at + 1)) freed++;
    EXPECT_EQ(freed, 2u) << log;
    EXPECT_TRUE(Has(log, "Freeing Buffer " + std::to_string(a))) << log;
    EXPECT_TRUE(Has(log, "Freeing Buffer " + std::to_string(b))) << log;
    EXPECT_FALSE(Has(log, "Freeing Buffer " + std::to_string(other))) << log;
    EXPECT_TRUE(Has(log, "     Load 88200 bytes")) << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
    EXPECT_NE(SourceInt(a, AL_SOURCE_STATE), AL_PLAYING);
    EXPECT_NE(SourceInt(b, AL_SOURCE_STATE), AL_PLAYING);
    EXPECT_EQ(SourceInt(other, AL_SOURCE_STATE), AL_PLAYING);
    EXPECT_EQ(ALsourcebuffer[a], -1);
    EXPECT_EQ(ALsourcebuffer[b], -1);

    // The reloaded slot plays again.
    ThisGame.PlaySFX(5, 1.0f);
    EXPECT_EQ(SourceInt(ALChannel, AL_SOURCE_STATE), AL_PLAYING);
}

// ---- Music ------------------------------------------------------------------------

struct Stream {
    const char* name;
    int mode;
    double blockSeconds;   // what one fill holds
};
const Stream kStreams[] = {
    {"tone.wav", 1, 16384.0 / 4 / kRate},
    {"tone.OGG", 2, 8192.0 / kRate},
};

TEST_F(AudioDevice, LoopingMusicStreamsWithoutGaps) {
    for (const Stream& s : kStreams) {
        SCOPED_TRACE(s.name);
        if (!ALdev) ASys.AudioStart();
        const double seconds = 1.7;   // more than three loops of 0.5 s
        ThisGame.PlayMusic(s.name);
        ASSERT_EQ(ASys.musicMode, s.mode);
        Pump(seconds);
        EXPECT_EQ(ASys.musicMode, s.mode);
        // One fill per played block, the queue four ahead; the count starts at -3.
        double played = seconds / s.blockSeconds;
        EXPECT_GE(MusicBufferTick, played - 3);
        EXPECT_LE(MusicBufferTick, played + 3);
        Recording rec = Finish();

        std::vector<Burst> b = Bursts(rec);
        ASSERT_EQ(b.size(), 1u) << "a silent hole splits the music";
        size_t from = b[0].begin + 1000, to = b[0].end - 1000;
        ASSERT_GT(to - from, size_t(1.4 * kRate));
        // Every cycle of the tone is whole: no hole, no header played as
        // sound, no block lost at the loop point.
        std::vector<size_t> gaps = CrossingGaps(rec, from, to);
        EXPECT_GT(gaps.size(), size_t(1.4 * 440));
        size_t bad = 0;
        for (size_t g : gaps) bad += g < 98 || g > 103;
        EXPECT_EQ(bad, 0u);
        double level = Rms(rec.left, from, to);
        for (size_t w = from; w + 441 <= to; w += 441) {
            double r = Rms(rec.left, w, w + 441);
            if (r < 0.8 * level || r > 1.2 * level) {
                ADD_FAILURE() << "level " << r << " against " << level << " at frame " << w;
                break;
            }
        }
    }
}

TEST_F(AudioDevice, MusicThatDoesNotLoopEndsWithItsLastSample) {
    const char* names[2] = {"short.wav", "short.ogg"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        if (!ALdev) ASys.AudioStart();
        ThisGame.PlayMusic(name, 0);
        EXPECT_GT(ASys.musicMode, 0);
        // Up to two seconds of play.
        for (int pass = 0; ASys.musicMode != 0 && pass < 125; pass++) Pump(0.016);
        EXPECT_EQ(ASys.musicMode, 0);
        for (int pass = 0; SourceInt(31, AL_SOURCE_STATE) == AL_PLAYING && pass < 125; pass++) Pump(0.016);
        EXPECT_NE(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
        Play(0.1);
        Recording rec = Finish();
        // 0.3 s: 13230 frames, the short last block included.
        std::vector<Burst> b = Bursts(rec);
        ASSERT_EQ(b.size(), 1u);
        EXPECT_NEAR(double(b[0].Length()), 13230, 120);
    }
}

// A page fetches its music after the start: a track asked for before its
// file has come waits for it, silent, and starts once it is there.
std::string gArriving;
int Arriving(const char* path) { return gArriving == path ? 1 : 0; }

TEST_F(AudioDevice, MusicOnItsWayStartsWhenItArrivesUnlessStoppedOrLost) {
    struct Restore {
        ~Restore() {
            FileArriving = nullptr;
            gArriving.clear();
        }
    } restore;
    FileArriving = Arriving;
    enum Outcome { Arrives, StoppedFirst, NeverComes };
    struct Case { const char* name; Outcome outcome; const char* failure; } cases[] = {
        {"late.ogg", Arrives, nullptr},
        {"late2.ogg", StoppedFirst, nullptr},
        {"late.wav", NeverComes, "Error Opening Wave - "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!ALdev) ASys.AudioStart();
        std::string path = Path(c.name);
        remove(path.c_str());
        gArriving = path;
        std::string log = Captured([&] {
            ThisGame.PlayMusic(c.name);
            Pump(0.2);
        });
        EXPECT_EQ(ASys.musicMode, MUSIC_WAITING);
        EXPECT_EQ(log.find("Error Opening"), std::string::npos) << log;
        EXPECT_NE(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);

        if (c.outcome == StoppedFirst) ThisGame.StopMusic();
        if (c.outcome != NeverComes) {
            std::ifstream from(Path("short.ogg"), std::ios::binary);
            std::ofstream(path, std::ios::binary) << from.rdbuf();
        }
        gArriving.clear();
        log = Captured([&] { Pump(0.3); });
        EXPECT_EQ(ASys.musicMode, c.outcome == Arrives ? 2 : 0);   // an Ogg stream, or none
        Recording rec = Finish();
        remove(path.c_str());
        if (c.outcome == Arrives) {
            EXPECT_EQ(log.find("Error Opening"), std::string::npos) << log;
            EXPECT_EQ(Bursts(rec).size(), 1u) << "the track never started";
        } else {
            EXPECT_TRUE(Bursts(rec).empty());
        }
        if (c.failure) {
            EXPECT_TRUE(Has(log, c.failure + path)) << log;
        }
    }
}

TEST_F(AudioDevice, StopMusicSilencesWithinFourBuffers) {
    ThisGame.PlayMusic("tone.wav");
    Pump(0.5);
    int filled = MusicBufferTick + 3;
    ThisGame.StopMusic();
    EXPECT_EQ(ASys.musicMode, 0);
    Pump(0.7);
    EXPECT_EQ(MusicBufferTick + 3, filled) << "nothing is queued after the stop";
    EXPECT_NE(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
    Recording rec = Finish();

    // What was queued plays out, whole, and no more than four blocks of it
    // lie beyond the stop.
    std::vector<Burst> b = Bursts(rec);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_NEAR(double(b[0].Length()), filled * 4096.0, 100);
    EXPECT_LE(filled, int(0.5 / (4096.0 / kRate)) + 1 + 4);
}

// The pause menu stops the top-up: the queue runs dry, and on resume the
// music goes on from where it was, without replaying the blocks it had
// already played.
TEST_F(AudioDevice, MusicResumesAfterRunningDry) {
    ThisGame.PlayMusic("tone.wav");
    Pump(0.4);
    Play(0.7);
    EXPECT_NE(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
    Pump(0.4);
    EXPECT_EQ(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
    int filled = MusicBufferTick + 3;
    ThisGame.StopMusic();
    Pump(0.6);
    Recording rec = Finish();

    std::vector<Burst> b = Bursts(rec);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_NEAR(double(b[0].Length() + b[1].Length()), filled * 4096.0, 100);
}

// Paused, the music falls silent at once and stays so however often the
// loop's MusicHandler runs; resumed, it goes on with the sample after the
// last one heard: nothing is lost or played twice.
TEST_F(AudioDevice, PausedMusicResumesWhereItStopped) {
    ThisGame.PlayMusic("ramp.wav");
    Pump(0.5);
    const Recording before = Loopback::Take();
    ThisGame.PauseMusic();
    Pump(0.6);
    EXPECT_EQ(SourceInt(31, AL_SOURCE_STATE), AL_PAUSED);
    ThisGame.PauseMusic();   // twice changes nothing
    const Recording paused = Loopback::Take();
    ThisGame.ResumeMusic();
    Pump(0.5);
    const Recording after = Finish();

    // Loud to the pause, silent through it, loud again from the resume.
    auto level = [](const Recording& r, size_t from, size_t to) { return Rms(r.left, from, to); };
    const size_t n = 4410;
    EXPECT_GT(level(before, before.Frames() - n, before.Frames()), 0.05);
    EXPECT_LT(level(paused, n / 4, paused.Frames()), 1e-4);
    EXPECT_GT(level(after, 0, n), 0.05);
    EXPECT_TRUE(Bursts(paused, 1e-3f).empty() || Bursts(paused, 1e-3f).back().end < n / 4)
        << "the pause is silent once it has begun";

    // The ramp's level tells the track's position: its slope gives the
    // gain, and the frame of the track is the level on the ramp. Frames 300
    // before the pause and 300 after the resume (clear of the fades the
    // device puts on a stop and a start) lie 600 frames of track apart.
    auto slope = [](const Recording& r, size_t at) { return (r.left[at + 200] - r.left[at]) / 200.0; };
    const double perFrame = slope(before, before.Frames() - 800);
    ASSERT_GT(perFrame, 0);
    EXPECT_NEAR(slope(after, 400), perFrame, perFrame * 0.05) << "the same ramp at the same gain";
    const double moved = (after.left[300] - before.left[before.Frames() - 300]) / perFrame;
    // A wrap of the ramp lies between them when the level went down.
    EXPECT_NEAR(moved < 0 ? moved + kRampFrames : moved, 600, 10);
}

// A new track plays at once whether or not the last one was paused, and a
// paused track that is stopped stays silent: nothing of it plays out.
TEST_F(AudioDevice, PauseEndsWithANewTrackOrAStop) {
    ThisGame.PlayMusic("tone.wav");
    Pump(0.2);
    ThisGame.PauseMusic();
    ThisGame.PlayMusic("tone.OGG");
    Pump(0.2);
    EXPECT_EQ(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
    ThisGame.PauseMusic();
    Pump(0.1);
    ThisGame.StopMusic();
    ThisGame.ResumeMusic();
    Pump(0.4);
    EXPECT_NE(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
    Recording rec = Finish();
    std::vector<Burst> b = Bursts(rec, 1e-3f, 2000);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_NEAR(double(b[0].Length()) / kRate, 0.4, 0.05);
}

TEST_F(AudioDevice, MusicControlsClampAndReachTheSource) {
    ThisGame.PlayMusic("tone.wav");
    struct Case {
        void (KELPCore::*set)(float);
        float value;
        float KELPSys::*field;
        float expect;
    };
    const Case cases[] = {
        {&KELPCore::MusicVolume, 2, &KELPSys::trackVolume, 1},
        {&KELPCore::MusicVolume, -1, &KELPSys::trackVolume, 0},
        {&KELPCore::MusicVolume, 0.8f, &KELPSys::trackVolume, 0.8f},
        {&KELPCore::MusicPitch, 10, &KELPSys::trackPitch, 4},
        {&KELPCore::MusicPitch, 0, &KELPSys::trackPitch, 0.25f},
        {&KELPCore::MusicPitch, 1.5f, &KELPSys::trackPitch, 1.5f},
        {&KELPCore::MusicPan, -3, &KELPSys::trackPan, -1},
        {&KELPCore::MusicPan, 3, &KELPSys::trackPan, 1},
        {&KELPCore::MusicPan, 0.5f, &KELPSys::trackPan, 0.5f},
    };
    for (const Case& c : cases) {
        (ThisGame.*c.set)(c.value);
        EXPECT_FLOAT_EQ(ASys.*c.field, c.expect);
    }
    // The player's music volume reaches the source on the next pass.
    ThisGame.musicVolume = 0.5f;
    ThisGame.MusicHandler();
    EXPECT_FLOAT_EQ(SourceFloat(31, AL_GAIN), 0.4f);
    EXPECT_FLOAT_EQ(SourceFloat(31, AL_PITCH), 1.5f);
    ALfloat x = 9, y = 9, z = 9;
    alGetSource3f(ALsource[31], AL_POSITION, &x, &y, &z);
    EXPECT_FLOAT_EQ(x, -0.5f);
    // A new track starts at its own defaults.
    ThisGame.PlayMusic("tone.OGG");
    EXPECT_FLOAT_EQ(ASys.trackVolume, 1);
    EXPECT_FLOAT_EQ(ASys.trackPitch, 1);
    EXPECT_FLOAT_EQ(ASys.trackPan, 0);
}

TEST_F(AudioDevice, PlayMusicChoosesTheStreamByName) {
    struct Case {
        const char* name;
        int mode;                   // musicMode afterwards; -1: unchanged
        const char* line;           // a line the start must log, if any
        const char* next = nullptr; // and the line after it
    };
    const std::string missingWav = "Error Opening Wave - " + Path("missing.wav");
    const std::string missingOgg = "    " + Path("missing.ogg") + " : No such file or directory\n";
    const std::string notOgg = "Ogg Rejected - " + Path("notogg.ogg") + ": decoder error";
    const Case cases[] = {
        {"music\\tone.wav", 1, nullptr},
        {"tagged.wav", 1, nullptr},
        {"extensible.wav", 1, nullptr},
        {"tone.OGG", 2, nullptr},
        {"tone.mp3", -1, "> Music Rejected - tone.mp3: the name must end in .ogg or .wav\n"},
        {"tone", -1, "> Music Rejected - tone: the name must end in .ogg or .wav\n"},
        {"missing.wav", 0, missingWav.c_str()},
        {"missing.ogg", 0, "> Error Opening Ogg\n", missingOgg.c_str()},
        {"deep24.wav", 0, "Wave Rejected - "},
        {"notogg.ogg", 0, notOgg.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThisGame.PlayMusic("tone.wav");
        ASSERT_EQ(ASys.musicMode, 1);
        FILE* before = MusicFile;
        std::string log = Captured([&] { ThisGame.PlayMusic(c.name); });
        EXPECT_EQ(ASys.musicMode, c.mode == -1 ? 1 : c.mode);
        if (c.mode == -1) {
            EXPECT_EQ(MusicFile, before);
        }
        if (c.line) {
            size_t at = log.find(c.line);
            ASSERT_NE(at, std::string::npos) << log;
            if (c.next) {
                size_t end = log.find('\n', at + 2) + 1, next = log.find("> ", end) + 2;
                EXPECT_EQ(c.next, log.substr(next, log.find('\n', next) + 1 - next)) << log;
            }
        }
        if (c.mode == 0) {
            EXPECT_NE(SourceInt(31, AL_SOURCE_STATE), AL_PLAYING);
        }
    }
}

// ---- Without a device -------------------------------------------------------------

// Runs in a child process of its own: OpenAL picks its driver once per process.
TEST(AudioNoDevice, TheProgramRunsSilent) {
    if (getenv("KELP_AUDIO_CHILD")) {
        std::string dir = AudioDir(Scratch());
        MakeDirs(dir);
        WriteWav(dir + "/07.wav", 1, 16, Tone(440, 441, 1));
        WriteWav(dir + "/tone.wav", 2, 16, Tone(440, 22050, 2));
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", Scratch().c_str());
        ThisGame.gameNumber = 550;
        ASys.AudioStart();
        EXPECT_EQ(AudioEnabled, 0);
        EXPECT_EQ(ALdev, nullptr);
        ThisGame.LoadSFX(7);
        EXPECT_EQ(ALbufferActive[7], 0);
        ThisGame.PlaySFX(7);
        ThisGame.PlayMusic("tone.wav");
        EXPECT_EQ(ASys.musicMode, 0);
        ThisGame.MusicHandler();
        ASys.AudioClose();
        return;
    }
    std::string out = Scratch() + "/child.txt";
    fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("KELP_AUDIO_CHILD", "1", 1);
        setenv("ALSOFT_DRIVERS", "no-such-driver", 1);
        if (!freopen(out.c_str(), "w", stdout)) _exit(126);
        execl("/proc/self/exe", "audio_tests", "--gtest_filter=AudioNoDevice.TheProgramRunsSilent", nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    EXPECT_TRUE(Has(log, "Audio Device Error")) << log;
    EXPECT_FALSE(Has(log, "OpenAL Audio Engaged!")) << log;
    EXPECT_TRUE(Has(log, "Load SFX   : 7")) << log;
    EXPECT_EQ(log.find("Load 882 bytes"), std::string::npos) << log;
    EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
}

}  // namespace
