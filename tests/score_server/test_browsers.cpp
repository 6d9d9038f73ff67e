// The score server for pages in a browser: the origin it lets read its
// answers, and the browser build's folder served beside the scores.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/KELPCore.h"
#include "score_server.h"

namespace {

struct Reply {
    int status = 0;
    std::string head;   // status line and headers, lower-cased
    std::string body;

    // The value of a header, or "-" when it is absent.
    std::string Header(const std::string& name) const {
        std::string key = "\r\n" + name + ": ";
        size_t at = head.find(key);
        if (at == std::string::npos) return "-";
        size_t end = head.find("\r\n", at + key.size());
        return head.substr(at + key.size(), end - at - key.size());
    }
};

// One request on its own connection, read until the server closes.
Reply Get(int port, const std::string& target) {
    Reply r;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return r;
    }
    std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://games.example\r\n"
                      "Connection: close\r\n\r\n";
    send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[8192];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, size_t(n));
    close(fd);
    size_t split = all.find("\r\n\r\n");
    if (all.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return r;
    r.status = atoi(all.c_str() + 9);
    r.head = all.substr(0, split + 2);
    for (char& c : r.head) c = char(tolower((unsigned char)c));
    r.body = all.substr(split + 4);
    return r;
}

std::string TempDir() {
    char tmpl[] = "/tmp/kelp_web_XXXXXX";
    return mkdtemp(tmpl);
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct Server {
    std::unique_ptr<scores::ScoreServer> server;
    explicit Server(scores::ServerOptions o) {
        o.port = 0;
        o.db = TempDir() + "/scores.db";
        server.reset(new scores::ScoreServer(o));
        std::string error;
        EXPECT_TRUE(server->Open(&error)) << error;
        server->Start();
    }
    int port() const { return server->port(); }
};

// A scrambled, escaped test record as the demo sends it.
std::string ScoreTarget() {
    std::unique_ptr<KELPCore> key(new KELPCore());
    key->gameNumber = 550;
    key->SetKeyword("Sample keyword text");
    std::string plain = "202612061230451234567{Tam C++{0550{0001{0000{10{1{15{2{20{3{KELP{";
    return "/Scores.php?Game=550&Score=" + key->EscapeValue(key->ScrambleTxt(plain));
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
        Server live(o);
        Reply scored = Get(live.port(), ScoreTarget());
        EXPECT_EQ(200, scored.status);
        EXPECT_NE(std::string::npos, scored.body.find("OK\r\nScore 0\r\nRank 1 of 1\r\n")) << scored.body;
        EXPECT_EQ(c.header, scored.Header("access-control-allow-origin"));
        // Refusals are read by the page too.
        Reply refused = Get(live.port(), "/Scores.php?Game=550&Score=x");
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
    scores::ServerOptions o;
    o.webRoot = dir;
    Server live(o);

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
        {"/missing.js", 404, nullptr, ""},
        // Nothing above the folder is served.
        {"/../secret.txt", 404, nullptr, ""},
        {"/%2e%2e/secret.txt", 404, nullptr, ""},
    };
    for (const Case& c : cases) {
        Reply r = Get(live.port(), c.target);
        EXPECT_EQ(c.status, r.status) << c.target;
        EXPECT_EQ(std::string::npos, r.body.find("not for the page")) << c.target;
        if (c.type) {
            EXPECT_NE(std::string::npos, r.Header("content-type").find(c.type)) << c.target << ": " << r.head;
            EXPECT_EQ(c.body, r.body) << c.target;
        }
    }
    // The scores still answer on the same origin.
    Reply scored = Get(live.port(), ScoreTarget());
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

// A page's data pack is megabytes: a reader slower than the answer's first
// allowance of five seconds still gets all of it. The reader takes over ten
// seconds for 16 MiB; the kernel's buffers hold a few of them, so the server
// is still writing well past five seconds (a fixed allowance cut it at 9 MiB).
TEST(ScoreServerForBrowsers, ALargeFileReachesASlowReader) {
    const std::string dir = TempDir();
    std::string pack(16 << 20, '\0');
    for (size_t i = 0; i < pack.size(); i++) pack[i] = char(i * 2654435761u >> 24);
    Write(dir + "/MyGame.data", pack);
    scores::ServerOptions o;
    o.webRoot = dir;
    Server live(o);

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 64 << 10;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    timeval tv = {60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(live.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
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
