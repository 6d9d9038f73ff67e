// The score server for pages in a browser: the origin it lets read its
// answers, and the browser build's folder served beside the scores.
#include <gtest/gtest.h>

#include <brotli/decode.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>

#include "server_test.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

using namespace server_test;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

time_t Mtime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

const std::string kOrigin = "Origin: http://games.example\r\n";

// A scrambled, escaped test record as the demo sends it.
std::string ScoreTarget() {
    Records rec;
    return rec.Target("202612061230451234567{Tam C++{0550{0001{0000{10{1{15{2{20{3{KELP{");
}

}  // namespace

TEST(ScoreServerForBrowsers, AllowsAnyOriginOnlyOnALoopbackAddressUnlessTold) {
    struct Case {
        const char* address;
        const char* origin;   // null: not given
        const char* allowed;
    };
    const Case cases[] = {
        {"127.0.0.1", nullptr, "*"},
        {"127.0.1.1", nullptr, "*"},
        {"localhost", nullptr, "*"},
        {"::1", nullptr, "*"},
        {"0.0.0.0", nullptr, ""},
        {"192.168.1.20", nullptr, ""},
        {"0.0.0.0", "https://games.example", "https://games.example"},
        {"127.0.0.1", "", ""},
    };
    for (const Case& c : cases) {
        scores::ServerOptions o;
        o.address = c.address;
        if (c.origin) o.allowOrigin = std::string(c.origin);
        EXPECT_EQ(c.allowed, scores::AllowedOrigin(o)) << c.address << " " << (c.origin ? c.origin : "(unset)");
    }
}

TEST(ScoreServerForBrowsers, AnswersCarryTheAllowedOrigin) {
    struct Case {
        const char* origin;   // null: the loopback default
        const char* header;   // "-": none
    };
    const Case cases[] = {{nullptr, "*"}, {"http://games.example", "http://games.example"}, {"", "-"}};
    for (const Case& c : cases) {
        scores::ServerOptions o;
        if (c.origin) o.allowOrigin = std::string(c.origin);
        LiveServer live(o);
        HttpReply scored = Get(live.port(), ScoreTarget(), 10, kOrigin);
        EXPECT_EQ(200, scored.status);
        EXPECT_NE(std::string::npos, scored.body.find("OK\r\nScore 0\r\nRank 1 of 1\r\n")) << scored.body;
        EXPECT_EQ(c.header, scored.Header("access-control-allow-origin"));
        // Refusals are read by the page too.
        HttpReply refused = Get(live.port(), "/Scores.php?Game=550&Score=x", 10, kOrigin);
        EXPECT_EQ(400, refused.status);
        EXPECT_EQ(c.header, refused.Header("access-control-allow-origin"));
    }
}

