// The WAV reader on well-formed and broken files, without an audio device.
#include <AL/al.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sys/KELPSys.h"

using namespace kelp;

namespace {

// Little-endian byte builders for hand-made files.
std::string U16(unsigned v) { return std::string{char(v & 255), char(v >> 8 & 255)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }

std::string Chunk(const std::string& tag, const std::string& body) { return tag + U32(uint32_t(body.size())) + body; }

std::string Fmt(unsigned format, unsigned channels, uint32_t rate, unsigned bits) {
    unsigned align = channels * bits / 8;
    return U16(format) + U16(channels) + U32(rate) + U32(rate * align) + U16(align) + U16(bits);
}

// A WAVE_FORMAT_EXTENSIBLE "fmt " body: the plain 16 bytes, then the
// extension with the sub-format's code in the shared GUID.
const std::string kGuidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
std::string FmtExt(unsigned subFormat, unsigned channels, uint32_t rate, unsigned bits, unsigned validBits) {
    return Fmt(0xFFFE, channels, rate, bits) + U16(22) + U16(validBits) + U32(channels == 1 ? 4 : 3) +
           U16(subFormat) + kGuidTail;
}

std::string Riff(const std::string& chunks) { return "RIFF" + U32(uint32_t(4 + chunks.size())) + "WAVE" + chunks; }

// A 16-bit mono file with four samples: 44 bytes, the data at offset 36+8.
std::string Good16() { return Riff(Chunk("fmt ", Fmt(1, 1, 22050, 16)) + Chunk("data", std::string(8, '\x11'))); }

struct Parsed {
    int ok;
    WavInfo info;
    std::string log;
};

Parsed Parse(const std::string& bytes, const char* name = "test.wav") {
    Parsed p;
    // A copy in its own allocation: reading past the end of the file would
    // show as a read past this buffer under the sanitizers.
    std::string copy = bytes;
    FILE* f = copy.empty() ? fopen("/dev/null", "rb") : fmemopen(&copy[0], copy.size(), "rb");
    EXPECT_NE(f, nullptr);
    testing::internal::CaptureStdout();
    p.ok = ParseWAV(f, name, &p.info);
    p.log = testing::internal::GetCapturedStdout();
    fclose(f);
    return p;
}

int Lines(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

TEST(WavReader, AcceptsPcmAndFindsTheSamples) {
    struct Case {
        const char* what;
        std::string file;
        int format, channels, rate, bits;
        long offset, size;
    };
    const std::string fmt16m = Chunk("fmt ", Fmt(1, 1, 22050, 16));
    const Case cases[] = {
        {"16-bit mono", Good16(), AL_FORMAT_MONO16, 1, 22050, 16, 44, 8},
        {"8-bit mono", Riff(Chunk("fmt ", Fmt(1, 1, 8000, 8)) + Chunk("data", "abc")), AL_FORMAT_MONO8, 1, 8000, 8, 44, 3},
        {"8-bit stereo", Riff(Chunk("fmt ", Fmt(1, 2, 11025, 8)) + Chunk("data", "abcd")), AL_FORMAT_STEREO8, 2, 11025, 8, 44, 4},
        {"16-bit stereo", Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + Chunk("data", std::string(8, 0))),
         AL_FORMAT_STEREO16, 2, 44100, 16, 44, 8},
        // An 18-byte fmt chunk (cbSize) is skipped over.
        {"long fmt", Riff(Chunk("fmt ", Fmt(1, 1, 22050, 16) + U16(0)) + Chunk("data", "abcd")),
         AL_FORMAT_MONO16, 1, 22050, 16, 46, 4},
        // A LIST chunk of odd size is followed by its pad byte: 36 + 8 + 3 + 1.
        {"odd chunk before data", Riff(fmt16m + Chunk("LIST", "xyz") + std::string(1, 0) + Chunk("data", "abcd")),
         AL_FORMAT_MONO16, 1, 22050, 16, 56, 4},
        // Samples cut mid-frame keep only whole frames.
        {"partial frame", Riff(fmt16m + Chunk("data", "abcde") + std::string(1, 0)), AL_FORMAT_MONO16, 1, 22050, 16, 44, 4},
        // A later data chunk replaces the first: 36 + 8 + 2 + 8.
        {"two data chunks", Riff(fmt16m + Chunk("data", "ab") + Chunk("data", "abcdef")),
         AL_FORMAT_MONO16, 1, 22050, 16, 54, 6},
        // Trailing bytes too few for a chunk header are ignored.
        {"trailing bytes", Good16() + "xyz", AL_FORMAT_MONO16, 1, 22050, 16, 44, 8},
        // The RIFF size is not trusted either way.
        {"zero RIFF size", "RIFF" + U32(0) + Good16().substr(8), AL_FORMAT_MONO16, 1, 22050, 16, 44, 8},
        // Metadata cut short after the samples takes nothing the player needs.
        {"cut chunk after data", Good16() + "LIST" + U32(100) + "ab", AL_FORMAT_MONO16, 1, 22050, 16, 44, 8},
        // Extensible headers (as sox and many editors write): 12 + 8 + 40 + 8.
        {"extensible 16-bit stereo", Riff(Chunk("fmt ", FmtExt(1, 2, 44100, 16, 16)) + Chunk("data", std::string(8, 0))),
         AL_FORMAT_STEREO16, 2, 44100, 16, 68, 8},
        {"extensible 8-bit mono", Riff(Chunk("fmt ", FmtExt(1, 1, 8000, 8, 8)) + Chunk("data", "abc")),
         AL_FORMAT_MONO8, 1, 8000, 8, 68, 3},
        {"extensible 12 valid bits of 16", Riff(Chunk("fmt ", FmtExt(1, 1, 22050, 16, 12)) + Chunk("data", "abcd")),
         AL_FORMAT_MONO16, 1, 22050, 16, 68, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed p = Parse(c.file);
        ASSERT_EQ(p.ok, 1) << p.log;
        EXPECT_EQ(p.log, "");
        EXPECT_EQ(p.info.format, c.format);
        EXPECT_EQ(p.info.channels, c.channels);
        EXPECT_EQ(p.info.rate, c.rate);
        EXPECT_EQ(p.info.bits, c.bits);
        EXPECT_EQ(p.info.dataOffset, c.offset);
        EXPECT_EQ(p.info.dataSize, c.size);
    }
}

// A file cut anywhere in its header, "fmt " or "data" chunk is refused; cut
// inside a chunk that follows the samples, it still plays.
TEST(WavReader, OnlyACutInANeededChunkIsRejected) {
    const std::string whole = Good16() + Chunk("LIST", "INFOISFT" + U32(6) + "editor");
    const size_t samplesEnd = Good16().size();
    for (size_t n = 0; n < whole.size(); n++) {
        SCOPED_TRACE(n);
        Parsed p = Parse(whole.substr(0, n), "cut.wav");
        if (n < samplesEnd) {
            EXPECT_EQ(p.ok, 0);
            EXPECT_EQ(Lines(p.log), 1) << p.log;
            EXPECT_NE(p.log.find("Wave Rejected - cut.wav: "), std::string::npos) << p.log;
        } else {
            EXPECT_EQ(p.ok, 1) << p.log;
            EXPECT_EQ(p.log, "");
            EXPECT_EQ(p.info.dataOffset, 44);
            EXPECT_EQ(p.info.dataSize, 8);
        }
    }
}

TEST(WavReader, RejectsMalformedFilesWithAReason) {
    struct Case {
        std::string file;
        const char* reason;
    };
    const std::string fmt16m = Chunk("fmt ", Fmt(1, 1, 22050, 16));
    const std::string data = Chunk("data", "abcd");
    const Case cases[] = {
        {"RIFX" + Good16().substr(4), "not a RIFF file"},
        {Good16().substr(0, 8) + "AVI " + Good16().substr(12), "not a WAVE file"},
        {Riff(data + fmt16m), "no \"fmt \" chunk after the header"},
        {Riff(Chunk("fmt ", Fmt(1, 1, 22050, 16).substr(0, 14)) + data), "truncated \"fmt \" chunk"},
        {Riff("fmt " + U32(0xFFFFFFF0u) + Fmt(1, 1, 22050, 16) + data), "\"fmt \" chunk larger than the file"},
        {Riff(Chunk("fmt ", Fmt(3, 1, 22050, 32)) + data), "format 3 (IEEE float) is not PCM"},
        {Riff(Chunk("fmt ", Fmt(7, 1, 8000, 8)) + data), "format 7 (mu-law) is not PCM"},
        {Riff(Chunk("fmt ", FmtExt(3, 2, 44100, 32, 32)) + Chunk("data", std::string(8, 0))),
         "extensible format with sub-format 3 (IEEE float) is not PCM"},
        {Riff(Chunk("fmt ", FmtExt(0x55, 1, 44100, 16, 16)) + data),
         "extensible format with sub-format 85 (MPEG layer 3) is not PCM"},
        {Riff(Chunk("fmt ", Fmt(0xFFFE, 2, 44100, 16) + std::string(24, 0)) + data),
         "extensible format with an unknown sub-format is not PCM"},
        {Riff(Chunk("fmt ", Fmt(0xFFFE, 1, 44100, 16) + U16(0)) + data), "truncated extensible \"fmt \" chunk"},
        {Riff(Chunk("fmt ", FmtExt(1, 1, 44100, 24, 24)) + Chunk("data", "abcdef")), "24-bit samples are not supported"},
        {Riff(Chunk("fmt ", FmtExt(1, 1, 44100, 16, 20)) + data), "20 valid bits in 16-bit samples"},
        {Riff(Chunk("fmt ", Fmt(1, 1, 44100, 24)) + Chunk("data", "abcdef")), "24-bit samples are not supported"},
        {Riff(Chunk("fmt ", Fmt(1, 1, 44100, 32)) + data), "32-bit samples are not supported"},
        {Riff(Chunk("fmt ", Fmt(1, 0, 44100, 16)) + data), "zero channels"},
        {Riff(Chunk("fmt ", Fmt(1, 1, 0, 16)) + data), "zero sample rate"},
        {Riff(Chunk("fmt ", Fmt(1, 6, 44100, 16)) + Chunk("data", std::string(12, 0))), "6 channels are not supported"},
        {Riff(fmt16m), "no \"data\" chunk"},
        {Riff(fmt16m + Chunk("LIST", "abcd")), "no \"data\" chunk"},
        {Riff(fmt16m + "data" + U32(0xFFFFFFFFu) + "abcd"), "chunk larger than the file"},
        {Riff(fmt16m + "data" + U32(5) + "abcd"), "chunk larger than the file"},
        {Riff(fmt16m + "LIST" + U32(0x7FFFFFFFu) + "ab" + data), "chunk larger than the file"},
        // A later "data" chunk would replace the first: it is needed whole.
        {Riff(fmt16m + data + "data" + U32(100) + "ab"), "chunk larger than the file"},
        {Riff(fmt16m + Chunk("data", "")), "no samples in the \"data\" chunk"},
        {Riff(fmt16m + Chunk("data", "a") + std::string(1, 0)), "no samples in the \"data\" chunk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        Parsed p = Parse(c.file, "bad.wav");
        EXPECT_EQ(p.ok, 0);
        EXPECT_EQ(p.log.substr(p.log.find('>') + 2), std::string("Wave Rejected - bad.wav: ") + c.reason + "\n");
    }
}

}  // namespace
