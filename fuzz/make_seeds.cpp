// Writes the fuzz targets' seed inputs into <corpus>/<target>/: small valid
// and nearly valid files in each target's input format. The kept corpus was
// made with it; run it again after a format change:
//   <fuzz build>/fuzz/make_fuzz_seeds <source>/fuzz/corpus
#include <sys/stat.h>
#include <unistd.h>

#include <lodepng.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "tools/gen_audio/ogg.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

using Bytes = std::string;

std::string corpus;

bool Write(const std::string& target, const std::string& name, const Bytes& data) {
    std::string dir = corpus + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

// A literal with its NUL bytes kept.
template <size_t N>
Bytes B(const char (&s)[N]) {
    return Bytes(s, N - 1);
}

Bytes Le(uint32_t v, int bytes) {
    Bytes b;
    for (int i = 0; i < bytes; i++) b += char(v >> (8 * i) & 0xFF);
    return b;
}

Bytes Chunk(const char* tag, const Bytes& body, bool pad = true) {
    Bytes c = Bytes(tag, 4) + Le(uint32_t(body.size()), 4) + body;
    if (pad && body.size() % 2) c += '\0';
    return c;
}

Bytes Fmt(int format, int channels, int rate, int bits, const Bytes& extra = "") {
    int align = channels * bits / 8;
    return Chunk("fmt ", Le(format, 2) + Le(channels, 2) + Le(rate, 4) + Le(rate * align, 4) + Le(align, 2) +
                             Le(bits, 2) + extra);
}

Bytes Riff(const Bytes& chunks, uint32_t size = 0) {
    return "RIFF" + Le(size ? size : uint32_t(4 + chunks.size()), 4) + "WAVE" + chunks;
}

Bytes Samples(int count, int bytesEach) {
    Bytes s;
    for (int i = 0; i < count; i++) s += Le(uint32_t(i * 37 + 11), bytesEach);
    return s;
}

void WavSeeds() {
    const char* t = "fuzz_wav";
    Write(t, "mono8.wav", Riff(Fmt(1, 1, 8000, 8) + Chunk("data", Samples(9, 1))));
    Write(t, "stereo16.wav", Riff(Fmt(1, 2, 44100, 16) + Chunk("data", Samples(8, 2))));
    Write(t, "mono16_list_chunk.wav",
          Riff(Fmt(1, 1, 22050, 16) + Chunk("LIST", "INFOodd") + Chunk("data", Samples(6, 2)) + "\x01"));
    Write(t, "stereo8_long_fmt.wav", Riff(Fmt(1, 2, 11025, 8, Le(0, 2)) + Chunk("data", Samples(7, 1))));
    Write(t, "two_data_chunks.wav",
          Riff(Fmt(1, 1, 8000, 8) + Chunk("data", Samples(3, 1)) + Chunk("data", Samples(5, 1))));
    Bytes tagged = Riff(Fmt(1, 1, 8000, 8) + Chunk("data", Samples(5, 1)) + Chunk("LIST", "INFOISFT" + Le(9, 4) + "an editor"));
    Write(t, "list_cut_after_data.wav", tagged.substr(0, tagged.size() - 6));
    // Rejected: 24-bit samples, float samples, a data chunk longer than the
    // file, a frame cut in half, and a bare header.
    Write(t, "bits24.wav", Riff(Fmt(1, 1, 8000, 24) + Chunk("data", Samples(6, 3))));
    Write(t, "float.wav", Riff(Fmt(3, 1, 8000, 32) + Chunk("data", Samples(4, 4))));
    Bytes cut = Riff(Fmt(1, 2, 8000, 16) + Chunk("data", Samples(8, 2)));
    Write(t, "data_past_end.wav", cut.substr(0, cut.size() - 5));
    Write(t, "half_frame.wav", Riff(Fmt(1, 2, 8000, 16) + Chunk("data", Samples(1, 2), false)));
    Write(t, "header_only.wav", Riff(Fmt(1, 1, 8000, 8)));
    // WAVE_FORMAT_EXTENSIBLE, as sox and many editors write: 16-bit PCM plays,
    // 12 valid bits of 16 too; float and a cut extension are refused.
    auto extensible = [](int sub, int channels, int valid) {
        return Le(22, 2) + Le(valid, 2) + Le(channels == 1 ? 4 : 3, 4) + Le(sub, 2) +
               B("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71");
    };
    Write(t, "extensible_stereo16.wav",
          Riff(Fmt(0xFFFE, 2, 44100, 16, extensible(1, 2, 16)) + Chunk("data", Samples(8, 2))));
    Write(t, "extensible_mono16_12bit.wav",
          Riff(Fmt(0xFFFE, 1, 22050, 16, extensible(1, 1, 12)) + Chunk("data", Samples(6, 2))));
    Write(t, "extensible_float.wav",
          Riff(Fmt(0xFFFE, 1, 8000, 32, extensible(3, 1, 32)) + Chunk("data", Samples(4, 4))));
    Write(t, "extensible_cut.wav", Riff(Fmt(0xFFFE, 1, 8000, 16, Le(22, 2) + Le(16, 2)) + Chunk("data", Samples(4, 2))));
}

// One Ogg Vorbis stream (a "link") of a tone.
Bytes OggTone(int channels, int rate, int frames, int serial, size_t* headerBytes = nullptr) {
    std::vector<std::vector<float>> tone(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(frames)));
    std::vector<const float*> planes;
    for (int c = 0; c < channels; c++) {
        for (int i = 0; i < frames; i++) tone[size_t(c)][size_t(i)] = 0.4f * std::sin(float(i) * (0.06f + 0.02f * float(c)));
        planes.push_back(tone[size_t(c)].data());
    }
    return gen::EncodeVorbis(planes, size_t(frames), rate, 0.1f, serial, nullptr, headerBytes);
}