TEST(ScoreServerForBrowsers, ServesTheBrowserBuildBesideTheScores) {
    const std::string outside = TempDir(), dir = outside + "/web";
    mkdir(dir.c_str(), 0755);
    Write(outside + "/secret.txt", "not for the page");
    const std::string wasm("\0asm\1\0\0\0", 8);
    Write(dir + "/index.html", "<!doctype html><title>page</title>");
    Write(dir + "/MyGame.js", "var Module;");
    Write(dir + "/MyGame.wasm", wasm);
    Write(dir + "/MyGame.data", "pack");
    Write(dir + "/.hidden", "not for the page");
    mkdir((dir + "/sub").c_str(), 0755);
    Write(dir + "/sub/index.html", "<p>sub</p>");
    // Symlinks: one to a file in the folder, others leading out of it.
    ASSERT_EQ(0, symlink((dir + "/MyGame.js").c_str(), (dir + "/alias.js").c_str()));
    ASSERT_EQ(0, symlink((outside + "/secret.txt").c_str(), (dir + "/secret.txt").c_str()));
    ASSERT_EQ(0, symlink("/etc/passwd", (dir + "/passwd").c_str()));
    ASSERT_EQ(0, symlink(outside.c_str(), (dir + "/up").c_str()));
    // A FIFO nobody writes to would hold a server that opens it for reading.
    ASSERT_EQ(0, mkfifo((dir + "/pipe.js").c_str(), 0644));
    scores::ServerOptions o;
    o.webRoot = dir;
    LiveServer live(o);

    struct Case {
        const char* target;
        int status;
        const char* type;
        std::string body;
    };
    const Case cases[] = {
        {"/", 200, "text/html", "<!doctype html><title>page</title>"},
        {"/index.html?trace=1", 200, "text/html", "<!doctype html><title>page</title>"},
        {"/MyGame.js", 200, "javascript", "var Module;"},
        {"/MyGame.wasm", 200, "application/wasm", wasm},
        {"/MyGame.data", 200, "application/octet-stream", "pack"},
        {"/sub/", 200, "text/html", "<p>sub</p>"},
        {"/sub", 200, "text/html", "<p>sub</p>"},
        {"/alias.js", 200, "javascript", "var Module;"},
        {"/MyGame%2ejs", 200, "javascript", "var Module;"},
        {"http://localhost/MyGame.js", 200, "javascript", "var Module;"},
        {"/missing.js", 404, nullptr, ""},
        // Nothing above the folder is served, however it is spelt.
        {"/../secret.txt", 404, nullptr, ""},
        {"/%2e%2e/secret.txt", 404, nullptr, ""},
        {"/%2E%2E/secret.txt", 404, nullptr, ""},
        {"/..%2fsecret.txt", 404, nullptr, ""},
        {"/%2e%2e%2fsecret.txt", 404, nullptr, ""},
        {"/.%2e/secret.txt", 404, nullptr, ""},
        {"/sub/../../secret.txt", 404, nullptr, ""},
        {"//../secret.txt", 404, nullptr, ""},
        {"/..\\secret.txt", 404, nullptr, ""},
        {"/%252e%252e/secret.txt", 404, nullptr, ""},
        {"/up/secret.txt", 404, nullptr, ""},
        {"http://localhost/../secret.txt", 404, nullptr, ""},
        // Nor through a symlink.
        {"/secret.txt", 404, nullptr, ""},
        {"/passwd", 404, nullptr, ""},
        // Hidden files and what is no file.
        {"/.hidden", 404, nullptr, ""},
        {"/pipe.js", 404, nullptr, ""},
        // A name with a NUL or a control byte names none of our files: the
        // NUL would cut "index.html%00.js" to the page, sent as JavaScript.
        {"/index.html%00.js", 400, nullptr, ""},
        {"/index.html%0a", 400, nullptr, ""},
        {"/index.html%7f", 400, nullptr, ""},
        {"/index.html%zz", 400, nullptr, ""},
        {"/index.html%4", 400, nullptr, ""},
    };
    for (const Case& c : cases) {
        HttpReply r = Get(live.port(), c.target);
        EXPECT_EQ(c.status, r.status) << c.target;
        EXPECT_EQ(std::string::npos, r.body.find("not for the page")) << c.target;
        EXPECT_EQ(std::string::npos, r.body.find("root:")) << c.target;
        if (c.type) {
            EXPECT_NE(std::string::npos, r.Header("content-type").find(c.type)) << c.target << ": " << r.head;
            EXPECT_EQ(c.body, r.body) << c.target;
        }
    }
    // The scores still answer on the same origin.
    HttpReply scored = Get(live.port(), ScoreTarget(), 10, kOrigin);
    EXPECT_EQ(200, scored.status);
    EXPECT_NE(std::string::npos, scored.body.find("OK\r\nScore 0\r\n")) << scored.body;

    scores::ServerOptions missing;
    missing.port = 0;
    missing.db = TempDir() + "/scores.db";
    missing.webRoot = dir + "/no-such-folder";
    scores::ScoreServer refused(missing);
    std::string error;
    EXPECT_FALSE(refused.Open(&error));
    EXPECT_NE(std::string::npos, error.find("no-such-folder")) << error;
}

// A page's data pack is megabytes: a slow but steady reader gets all of it,
// for as long as it takes. The reader takes over ten seconds for 16 MiB,
// well past the request's five.
TEST(ScoreServerForBrowsers, ALargeFileReachesASlowReader) {
    const std::string dir = TempDir();
    std::string pack(16 << 20, '\0');
    for (size_t i = 0; i < pack.size(); i++) pack[i] = char(i * 2654435761u >> 24);
    Write(dir + "/MyGame.data", pack);
    scores::ServerOptions o;
    o.webRoot = dir;
    o.compressWeb = false;  // the reader takes the file as it is
    LiveServer live(o);

    int fd = ConnectFrom("127.0.0.1", live.port(), 64 << 10);
    ASSERT_GE(fd, 0);
    timeval tv = {60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string req = "GET /MyGame.data HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string all;
    std::vector<char> buf(64 << 10);
    ssize_t n;
    while ((n = recv(fd, buf.data(), buf.size(), 0)) > 0) {
        all.append(buf.data(), size_t(n));
        usleep(40000);   // about 1.6 MB/s
    }
    close(fd);
    size_t split = all.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, split);
    EXPECT_EQ(0u, all.rfind("HTTP/1.1 200 ", 0));
    EXPECT_EQ(pack.size(), all.size() - split - 4);
    EXPECT_TRUE(all.compare(split + 4, std::string::npos, pack) == 0);
}

