// Scramble, escaping, the web exchange against a tiny local server, and the
// browser launcher.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "core/KELPCore.h"
#include "game/MyGame.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

using std::string;

namespace {

struct WebTest : ::testing::Test {
    std::unique_ptr<KELPCore> core{new KELPCore()};
    KELPCore& K() { return *core; }
    // Each test's failures are said afresh, not folded into the last test's.
    void SetUp() override {
        ASys.webFailureSaid = false;
        ASys.webFailuresUnsaid = 0;
    }
};

// ---- Scramble -------------------------------------------------------------------

TEST_F(WebTest, KeywordAndNumberDeriveTheTable) {
    K().gameNumber = 550;
    K().SetKeyword("Sample keyword text");
    EXPECT_STREQ(StateOf(K()).scramble.scrambleKeyword, "Sample keyword text");
    // (i + keyword byte + game) mod 92: 'S' 83, 'a' 97, 'm' 109.
    EXPECT_EQ(StateOf(K()).scramble.scrambleTable[0], 81);
    EXPECT_EQ(StateOf(K()).scramble.scrambleTable[1], 4);
    EXPECT_EQ(StateOf(K()).scramble.scrambleTable[2], 17);
    EXPECT_EQ(StateOf(K()).scramble.scrambleTable[19], (19 + 'S' + 550) % 92);  // the keyword repeats
    EXPECT_EQ(StateOf(K()).scramble.scrambleTable[63], (63 + ' ' + 550) % 92);  // 63 mod 19 = 6: the space

    clock_t before = GameStartTime;
    int8_t saved[64];
    memcpy(saved, StateOf(K()).scramble.scrambleTable, 64);
    K().SetNum(551);
    EXPECT_EQ(K().GetNum(), 551);
    EXPECT_EQ(StateOf(K()).scramble.scrambleTable[0], 82);
    EXPECT_GE(GameStartTime, before);

    // Game 0 or an empty keyword keeps the previous table.
    memcpy(saved, StateOf(K()).scramble.scrambleTable, 64);
    K().SetNum(0);
    EXPECT_EQ(memcmp(saved, StateOf(K()).scramble.scrambleTable, 64), 0);
    K().SetNum(-4);
    EXPECT_EQ(memcmp(saved, StateOf(K()).scramble.scrambleTable, 64), 0);
    K().SetNum(551);
    K().SetKeyword("");
    EXPECT_EQ(memcmp(saved, StateOf(K()).scramble.scrambleTable, 64), 0);

    K().SetKeyword(string(3000, 'k'));
    EXPECT_EQ(strlen(StateOf(K()).scramble.scrambleKeyword), 1023u);
}

TEST_F(WebTest, ScrambleKnownValuesAndEdges) {
    // A fresh object: table of zeros, printable text passes unchanged.
    const string printable = "Hello {World 123 !\"#$%&'()*+,-./:;<=>?@[\\]^_`az{";
    EXPECT_EQ(K().ScrambleTxt(printable), printable);
    K().SetKeyword("");
    K().SetNum(0);
    EXPECT_EQ(K().ScrambleTxt("Plain"), "Plain");
    EXPECT_EQ(K().ScrambleTxt(""), "");

    K().gameNumber = 550;
    K().SetKeyword("Sample keyword text");
    // Worked out with an independent script of the algorithm.
    EXPECT_EQ(K().ScrambleTxt("AB!"), "6;+");
    EXPECT_EQ(K().ScrambleTxt("123456{Tam C++{0550{0001{0000{10{1{15{2{20{3{KELP{"),
              "&+=Sfs$m-]3rz1Q+Gr90X Hn{g2T/T9k$u?{a*Xo]:aK%/^SDU");
    string range;
    for (int c = 32; c < 102; c++) range += char(c);
    EXPECT_EQ(K().ScrambleTxt(range + "xyz"),  // past 64 characters the table repeats
              "qv,BUb+@Pu=Z{3`*Bn;D\\%Nt8p<_;rFzE)b1pPl;sS0cR1gVD+rPG7uk^1o^QA+-#(:PcpK`p");

    // Characters outside 32..123 count as spaces.
    for (const char* odd : {"~", "|", "}", "\x7f", "\t", "\xe9"})
        EXPECT_EQ(K().ScrambleTxt(odd), K().ScrambleTxt(" ")) << int(uint8_t(odd[0]));
    EXPECT_EQ(K().ScrambleTxt(string("a\0b", 3)), K().ScrambleTxt("a b"));
}

TEST_F(WebTest, UnscrambleInvertsScramble) {
    std::mt19937 gen(77);
    for (int t = 0; t < 200; t++) {
        string keyword;
        size_t klen = 1 + gen() % 40;
        for (size_t i = 0; i < klen; i++) keyword += char(1 + gen() % 255);  // bytes above 127 too
        K().gameNumber = 1 + int(gen() % 100000);
        K().SetKeyword(keyword);
        for (int i = 0; i < 64; i++) {
            ASSERT_GE(StateOf(K()).scramble.scrambleTable[i], 0);
            ASSERT_LT(StateOf(K()).scramble.scrambleTable[i], 92);
        }
        string text;
        size_t len = gen() % 300;
        for (size_t i = 0; i < len; i++) text += char(32 + gen() % 92);
        string scrambled = K().ScrambleTxt(text);
        ASSERT_EQ(scrambled.size(), text.size());
        for (char c : scrambled) {
            ASSERT_GE(c, 32);
            ASSERT_LE(c, 123);
        }
        ASSERT_EQ(K().UnscrambleTxt(scrambled), text) << "keyword length " << klen;
    }
    // Outside the range the round trip gives spaces, as the scramble saw them.
    K().SetKeyword("key");
    EXPECT_EQ(K().UnscrambleTxt(K().ScrambleTxt("a~b")), "a b");
}

// ---- Escaping --------------------------------------------------------------------

TEST_F(WebTest, EscapeValue) {
    EXPECT_EQ(K().EscapeValue("a b&c"), "a*!U!*b*!A!*c");
    struct Case { char c; const char* code; };
    const Case codes[] = {
        {'&', "*!A!*"}, {'\\', "*!B!*"}, {'\'', "*!C!*"}, {'`', "*!D!*"}, {'"', "*!E!*"},
        {'/', "*!F!*"}, {'>', "*!G!*"},  {'#', "*!H!*"},  {'^', "*!I!*"}, {'{', "*!J!*"},
        {'}', "*!K!*"}, {'<', "*!L!*"},  {'|', "*!M!*"},  {'%', "*!P!*"}, {'?', "*!Q!*"},
        {'+', "*!R!*"}, {'$', "*!S!*"},  {',', "*!T!*"},  {' ', "*!U!*"},
    };
    for (const Case& c : codes) EXPECT_EQ(K().EscapeValue(string(1, c.c)), c.code) << c.c;
    EXPECT_EQ(K().EscapeValue("az09*!=;:()[]@_-.~"), "az09*!=;:()[]@_-.~");
    // Control bytes and DEL are percent-escaped, so none reaches the request.
    EXPECT_EQ(K().EscapeValue("a\r\nb\tc\x01\x1f\x7f"), "a%0D%0Ab%09c%01%1F%7F");
    EXPECT_EQ(K().EscapeValue("\xc3\xa9t\xe9!\x80"), "t!");  // bytes 128..255 dropped
    EXPECT_EQ(K().EscapeValue(string("ab\0c d", 6)), "ab");  // stops at the first NUL
    EXPECT_EQ(K().EscapeValue(""), "");
}

// ---- The exchange against a local server -------------------------------------------

// A listening socket on a free loopback port.
int ListenOnLoopback(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    listen(fd, 4);
    return fd;
}

// A loopback port that was free a moment ago: nobody listens there.
int UnusedPort() {
    int port = 0;
    close(ListenOnLoopback(&port));
    return port;
}

// Reads a request up to the end of its head.
string ReadRequestHead(int c) {
    string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == string::npos) {
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, size_t(n));
    }
    return request;
}