void OggSeeds() {
    // The last byte steers the target: bit 0 loops, bit 1 repairs the page
    // checksums after a mutation. Real recordings and the crash cases found
    // by mutating them are kept beside these (see fuzz/corpus/README.md).
    const char* t = "fuzz_ogg";
    Bytes mono = OggTone(1, 22050, 4410, 1);
    size_t headers = 0;
    Bytes stereo = OggTone(2, 44100, 8820, 2, &headers);
    Write(t, "mono_22050.ogg", mono);
    Write(t, "stereo_44100.ogg", stereo);
    Write(t, "stereo_44100_loop.ogg", stereo + "\x03");
    // Two links of one layout play on; a change of layout is refused.
    Write(t, "chained_same_layout.ogg", stereo + OggTone(2, 44100, 2205, 3) + "\x01");
    Write(t, "chained_mono_then_stereo.ogg", mono + OggTone(2, 22050, 2205, 4));
    Write(t, "cut_in_the_audio.ogg", stereo.substr(0, headers + (stereo.size() - headers) / 2));
    Write(t, "headers_only.ogg", stereo.substr(0, headers));
}

Bytes Png(unsigned w, unsigned h) {
    std::vector<unsigned char> px(size_t(w) * h * 4);
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++) {
            unsigned char* p = &px[(size_t(y) * w + x) * 4];
            p[0] = (unsigned char)(x * 40);
            p[1] = (unsigned char)(y * 40);
            p[2] = 128;
            p[3] = 255;
        }
    // A magenta key pixel, which loads as transparent.
    px[0] = 255, px[1] = 0, px[2] = 255;
    std::vector<unsigned char> out;
    lodepng::encode(out, px, w, h);
    return Bytes(out.begin(), out.end());
}

void PngSeeds() {
    // The first byte picks the frame size: 3 is 7, 4 is 8, 0 is 0 (refused).
    const char* t = "fuzz_png";
    Write(t, "single_8.png", "\x04" + Png(8, 8));
    Write(t, "sheet_2_frames_8.png", "\x04" + Png(16, 8));
    Write(t, "sheet_2x2_frames_7.png", "\x03" + Png(14, 14));
    Bytes sheet = Png(16, 8);
    Write(t, "sheet_truncated.png", "\x04" + sheet.substr(0, sheet.size() / 2));
    Write(t, "frame_size_0.png", B("\x00") + Png(8, 8));
}