// Ranges of a file: answered exactly, or ignored (the whole file, 200).
TEST(ScoreServerForBrowsers, RangesAreAnsweredExactlyOrIgnored) {
    const std::string dir = TempDir();
    Write(dir + "/digits.bin", "0123456789");
    Write(dir + "/empty.bin", "");
    scores::ServerOptions o;
    o.webRoot = dir;
    LiveServer live(o);
    const std::string tag = Get(live.port(), "/digits.bin").Header("etag");
    ASSERT_NE("-", tag);

    struct Case {
        const char* file;
        std::string headers;
        int status;
        const char* body;
        const char* contentRange;  // "-": none
    };
    const Case cases[] = {
        {"/digits.bin", "Range: bytes=0-0", 206, "0", "bytes 0-0/10"},
        {"/digits.bin", "Range: bytes=3-5", 206, "345", "bytes 3-5/10"},
        {"/digits.bin", "Range: bytes=7-", 206, "789", "bytes 7-9/10"},
        {"/digits.bin", "Range: bytes=-2", 206, "89", "bytes 8-9/10"},
        {"/digits.bin", "Range: bytes=8-100", 206, "89", "bytes 8-9/10"},
        {"/digits.bin", "Range: bytes=-100", 206, "0123456789", "bytes 0-9/10"},
        {"/digits.bin", "Range: bytes = 1 - 2", 206, "12", "bytes 1-2/10"},
        // Not a range we answer: the whole file.
        {"/digits.bin", "Range: bytes=5-2", 200, "0123456789", "-"},
        {"/digits.bin", "Range: bytes=0-1,4-5", 200, "0123456789", "-"},
        {"/digits.bin", "Range: items=0-1", 200, "0123456789", "-"},
        {"/digits.bin", "Range: bytes=-", 200, "0123456789", "-"},
        {"/digits.bin", "Range: bytes=99999999999999999999999-", 416, nullptr, "bytes */10"},
        // Nothing of the file in it.
        {"/digits.bin", "Range: bytes=10-", 416, nullptr, "bytes */10"},
        {"/digits.bin", "Range: bytes=-0", 416, nullptr, "bytes */10"},
        {"/empty.bin", "Range: bytes=0-0", 416, nullptr, "bytes */0"},
        // If-Range: the range only while the file is the one the client has.
        {"/digits.bin", "Range: bytes=0-1\r\nIf-Range: " + tag, 206, "01", "bytes 0-1/10"},
        {"/digits.bin", "Range: bytes=0-1\r\nIf-Range: \"old\"", 200, "0123456789", "-"},
        {"/digits.bin", "Range: bytes=0-1\r\nIf-Range: W/" + tag, 200, "0123456789", "-"},
    };
    for (const Case& c : cases) {
        HttpReply r = Get(live.port(), c.file, 10, c.headers + "\r\n");
        EXPECT_EQ(c.status, r.status) << c.headers;
        if (c.body) {
            EXPECT_EQ(c.body, r.body) << c.headers;
        }
        EXPECT_EQ(c.contentRange, r.Header("content-range")) << c.headers;
        EXPECT_EQ("bytes", r.Header("accept-ranges")) << c.headers;
    }
}