// Accepts one connection, reads the request, then sends the chunks with a
// pause between them so that each arrives as its own receive. With `hold`
// set it keeps the connection open afterwards until the test ends.
class TinyServer {
public:
    TinyServer(std::vector<string> chunks, bool hold, int gapMs = 150, bool reset = false)
        : chunks_(std::move(chunks)), hold_(hold), gapMs_(gapMs), reset_(reset) {
        fd_ = ListenOnLoopback(&port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~TinyServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }
    string request() const { return request_; }

private:
    void Run() {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        request_ = ReadRequestHead(c);
        for (size_t i = 0; i < chunks_.size(); i++) {
            for (int waited = 0; i && waited < gapMs_ && !stop_; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            send(c, chunks_[i].data(), chunks_[i].size(), MSG_NOSIGNAL);
        }
        for (int i = 0; hold_ && !stop_ && i < 1000; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (reset_) {
            // Broken off: the client sees a reset, not an end.
            linger drop = {1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
        }
        close(c);
    }
    std::vector<string> chunks_;
    bool hold_;
    int gapMs_;
    bool reset_;
    int fd_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    string request_;
    std::thread thread_;
};

// The data block is found wherever the network cuts the answer, in a body
// read by its length, in chunks or to the connection's end, or in an answer
// with no status line at all.
TEST_F(WebTest, RequestTextAndMarkerScan) {
    const string S = "[-\r\nData-]", E = "[-\r\nEnd-]";
    const string body = "<p>" + S + "Rank 1" + E + "</p>";
    struct Case { const char* name; std::vector<string> chunks; string want; };
    const Case cases[] = {
        {"one chunk", {"xx" + S + "\r\nOK\r\n" + E + "yy"}, "\r\nOK\r\n"},
        {"headers first", {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n", body}, "Rank 1"},
        {"start marker split", {"xx[-\r\nDa", "ta-]OK" + E}, "OK"},
        {"end marker split", {S + "AB[-\r\nE", "nd-]"}, "AB"},
        {"end in a later chunk", {S + "AB", "CD" + E}, "ABCD"},
        {"head split", {"HTT", "P/1.1 200 OK\r\nContent-Le", "ngth: " + std::to_string(body.size()) + "\r\n\r", "\n" + body}, "Rank 1"},
        {"only other bytes kept", {S + "A\x01\tB\xff" "C\r" + E}, "ABC\r"},
        {"end before start", {E + "x" + S + "OK" + E}, "OK"},
        {"empty data", {S + E}, ""},
        {"the server's refusal", {"HTTP/1.1 404 Not Found\r\nContent-Length: 40\r\n\r\n" + S + "ERROR\r\nunknown page\r\n" + E}, "ERROR\r\nunknown page\r\n"},
        {"an interim answer first", {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n\r\n" + S + "OK" + E}, "OK"},
    };
    for (const Case& c : cases) {
        ASys.webResult = "stale";
        TinyServer server(c.chunks, false);
        ASys.webPort = server.port();
        string got = K().GetURL("127.0.0.1", "Scores.php?Game=550&Score=", "a b");
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_EQ(ASys.webResult, c.want) << c.name;
        EXPECT_EQ(server.request(),
                  "GET /Scores.php?Game=550&Score=a*!U!*b HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
            << c.name;
    }
    ASys.webPort = 80;
}

// Only a whole data block is an answer: one cut short, a redirect or a body
// with no block is a failure, which the log says, and the answer is empty.
// Chunks are put together again.
TEST_F(WebTest, OnlyAWholeDataBlockIsAnAnswer) {
    const string S = "[-\r\nData-]", E = "[-\r\nEnd-]";
    const string rank = "OK\r\nRank 12 of 40\r\n";
    const string block = S + rank + E;
    const string ok = "HTTP/1.1 200 OK\r\n";
    struct Case {
        const char* name;
        std::vector<string> chunks;
        bool reset;        // broken off at the end rather than closed
        string want;
        const char* line;  // what the log says, or null for nothing
    };
    const Case cases[] = {
        {"reset after Rank 1", {ok + "Content-Length: " + std::to_string(block.size()) + "\r\n\r\n" + S + "OK\r\nRank 1"},
         true, "", "answer from 127.0.0.1 was cut off before its end; not used"},
        {"shorter than its length", {ok + "Content-Length: 100\r\n\r\n" + S + "OK\r\nRank 1"}, false, "",
         "answer from 127.0.0.1 was cut off before its end; not used"},
        {"reset in a body to the end", {ok + "\r\n" + S + "OK\r\nRank 1"}, true, "",
         "answer from 127.0.0.1 was cut off before its end; not used"},
        {"ended before the end marker", {ok + "\r\n" + S + "OK\r\nRank 1"}, false, "",
         "answer from 127.0.0.1 ends without its end marker; not used"},
        {"a block over its length", {ok + "Content-Length: 20\r\n\r\n" + block}, false, "",
         "answer from 127.0.0.1 ends without its end marker; not used"},
        {"no block", {ok + "Content-Length: 5\r\n\r\nhello"}, false, "", "answer from 127.0.0.1 (status 200) has no data"},
        {"nothing at all", {}, false, "", "answer from 127.0.0.1 has no data"},
        {"chunks", {ok + "Transfer-Encoding: chunked\r\n\r\n", "5\r\n[-\r\nD\r\n", "9;ext=\"1\"\r\nata-]OK\r\n\r\n",
                    "14\r\nRank 12 of 40\r\n[-\r\nE\r\n", "4\r\nnd-]\r\n0\r\nTrailer: x\r\n\r\n"},
         false, rank, nullptr},
        {"chunks cut short", {ok + "Transfer-Encoding: chunked\r\n\r\n10\r\n" + S + "OK\r\nRan"}, false, "",
         "answer from 127.0.0.1 was cut off before its end; not used"},
        {"a chunk size that is none", {ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n" + block + "\r\n0\r\n\r\n"}, false, "",
         "answer from 127.0.0.1 is not HTTP that can be read; not used"},
        {"a coding it cannot read", {ok + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"}, false, "",
         "answer from 127.0.0.1 is not HTTP that can be read; not used"},
        {"two lengths", {ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n" + block}, false, "",
         "answer from 127.0.0.1 is not HTTP that can be read; not used"},
        {"too many requests", {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: 1\r\nContent-Length: 44\r\n\r\n" + S +
                               "ERROR\r\ntoo many records\r\n" + E},
         false, "", "127.0.0.1 asks for fewer requests (status 429); not used"},
        {"a redirect", {"HTTP/1.1 302 Found\r\nLocation: http://elsewhere.invalid/Scores.php\r\nContent-Length: " +
                        std::to_string(block.size()) + "\r\n\r\n" + block},
         false, "", "answer from 127.0.0.1 is a redirect to http://elsewhere.invalid/Scores.php; not followed"},
    };
    for (const Case& c : cases) {
        ASys.webFailureSaid = false;
        ASys.webResult = "stale";
        TinyServer server(c.chunks, false, 50, c.reset);
        ASys.webPort = server.port();
        ::testing::internal::CaptureStdout();
        string got = K().GetURL("127.0.0.1", "Scores.php?Game=550&Score=", "x");
        string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(got, c.want) << c.name;
        if (c.line) {
            EXPECT_NE(out.find(string("> Web: ") + c.line + "\n"), string::npos) << c.name << ": " << out;
        } else {
            EXPECT_EQ(out, "") << c.name;
        }
    }
    ASys.webPort = 80;
}

// A clock for the failure log, moved by hand.
int64_t handNow = 0;
int64_t HandClock() { return handNow; }

// With the server down the demo sends its record on every update while V is
// held: the failure is said once a second at most, with how many failed,
// and an answer that comes at last says how many went unsaid before it.
TEST_F(WebTest, AFailingRequestIsLoggedOnceASecondWithACount) {
    ASys.webPort = UnusedPort();
    int64_t (*realClock)() = WebClockMs;
    WebClockMs = HandClock;
    handNow = 100000;
    ::testing::internal::CaptureStdout();
    for (int update = 0; update < 100; update++, handNow += 16) ThisGame.SubmitTestScore();
    string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Could not connect\nCould not connect (63 failed requests in 1.0 s)\n");

    TinyServer server({"[-\r\nData-]OK[-\r\nEnd-]"}, false);
    ASys.webPort = server.port();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(K().GetURL("127.0.0.1", "p?q=", "1"), "OK");
    out = ::testing::internal::GetCapturedStdout();
    WebClockMs = realClock;
    ASys.webPort = 80;
    EXPECT_NE(out.find("> Web: 36 failed requests before this answer\n"), string::npos) << out;
}

// A value holding CR LF cannot add header lines: the request keeps its own
// three lines and the value stays inside the request line.
TEST_F(WebTest, ControlBytesInTheValueStayInTheRequestLine) {
    TinyServer server({"[-\r\nData-]ok[-\r\nEnd-]"}, false);
    ASys.webPort = server.port();
    EXPECT_EQ(K().GetURL("127.0.0.1", "Scores.php?Game=550&Score=", "1\r\nX-Injected: yes\r\n\r\n"), "ok");
    ASys.webPort = 80;
    EXPECT_EQ(server.request(),
              "GET /Scores.php?Game=550&Score=1%0D%0AX-Injected:*!U!*yes%0D%0A%0D%0A HTTP/1.1\r\n"
              "Host: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

TEST_F(WebTest, HostNamesAreResolved) {
    TinyServer server({"[-\r\nData-]hi[-\r\nEnd-]"}, false);
    ASys.webPort = server.port();
    EXPECT_EQ(K().GetURL("localhost", "p?q=", "1"), "hi");
    EXPECT_NE(server.request().find("Host: localhost\r\n"), string::npos);
    ASys.webPort = 80;
}

// No answer came, so there is none: not the last exchange's, which a game
// would take for this one's.
TEST_F(WebTest, AnUnknownOrEmptyHostGivesNoAnswerAndSaysWhy) {
    for (const char* host : {"no-such-host.invalid", ""}) {
        ASys.webResult = "previous";
        ASys.webFailureSaid = false;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(K().GetURL(host, "Scores.php?Game=550&Score=", "x"), "") << host;
        string out = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(string("> Web: no such host \"") + host + "\""), string::npos) << out;
    }
}

TEST_F(WebTest, RefusedConnectionGivesEmptyAnswerAtOnce) {
    ASys.webPort = UnusedPort();
    ASys.webResult = "previous";
    auto t0 = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStdout();
    string got = K().GetURL("127.0.0.1", "x", "y");
    string out = ::testing::internal::GetCapturedStdout();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(got, "");
    EXPECT_EQ(out.rfind("Could not connect", 0), 0u) << out;
    EXPECT_LT(ms, 1000);
    ASys.webPort = 80;
}

// A server that accepts and then never answers: the receive gives up after
// three seconds. One that answers and then holds the connection open is
// not waited for: its answer is whole.
TEST_F(WebTest, SilentOrOpenServerIsBounded) {
    {
        TinyServer server({}, true);
        ASys.webPort = server.port();
        auto t0 = std::chrono::steady_clock::now();
        ::testing::internal::CaptureStdout();
        string got = K().GetURL("127.0.0.1", "x", "y");
        string out = ::testing::internal::GetCapturedStdout();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(got, "");
        EXPECT_GE(s, 2.9);
        EXPECT_LT(s, 4.5);
        EXPECT_NE(out.find("no answer from 127.0.0.1 within 3 seconds"), string::npos) << out;
    }
    {
        TinyServer server({"HTTP/1.1 200 OK\r\n\r\n[-\r\nData-]kept[-\r\nEnd-]"}, true);
        ASys.webPort = server.port();
        ::testing::internal::CaptureStdout();
        string got = K().GetURL("127.0.0.1", "x", "y");
        string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(got, "kept");
        EXPECT_EQ(out, "");
    }
    ASys.webPort = 80;
}

// A server that sends a byte now and then never lets a single receive time
// out; the whole answer is still bounded.
TEST_F(WebTest, TricklingServerIsBounded) {
    std::vector<string> chunks = {"[-\r\nData-]partial"};
    for (int i = 0; i < 20; i++) chunks.push_back(".");
    TinyServer server(chunks, true, 900);
    ASys.webPort = server.port();
    auto t0 = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStdout();
    string got = K().GetURL("127.0.0.1", "x", "y");
    string out = ::testing::internal::GetCapturedStdout();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASys.webPort = 80;
    EXPECT_EQ(got, "");  // a start marker with no end is no answer
    EXPECT_GE(s, 9.9);
    EXPECT_LT(s, 11.5);
    EXPECT_NE(out.find("answer from 127.0.0.1 took over 10 seconds; stopped"), string::npos) << out;
}

// Accepts one connection, reads the request, then sends `block` again and
// again as fast as the client takes it: for `seconds`, or `times` blocks,
// after which it holds the connection open until the test ends.
class FloodServer {
public:
    FloodServer(string block, double seconds, long times) : block_(std::move(block)), seconds_(seconds), times_(times) {
        fd_ = ListenOnLoopback(&port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~FloodServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }

private:
    void Run() {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        ReadRequestHead(c);
        // A short send timeout, so that a stop is seen while the client reads nothing.
        timeval tv = {0, 100000};
        setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds_);
        for (long sent = 0; !stop_ && sent < times_ && std::chrono::steady_clock::now() < end;) {
            ssize_t n = send(c, block_.data(), block_.size(), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
            if (n == ssize_t(block_.size())) sent++;
        }
        while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        close(c);
    }
    string block_;
    double seconds_;
    long times_;
    int fd_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A clock for the exchange that moves on half a second at every reading.
int64_t steppingNow = 0;
int clockReadings = 0;
int64_t SteppingClock() {
    clockReadings++;
    return steppingNow += 500;
}

// A server that floods data never lets a receive wait, so the whole
// answer's deadline must be checked on every read; and what is kept of a
// flood of data blocks is bounded.
TEST_F(WebTest, FloodingServerIsBounded) {
    {
        // Time is driven here: the 10 seconds pass within a few reads,
        // whatever the flood does, and the exchange must end at once.
        FloodServer server(string(65536, 'x'), 60, 1L << 40);
        ASys.webPort = server.port();
        clockReadings = 0;
        int64_t (*realClock)() = WebClockMs;
        WebClockMs = SteppingClock;
        ::testing::internal::CaptureStdout();
        string got = K().GetURL("127.0.0.1", "x", "y");
        string out = ::testing::internal::GetCapturedStdout();
        WebClockMs = realClock;
        EXPECT_EQ(got, "");
        EXPECT_NE(out.find("answer from 127.0.0.1 took over 10 seconds; stopped"), string::npos) << out;
        // Connecting and sending look a few times, ten seconds of answer
        // twenty more; a read after that would take more looks.
        EXPECT_LT(clockReadings, 60);
    }
    {
        // 8 MB of blocks, each its own start of data, then silence.
        string block = "[-\r\nData-]" + string(8192 - 10, 'y');
        FloodServer server(block, 40, 1024);
        ASys.webPort = server.port();
        ::testing::internal::CaptureStdout();
        string got = K().GetURL("127.0.0.1", "x", "y");
        string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(got, "");
        EXPECT_NE(out.find("answer from 127.0.0.1 over 65536 bytes; stopped"), string::npos) << out;
    }
    ASys.webPort = 80;
}

// The demo logs the score server's answer; a server must not be able to add
// lines of its own to the game's log.
TEST_F(WebTest, TheDemoLogsAnAnswerOnOneLineWithControlBytesEscaped) {
    TinyServer server({"[-\r\nData-]OK\r\n      12> Reset User\n\\x\x7f\r\n[-\r\nEnd-]"}, false);
    ASys.webPort = server.port();
    ::testing::internal::CaptureStdout();
    ThisGame.SubmitTestScore();
    string out = ::testing::internal::GetCapturedStdout();
    ASys.webPort = 80;
    EXPECT_EQ(ASys.webResult, "OK\r\n      12> Reset User\n\\x\x7f\r\n");
    ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    const string logged = "> OK\\r\\n      12> Reset User\\n\\\\x\\x7F\\r\\n\n";
    ASSERT_GE(out.size(), logged.size());
    EXPECT_EQ(out.substr(out.size() - logged.size()), logged) << out;
}

// ---- The request that never holds the game ----------------------------------------

// Accepts one connection, reads the request, then sends its pieces one by
// one: each at least `gapMs` after the last, and only once the game has run
// `updatesPerPiece` more updates (its count in `updates`). A request that
// held the game would keep the next piece from ever being sent.
class PacedServer {
public:
    PacedServer(std::vector<string> pieces, int gapMs, const std::atomic<int>& updates, int updatesPerPiece)
        : pieces_(std::move(pieces)), gapMs_(gapMs), updates_(updates), perPiece_(updatesPerPiece) {
        fd_ = ListenOnLoopback(&port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~PacedServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }
    // The game's update count when each piece went out.
    std::vector<int> sentAt() const {
        std::lock_guard<std::mutex> hold(lock_);
        return sentAt_;
    }

private:
    void Run() {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ReadRequestHead(c);
        int last = updates_;
        for (const string& piece : pieces_) {
            auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(gapMs_);
            while (!stop_ && (std::chrono::steady_clock::now() < due || updates_ - last < perPiece_))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (stop_) break;
            last = updates_;
            send(c, piece.data(), piece.size(), MSG_NOSIGNAL);
            std::lock_guard<std::mutex> hold(lock_);
            sentAt_.push_back(last);
        }
        close(c);
    }
    std::vector<string> pieces_;
    int gapMs_;
    const std::atomic<int>& updates_;
    int perPiece_;
    int fd_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<int> sentAt_;
    std::thread thread_;
};

// Against a server that answers a byte a second (its first five, then the
// rest at once, within the ten seconds an answer may take): the game's
// updates go on at their pace while the request is under way (the server
// sends each byte only once the game has run ten more updates), no call of
// the three holds an update, and the answer arrives whole.
TEST_F(WebTest, ARequestNeverHoldsTheGameAndItsAnswerArrivesWhole) {
    std::atomic<int> updates{0};
    std::vector<string> pieces = {"H", "T", "T", "P", "/", "1.1 200 OK\r\nContent-Length: 30\r\n\r\n"
                                                           "[-\r\nData-]Rank 3 of 7[-\r\nEnd-]"};
    PacedServer server(pieces, 1000, updates, 10);
    ASys.webPort = server.port();
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(1, K().RequestURL("127.0.0.1", "Scores.php?Game=550&Score=", "a b"));
    EXPECT_EQ(0, K().RequestURL("127.0.0.1", "Scores.php?Game=550&Score=", "again")) << "one at a time";
    double longestCall = 0;
    auto start = std::chrono::steady_clock::now();
    std::vector<string> answers;
    // The game's loop: an update every 16 ms, each looking at the request;
    // a minute at most, far beyond the answer's ten seconds.
    while (K().URLPending() && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
        auto t0 = std::chrono::steady_clock::now();
        answers.push_back(K().URLAnswer());
        K().URLPending();
        longestCall = std::max(longestCall, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        updates++;
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    string out = ::testing::internal::GetCapturedStdout();
    ASys.webPort = 80;
    EXPECT_EQ(0, K().URLPending());
    EXPECT_EQ("Rank 3 of 7", K().URLAnswer()) << out;
    EXPECT_EQ("", out);
    for (const string& a : answers) EXPECT_EQ("", a) << "no answer before it has come whole";
    // Every byte went out after ten more updates: the game never stood still.
    std::vector<int> sent = server.sentAt();
    ASSERT_EQ(pieces.size(), sent.size());
    for (size_t i = 1; i < sent.size(); i++) EXPECT_GE(sent[i] - sent[i - 1], 10);
    printf("%d updates in %.1f s while the request was under way (%.0f a second); the longest call %.2f ms\n",
           updates.load(), took, updates / took, longestCall * 1000);
}

// A request that fails says why on the log when the game looks, and its
// answer is empty; the next one starts afresh. The escaping is GetURL's.
TEST_F(WebTest, AFailedRequestSaysWhyAndTheNextStartsAfresh) {
    ASys.webPort = UnusedPort();
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(1, K().RequestURL("127.0.0.1", "x", "y"));
    auto start = std::chrono::steady_clock::now();
    while (K().URLPending() && std::chrono::steady_clock::now() - start < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ("", K().URLAnswer());
    EXPECT_EQ("Could not connect\n", out);

    TinyServer server({"HTTP/1.1 200 OK\r\n\r\n[-\r\nData-]fine[-\r\nEnd-]"}, false);
    ASys.webPort = server.port();
    ASSERT_EQ(1, K().RequestURL("localhost", "Scores.php?Game=550&Score=", "a b&c"));
    start = std::chrono::steady_clock::now();
    while (K().URLPending() && std::chrono::steady_clock::now() - start < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASys.webPort = 80;
    EXPECT_EQ("fine", K().URLAnswer());
    EXPECT_EQ(server.request(),
              "GET /Scores.php?Game=550&Score=a*!U!*b*!A!*c HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
}

// The game ends with a request under way to a server that never answers:
// the end does not wait for the three seconds, says so, and leaves no
// thread touching the game (the request ends with its record).
TEST_F(WebTest, ARequestUnderWayIsStoppedAtTheEnd) {
    TinyServer server({}, true);
    ASys.webPort = server.port();
    ASSERT_EQ(1, K().RequestURL("127.0.0.1", "x", "y"));
    EXPECT_EQ(1, K().URLPending());
    ::testing::internal::CaptureStdout();
    auto t0 = std::chrono::steady_clock::now();
    ASys.EndURLData();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    string out = ::testing::internal::GetCapturedStdout();
    ASys.webPort = 80;
    EXPECT_NE(out.find("> Web: request to 127.0.0.1 stopped, unanswered, as the game ends\n"), string::npos) << out;
    EXPECT_LT(s, 2.5) << "the end waited for the server";
    EXPECT_EQ(0, K().URLPending());
    EXPECT_EQ("", K().URLAnswer());
}

// ---- Browser launcher -------------------------------------------------------------

string ReadAll(const string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WaitForFile(const string& path, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (access(path.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST_F(WebTest, OpenBrowserPassesTheUrlAsOneArgument) {
    char tmpl[] = "/tmp/kelp_browser_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const string dir = tmpl;
    const string script = dir + "/xdg-open";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s' \"$#\" > '" << dir << "/argc'\nprintf '%s' \"$1\" > '" << dir << "/argv1.part'\n"
            << "mv '" << dir << "/argv1.part' '" << dir << "/argv1'\n";
    }
    chmod(script.c_str(), 0755);
    const char* oldPath = getenv("PATH");
    const string saved = oldPath ? oldPath : "";
    setenv("PATH", (dir + ":" + saved).c_str(), 1);

    const string url = "http://example.invalid/?a=1;touch " + dir + "/m1 $(touch " + dir + "/m2) `touch " + dir +
                       "/m3` && touch " + dir + "/m4 | touch " + dir + "/m5 'q\"' \\\nx";
    K().OpenBrowser(url);
    setenv("PATH", saved.c_str(), 1);
    // The opener runs on its own; its last file marks its end.
    ASSERT_TRUE(WaitForFile(dir + "/argv1", 30));

    EXPECT_EQ(ReadAll(dir + "/argc"), "1");
    EXPECT_EQ(ReadAll(dir + "/argv1"), url);
    for (const char* marker : {"m1", "m2", "m3", "m4", "m5"})
        EXPECT_NE(access((dir + "/" + marker).c_str(), F_OK), 0) << marker << " was created";
    for (const char* f : {"argc", "argv1", "xdg-open"}) unlink((dir + "/" + f).c_str());
    rmdir(dir.c_str());
}

// The opener can take seconds to start a browser: the game goes on at once.
// A URL that starts with "-" would be an option to it, and is refused.
TEST_F(WebTest, OpenBrowserRefusesOptionsAndDoesNotWait) {
    char tmpl[] = "/tmp/kelp_browser_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const string dir = tmpl;
    {
        // Notes its arguments, then waits until the test lets it finish.
        std::ofstream out(dir + "/xdg-open");
        out << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << dir << "/args'\n: > '" << dir << "/started'\n"
            << "i=0\nwhile [ ! -e '" << dir << "/release' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
            << ": > '" << dir << "/finished'\n";
    }
    chmod((dir + "/xdg-open").c_str(), 0755);
    const char* oldPath = getenv("PATH");
    const string saved = oldPath ? oldPath : "";
    setenv("PATH", (dir + ":" + saved).c_str(), 1);

    ::testing::internal::CaptureStdout();
    K().OpenBrowser("--help");
    K().OpenBrowser("-x http://example.invalid/");
    K().OpenBrowser("http://example.invalid/page");
    string out = ::testing::internal::GetCapturedStdout();
    setenv("PATH", saved.c_str(), 1);
    EXPECT_FALSE(access((dir + "/finished").c_str(), F_OK) == 0) << "OpenBrowser waited for the opener";
    EXPECT_NE(out.find("> Not opened, would read as an option: --help\n"), string::npos) << out;
    EXPECT_NE(out.find("> Not opened, would read as an option: -x http://example.invalid/\n"), string::npos) << out;

    ASSERT_TRUE(WaitForFile(dir + "/started", 30));
    std::ofstream(dir + "/release").put('\n');
    ASSERT_TRUE(WaitForFile(dir + "/finished", 30));
    EXPECT_EQ(ReadAll(dir + "/args"), "http://example.invalid/page\n");
    for (const char* f : {"args", "started", "release", "finished", "xdg-open"}) unlink((dir + "/" + f).c_str());
    rmdir(dir.c_str());
}

}  // namespace