Bytes ReadAll(const std::string& path) {
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return b;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) b.append(buf, n);
    fclose(f);
    return b;
}

void SaveSeeds() {
    // The target's input: the settings file's length (16-bit little-endian),
    // the settings file, the save file.
    char tmpl[] = "/tmp/kelp-seeds-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    MyGame& g = ThisGame;
    snprintf(g.dataRoot, sizeof g.dataRoot, "%s", tmpl);
    g.gameNumber = 550;
    snprintf(g.gameTitle, sizeof g.gameTitle, "Test Game");
    g.KeyDefaults();
    g.Load();   // a fresh user ID, saved
    g.saveData[0] = 7;
    g.saveData[1] = 3;
    for (int i = 0; i < 40; i++) g.scoreData[i] = 1000 - 17 * i;
    g.Save();
    std::string root = tmpl;
    Bytes settings = ReadAll(root + "/Settings.sav");
    Bytes save = ReadAll(root + "/Save_550_Test Game.sav");
    unlink((root + "/Settings.sav").c_str());
    unlink((root + "/Save_550_Test Game.sav").c_str());
    rmdir(tmpl);
    if (settings.empty() || save.empty() || settings.size() > 0xFFFF) {
        fprintf(stderr, "no settings or save file\n");
        return;
    }
    const char* t = "fuzz_save";
    Bytes head = Le(uint32_t(settings.size()), 2);
    Write(t, "settings_and_save", head + settings + save);
    Bytes bad = save;
    bad[bad.size() - 5] ^= 0x40;   // a score changed behind the checksum's back
    Write(t, "save_checksum_wrong", head + settings + bad);
    Write(t, "save_truncated", head + settings + save.substr(0, 1000));
    Write(t, "settings_truncated", Le(37, 2) + settings.substr(0, 37));
}