// A repeat visit downloads nothing that did not change.
TEST(ScoreServerForBrowsers, UnchangedFilesAreNotSentAgain) {
    const std::string dir = TempDir();
    Write(dir + "/MyGame.js", "var Module;");
    scores::ServerOptions o;
    o.webRoot = dir;
    o.compressWeb = false;
    LiveServer live(o);
    HttpReply first = Get(live.port(), "/MyGame.js");
    ASSERT_EQ(200, first.status);
    const std::string tag = first.Header("etag"), date = first.Header("last-modified");
    EXPECT_NE("-", tag);
    EXPECT_NE("-", date);
    EXPECT_EQ("no-cache", first.Header("cache-control"));

    struct Case {
        std::string headers;
        int status;
    };
    const Case cases[] = {
        {"If-None-Match: " + tag, 304},
        {"If-None-Match: \"other\", W/" + tag, 304},
        {"If-None-Match: *", 304},
        {"If-None-Match: \"other\"", 200},
        {"If-Modified-Since: " + date, 304},
        {"If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT", 200},
        {"If-Modified-Since: yesterday", 200},
        // A date later than the file's says nothing of this version.
        {"If-Modified-Since: " + scores::HttpDate(Mtime(dir + "/MyGame.js") + 1), 200},
        {"If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT", 200},
        // The tag decides when both are sent.
        {"If-None-Match: \"other\"\r\nIf-Modified-Since: " + date, 200},
    };
    for (const Case& c : cases) {
        HttpReply r = Get(live.port(), "/MyGame.js", 10, c.headers + "\r\n");
        EXPECT_EQ(c.status, r.status) << c.headers;
        if (c.status == 304) {
            EXPECT_EQ("", r.body) << c.headers;
            EXPECT_EQ(tag, r.Header("etag")) << c.headers;
        }
    }
    // A changed file is sent again, with a tag of its own.
    Write(dir + "/MyGame.js", "var Module = {};");
    const timespec later[2] = {{0, UTIME_NOW}, {time(nullptr) + 5, 0}};
    utimensat(AT_FDCWD, (dir + "/MyGame.js").c_str(), later, 0);
    HttpReply changed = Get(live.port(), "/MyGame.js", 10, "If-None-Match: " + tag + "\r\nIf-Modified-Since: " + date + "\r\n");
    EXPECT_EQ(200, changed.status);
    EXPECT_EQ("var Module = {};", changed.body);
    EXPECT_NE(tag, changed.Header("etag"));
}

std::string Brotli(const std::string& in) {
    std::string out(16 << 20, '\0');
    size_t n = out.size();
    if (BrotliDecoderDecompress(in.size(), reinterpret_cast<const uint8_t*>(in.data()), &n,
                                reinterpret_cast<uint8_t*>(&out[0])) != BROTLI_DECODER_RESULT_SUCCESS)
        return "(not brotli)";
    out.resize(n);
    return out;
}

std::string Gunzip(const std::string& in) {
    z_stream z = {};
    inflateInit2(&z, 15 + 16);
    std::string out(16 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = uInt(out.size());
    int rc = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : "(not gzip)";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Text, the wasm and the data pack are compressed once, at start, into
// copies beside them; each request sends a copy as it is, to a browser that
// takes that coding, and never a copy of an older file.
TEST(ScoreServerForBrowsers, CompressedCopiesAreMadeOnceAndSentToThoseWhoTakeThem) {
    const std::string dir = TempDir();
    std::string js, wasm("\0asm\1\0\0\0", 8);
    for (int i = 0; i < 1000; i++) js += "function f" + std::to_string(i) + "() { return Module.call(" + std::to_string(i % 7) + "); }\n";
    for (int i = 0; i < 20000; i++) wasm += char(i % 13);
    Write(dir + "/MyGame.js", js);
    Write(dir + "/MyGame.wasm", wasm);
    Write(dir + "/icon.png", std::string(4000, 'p'));  // packed already: left as it is
    Write(dir + "/tiny.js", "1;");                       // too small to gain
    std::string packed;                                  // gains nothing: no copy is kept
    for (uint32_t i = 0, x = 1; i < 3000; i++) packed += char((x = x * 1103515245u + 12345u) >> 23);
    Write(dir + "/packed.data", packed);
    scores::ServerOptions o;
    o.webRoot = dir;
    LiveServer live(o);
    live.server->WaitForCompressedCopies();
    for (const char* f : {"/MyGame.js.br", "/MyGame.js.gz", "/MyGame.wasm.br", "/MyGame.wasm.gz"})
        EXPECT_EQ(0, access((dir + f).c_str(), F_OK)) << f;
    for (const char* f : {"/icon.png.br", "/tiny.js.gz", "/packed.data.br", "/packed.data.gz"})
        EXPECT_NE(0, access((dir + f).c_str(), F_OK)) << f;
    HttpReply asIs = Get(live.port(), "/packed.data", 10, "Accept-Encoding: br, gzip\r\n");
    EXPECT_EQ("-", asIs.Header("content-encoding"));
    EXPECT_TRUE(asIs.body == packed);

    struct Case {
        const char* file;
        const char* accept;  // null: no Accept-Encoding
        const char* coding;  // "-": sent as it is
    };
    const Case cases[] = {
        {"/MyGame.js", "gzip, deflate, br", "br"},
        {"/MyGame.js", "gzip", "gzip"},
        {"/MyGame.js", "br;q=0, gzip;q=0.5", "gzip"},
        {"/MyGame.js", "*", "br"},
        {"/MyGame.js", "identity", "-"},
        {"/MyGame.js", nullptr, "-"},
        {"/MyGame.wasm", "br", "br"},
        {"/MyGame.wasm", "GZIP", "gzip"},
    };
    for (const Case& c : cases) {
        HttpReply r = Get(live.port(), c.file, 10, c.accept ? std::string("Accept-Encoding: ") + c.accept + "\r\n" : "");
        const std::string& original = std::string(c.file) == "/MyGame.js" ? js : wasm;
        EXPECT_EQ(200, r.status) << c.file << " " << (c.accept ? c.accept : "");
        EXPECT_EQ(c.coding, r.Header("content-encoding")) << c.file << " " << (c.accept ? c.accept : "");
        EXPECT_EQ("Accept-Encoding", r.Header("vary"));
        std::string coding = c.coding;
        const std::string body = coding == "br" ? Brotli(r.body) : coding == "gzip" ? Gunzip(r.body) : r.body;
        EXPECT_TRUE(body == original) << c.file << " " << (c.accept ? c.accept : "");
        if (coding == "br") {
            EXPECT_TRUE(r.body == ReadFile(dir + c.file + ".br"));
            EXPECT_LT(r.body.size(), original.size() / 4);
        }
    }
    // A range is of the file itself.
    HttpReply part = Get(live.port(), "/MyGame.js", 10, "Accept-Encoding: br\r\nRange: bytes=0-7\r\n");
    EXPECT_EQ(206, part.status);
    EXPECT_EQ("-", part.Header("content-encoding"));
    EXPECT_EQ(js.substr(0, 8), part.body);
    // A file changed since its copies were made is sent as it is now.
    Write(dir + "/MyGame.js", js + "// changed\n");
    HttpReply changed = Get(live.port(), "/MyGame.js", 10, "Accept-Encoding: br, gzip\r\n");
    EXPECT_EQ("-", changed.Header("content-encoding"));
    EXPECT_TRUE(changed.body == js + "// changed\n");
}

// The bytes as each encoding sends them, decoded, and the tags: identity,
// brotli and gzip.
struct Versions {
    std::string body[3], tag[3], coding[3];
};
Versions Fetch(int port, const std::string& file) {
    Versions v;
    const char* accept[3] = {nullptr, "br", "gzip"};
    for (int i = 0; i < 3; i++) {
        HttpReply r = Get(port, file, 10, accept[i] ? std::string("Accept-Encoding: ") + accept[i] + "\r\n" : "");
        v.coding[i] = r.Header("content-encoding");
        v.body[i] = v.coding[i] == "br" ? Brotli(r.body) : v.coding[i] == "gzip" ? Gunzip(r.body) : r.body;
        v.tag[i] = r.Header("etag");
    }
    return v;
}

// A page replaced by other bytes of the same size with its time kept (as
// cp -p writes over it, and as rsync -t or an archive with fixed times
// puts a new file in its place): every encoding sends the new bytes under
// a new tag, and its compressed copies are made again.
TEST(ScoreServerForBrowsers, AFileReplacedWithTheSameSizeAndTimeGetsANewTagAndItsNewBytes) {
    std::string before, after;
    for (int i = 0; i < 400; i++) before += "var a" + std::to_string(i) + " = 1;\n";
    after = before;
    std::replace(after.begin(), after.end(), '1', '2');
    ASSERT_EQ(before.size(), after.size());
    struct Case {
        const char* how;
        bool inPlace;
    };
    for (const Case c : {Case{"written over in place", true}, Case{"renamed over it", false}}) {
        const std::string dir = TempDir(), file = dir + "/MyGame.js";
        Write(file, before);
        scores::ServerOptions o;
        o.webRoot = dir;
        LiveServer live(o);
        live.server->WaitForCompressedCopies();
        const Versions old = Fetch(live.port(), "/MyGame.js");
        for (int i = 0; i < 3; i++) EXPECT_TRUE(old.body[i] == before) << c.how << " " << i;
        EXPECT_EQ("br", old.coding[1]);
        EXPECT_EQ("gzip", old.coding[2]);

        struct stat st;
        ASSERT_EQ(0, stat(file.c_str(), &st));
        const std::string temp = dir + "/.next";
        Write(c.inPlace ? file : temp, after);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(0, utimensat(AT_FDCWD, (c.inPlace ? file : temp).c_str(), times, 0));
        if (!c.inPlace) {
            ASSERT_EQ(0, rename(temp.c_str(), file.c_str()));
        }
        struct stat now;
        ASSERT_EQ(0, stat(file.c_str(), &now));
        ASSERT_EQ(now.st_size, st.st_size);
        ASSERT_EQ(now.st_mtim.tv_nsec, st.st_mtim.tv_nsec);

        // At once: the new bytes, as they are until the copies are made again.
        const Versions fresh = Fetch(live.port(), "/MyGame.js");
        for (int i = 0; i < 3; i++) {
            EXPECT_TRUE(fresh.body[i] == after) << c.how << " " << i << ": " << fresh.coding[i];
            EXPECT_NE(fresh.tag[i], old.tag[i]) << c.how << " " << i;
            EXPECT_NE(fresh.tag[i], "-") << c.how << " " << i;
        }
        // A browser's old tag is no match.
        EXPECT_EQ(200, Get(live.port(), "/MyGame.js", 10, "If-None-Match: " + old.tag[0] + "\r\n").status) << c.how;
        // Then its copies again, each decoding to the new bytes.
        live.server->WaitForCompressedCopies();
        const Versions remade = Fetch(live.port(), "/MyGame.js");
        EXPECT_EQ("br", remade.coding[1]) << c.how;
        EXPECT_EQ("gzip", remade.coding[2]) << c.how;
        for (int i = 0; i < 3; i++) EXPECT_TRUE(remade.body[i] == after) << c.how << " " << i;
        EXPECT_TRUE(Brotli(ReadFile(file + ".br")) == after) << c.how;
        EXPECT_TRUE(Gunzip(ReadFile(file + ".gz")) == after) << c.how;
    }
}

// --precompress checks the copies it finds against their files as the
// server does: one of other bytes is made again, one no smaller than its
// file is removed, a good one is left as it is.
TEST(ScoreServerForBrowsers, PrecompressRemakesCopiesOfOtherBytesAndDropsThoseThatGainNothing) {
    const std::string dir = TempDir();
    std::string js, other, packed;
    for (int i = 0; i < 400; i++) js += "var a" + std::to_string(i) + " = 1;\n";
    other = js;
    std::replace(other.begin(), other.end(), '1', '3');
    for (uint32_t i = 0, x = 7; i < 3000; i++) packed += char((x = x * 1103515245u + 12345u) >> 23);
    Write(dir + "/MyGame.js", js);
    Write(dir + "/MyGame.data", packed);
    Write(dir + "/index.html", js);
    auto precompress = [&dir] {
        Process p = Spawn({"--precompress", dir});
        return WaitExit(p);
    };
    ASSERT_EQ(0, precompress());
    ASSERT_EQ(0, access((dir + "/index.html.br").c_str(), F_OK));
    struct stat good;
    ASSERT_EQ(0, stat((dir + "/index.html.br").c_str(), &good));
    // The script replaced by other bytes of its size, its time kept; a
    // copy no smaller than the pack beside it.
    struct stat st;
    ASSERT_EQ(0, stat((dir + "/MyGame.js").c_str(), &st));
    Write(dir + "/MyGame.js", other);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(0, utimensat(AT_FDCWD, (dir + "/MyGame.js").c_str(), times, 0));
    Write(dir + "/MyGame.data.gz", packed + packed);
    ASSERT_EQ(0, precompress());
    EXPECT_TRUE(Brotli(ReadFile(dir + "/MyGame.js.br")) == other);
    EXPECT_TRUE(Gunzip(ReadFile(dir + "/MyGame.js.gz")) == other);
    EXPECT_NE(0, access((dir + "/MyGame.data.gz").c_str(), F_OK));
    EXPECT_NE(0, access((dir + "/MyGame.data.br").c_str(), F_OK));
    struct stat still;
    ASSERT_EQ(0, stat((dir + "/index.html.br").c_str(), &still));
    EXPECT_EQ(good.st_ino, still.st_ino) << "a good copy was made again";
}