void HttpSeeds() {
    // Chunks are separated by 0xFF 0xFF.
    const char* t = "fuzz_http";
    const Bytes head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n";
    Write(t, "one_chunk", head + "[-\r\nData-]\r\nYou are 3rd of 12\r\n[-\r\nEnd-]");
    Write(t, "around_markers", "xx[-\r\nData-]\r\nOK\r\n[-\r\nEnd-]yy");
    Write(t, "no_markers", head + "<html>Not found</html>");
    Write(t, "start_only", head + "[-\r\nData-]\r\nhalf an answer");
    Write(t, "split_after_headers", head + "\xFF\xFF[-\r\nData-]\r\nOK\r\n[-\r\nEnd-]");
    Write(t, "split_inside_data", head + "[-\r\nData-]\r\nO\xFF\xFFK\r\n[-\r\nEnd-]");
    Write(t, "control_bytes", head + B("[-\r\n\x01" "Data-]\t\x7F\x80\xC3\xA9ok\x00\x1B[-\r\nEnd-]"));
    Write(t, "two_blocks", "[-\r\nData-]one[-\r\nEnd-][-\r\nData-]two[-\r\nEnd-]");
    Write(t, "end_before_start", "[-\r\nEnd-]x[-\r\nData-]y[-\r\nEnd-]");
    const Bytes block = "[-\r\nData-]\r\nOK\r\nRank 12 of 40\r\n[-\r\nEnd-]";
    Write(t, "length", "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + block);
    Write(t, "length_cut", "HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n" + block.substr(0, 20));
    Write(t, "chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8;x=1\r\n[-\r\nData\xFF\xFF\r\n"
                       "22\r\n-]\r\nOK\r\nRank 12 of 40\r\n[-\r\nEnd-]\r\n0\r\nTrailer: t\r\n\r\n");
    Write(t, "chunks_cut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n30\r\n" + block.substr(0, 25));
    Write(t, "redirect", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/Scores.php\r\nContent-Length: 0\r\n\r\n");
    Write(t, "continue", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 200 OK\r\n\r\n" + block);
}

void WebFolderSeeds() {
    // Lines: target, Range, Accept-Encoding, If-None-Match, If-Modified-Since, If-Range.
    const char* t = "fuzz_web_folder";
    Write(t, "page", "/index.html?trace=1\n\nbr, gzip\n\n\n");
    Write(t, "range", "/MyGame.js\nbytes=0-3\n\n\n\n\"b-1\"");
    Write(t, "suffix_range", "/sub/\nbytes=-4\ngzip;q=0, *\n\n\n");
    Write(t, "ranges", "/alias.js\nbytes=0-1,5-\nidentity\nW/\"x\", \"y\"\nSun, 06 Nov 1994 08:49:37 GMT\n");
    Write(t, "traversal", "/..%2f..%2fsecret.txt\nbytes=99999999999999999999-\n\n*\n\n");
    Write(t, "nul", B("/index.html%00.js\n\x00\n\n\n\n"));
    Write(t, "symlink_out", "/out.txt\n\n\n\nThu, 01 Jan 1970 00:00:00 GMT\nFri, 11 Dec 2026 02:56:21 GMT");
    Write(t, "absolute", "http://localhost/sub\nbytes = 2 - 1\nbr;q=0.000\n\n\n");
}

void ClientAddressSeeds() {
    // The X-Forwarded-For header, then one byte per record sent.
    const char* t = "fuzz_client_address";
    Write(t, "v4", "203.0.113.7\nabcabc");
    Write(t, "chain", "10.0.0.1, 198.51.100.2\n" + Bytes(24, 'r') + "0123456789abcdefghijklmnopqrstuvwxyz");
    Write(t, "v6_brackets", "[2001:db8::1]\nzz");
    Write(t, "mapped", "::ffff:203.0.113.7\n");
    Write(t, "port", "unknown, 203.0.113.7:80\n");
}

const char kPlainRecord[] = "20240610130545123456781234{Tam C++{0550{0001{0000{10{1{15{2{20{3{KELP{";

void RecordSeeds() {
    const char* t = "fuzz_record";
    KELPCore& key = ThisGame;
    key.gameNumber = 550;
    key.SetKeyword("Sample keyword text");
    Bytes sent = key.EscapeValue(key.ScrambleTxt(kPlainRecord));
    Write(t, "request", "/Scores.php?Game=550&Score=" + sent);
    Write(t, "escaped_value", sent);
    Write(t, "record", kPlainRecord);
    Write(t, "record_negative_pairs", "7{A B{550{12{99999{-10{1{15{-2{20{3{KELP{");
    Write(t, "record_wrong_game", "1{Tam{0551{0001{0000{10{1{15{2{20{3{KELP{");
    Write(t, "record_short", "1{Tam{0550{0001{0000{KELP{");
    Write(t, "query_twice", "/Scores.php?Game=550&Score=abc&Game=551");
    Write(t, "query_empty_score", "/Scores.php?Game=550&Score=");
    Write(t, "unknown_code", "*!N!*ab*!U!**!J!*");
    Write(t, "unescaped_space", "ab c");
}

void StringSeeds() {
    // Delimiter, count and width/5, then the text.
    const char* t = "fuzz_strings";
    Write(t, "fields", B(",\x03\x02") + "a,b,,c");
    Write(t, "trailing_delimiter", B(",\x02\x01") + "a,b,");
    Write(t, "key_value", B("=\x01\x01") + "key=val=x");
    Write(t, "blanks", B(" \x05\x00") + "  hi there \t");
    Write(t, "runs", B("x\x02\x03") + "AAAB" + Bytes(60, 'x'));
    Write(t, "letters", B("a\x06\x02") + "ab");
    Write(t, "record", B("{\x04\x0A") + kPlainRecord);
    Write(t, "escapes", B("&\x07\x04") + "a b&c/d?e=f%g+h\\i\"j'k`l");
    Write(t, "high_bytes", B("\xC3\xFF\xC8") + "caf\xC3\xA9 ~\x7F\x80\xFF end");
    Write(t, "embedded_nul", B("\x00\x10\x01" "before\0after"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    corpus = argv[1];
    mkdir(corpus.c_str(), 0755);
    if (!freopen("/dev/null", "w", stdout)) return 1;
    WavSeeds();
    OggSeeds();
    PngSeeds();
    SaveSeeds();
    HttpSeeds();
    WebFolderSeeds();
    ClientAddressSeeds();
    RecordSeeds();
    StringSeeds();
    return 0;
}
