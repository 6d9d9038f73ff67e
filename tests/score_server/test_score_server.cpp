// The score server: accepted records, refused ones, ranking, load, and the
// executable with its options.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "core/KELPCore.h"
#include "game/MyGame.h"
#include "score_server.h"

extern char** environ;

namespace {

using scores::DataBlock;

struct HttpReply {
    int status = 0;
    std::string body;
};

// One request on its own connection, read until the server closes.
HttpReply Get(int port, const std::string& target, int waitSeconds = 10) {
    HttpReply r;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv = {waitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return r;
    }
    std::string req = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
    send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[8192];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, size_t(n));
    close(fd);
    if (all.compare(0, 9, "HTTP/1.1 ") == 0) r.status = atoi(all.c_str() + 9);
    size_t body = all.find("\r\n\r\n");
    if (body != std::string::npos) r.body = all.substr(body + 4);
    return r;
}

// Builds records the way the game does, with the game's key.
struct Records {
    std::unique_ptr<KELPCore> key{new KELPCore()};
    Records(int game = 550, const char* keyword = "Sample keyword text") {
        key->gameNumber = game;
        key->SetKeyword(keyword);
    }
    static std::string Plain(const std::string& name, int score, const char* uid = "202612061230451234567",
                             int game = 550, const char* tail = "10{1{15{2{20{3{KELP{") {
        char numbers[64];
        snprintf(numbers, sizeof numbers, "%04d{%04d{%04d{", game, 1, score);
        return std::string(uid) + "{" + name + "{" + numbers + tail;
    }
    std::string Escaped(const std::string& plain) { return key->EscapeValue(key->ScrambleTxt(plain)); }
    std::string Target(const std::string& plain, const char* game = "550") {
        return std::string("/Scores.php?Game=") + game + "&Score=" + Escaped(plain);
    }
};

std::string TempPath(const char* name) {
    char tmpl[] = "/tmp/kelp_scores_XXXXXX";
    return std::string(mkdtemp(tmpl)) + "/" + name;
}

int RowCount(const std::string& dbPath) {
    sqlite3* db = nullptr;
    int n = -1;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM scores", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

struct LiveServer {
    std::string db = TempPath("scores.db");
    std::unique_ptr<scores::ScoreServer> server;
    explicit LiveServer(scores::ServerOptions o = scores::ServerOptions()) {
        o.port = 0;
        o.db = db;
        server.reset(new scores::ScoreServer(o));
        std::string error;
        EXPECT_TRUE(server->Open(&error)) << error;
        server->Start();
    }
    int port() const { return server->port(); }
};

TEST(ScoreServer, StoresScoresAndAnswersRankAndTopFive) {
    LiveServer live;
    Records rec;
    struct Step { const char* name; int score; const char* answer; };
    const Step steps[] = {
        {"Ann", 50, "OK\r\nScore 50\r\nRank 1 of 1\r\n1. Ann 50\r\n"},
        {"Bob", 120, "OK\r\nScore 120\r\nRank 1 of 2\r\n1. Bob 120\r\n2. Ann 50\r\n"},
        {"Cy", 80, "OK\r\nScore 80\r\nRank 2 of 3\r\n1. Bob 120\r\n2. Cy 80\r\n3. Ann 50\r\n"},
        // Equal scores share a rank; the earlier one is listed first.
        {"Dee", 120, "OK\r\nScore 120\r\nRank 1 of 4\r\n1. Bob 120\r\n2. Dee 120\r\n3. Cy 80\r\n4. Ann 50\r\n"},
        {"Tam C++", 0, "OK\r\nScore 0\r\nRank 5 of 5\r\n1. Bob 120\r\n2. Dee 120\r\n3. Cy 80\r\n4. Ann 50\r\n5. Tam C++ 0\r\n"},
        {"Eve's {x}", 60, nullptr},  // '{' cannot be in a name: refused
        {"Fay", 90, "OK\r\nScore 90\r\nRank 3 of 6\r\n1. Bob 120\r\n2. Dee 120\r\n3. Fay 90\r\n4. Cy 80\r\n5. Ann 50\r\n"},
    };
    for (const Step& s : steps) {
        HttpReply r = Get(live.port(), rec.Target(Records::Plain(s.name, s.score)));
        if (s.answer) {
            EXPECT_EQ(r.status, 200) << s.name;
            EXPECT_EQ(r.body, DataBlock(s.answer)) << s.name;
        } else {
            EXPECT_EQ(r.status, 400) << s.name;
            EXPECT_EQ(r.body, DataBlock("ERROR\r\nwrong number of fields\r\n")) << s.name;
        }
    }
    EXPECT_EQ(RowCount(live.db), 6);

    // The stored fields, names with quotes and all.
    HttpReply r = Get(live.port(), rec.Target(Records::Plain("O'Neil \"Q\"", 7, "123", 550, "-4{0{15{2{20{3{KELP{")));
    EXPECT_EQ(r.status, 200) << r.body;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(live.db.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT game, user_id, name, version, score, extra FROM scores ORDER BY id DESC LIMIT 1",
                                 -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 550);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)), "123");
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)), "O'Neil \"Q\"");
    EXPECT_EQ(sqlite3_column_int(st, 3), 1);
    EXPECT_EQ(sqlite3_column_int(st, 4), 7);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 5)), "-4{0{15{2{20{3");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// The game's own client, marker scan included, against the server.
TEST(ScoreServer, AnswersTheFrameworkClient) {
    LiveServer live;
    KELPCore& game = *new KELPCore();
    game.gameNumber = 550;
    game.SetKeyword("Sample keyword text");
    ASys.webPort = live.port();
    std::string plain = Records::Plain("Tam C++", 0);
    std::string answer = game.GetURL("localhost", "Scores.php?Game=550&Score=", game.ScrambleTxt(plain));
    ASys.webPort = 80;
    EXPECT_EQ(answer, "OK\r\nScore 0\r\nRank 1 of 1\r\n1. Tam C++ 0\r\n");
    EXPECT_EQ(RowCount(live.db), 1);
    delete &game;
}

// A good record with its score field replaced.
std::string WithScore(const std::string& scoreText) {
    std::string plain = Records::Plain("Tam C++", 10);
    size_t at = plain.find("{0001{") + 6;
    return plain.replace(at, 4, scoreText);
}

TEST(ScoreServer, MalformedQueriesAnswerAnErrorAndStoreNothing) {
    LiveServer live;
    Records rec;
    const std::string good = Records::Plain("Tam C++", 10);
    const std::string goodEsc = rec.Escaped(good);
    std::string broken = goodEsc;
    size_t code = broken.find("*!");
    ASSERT_NE(code, std::string::npos);  // the record holds '{' and ' ', so codes appear
    broken.replace(code, 5, "*!Z!*");
    Records otherKey(550, "Another keyword");

    // `why` is the reason the answer must give; nullptr where the text
    // comes out garbled and any field check may be the one that fails.
    struct Case { const char* what; std::string target; int status; const char* why; };
    const Case cases[] = {
        {"no query", "/Scores.php", 400, "no Game"},
        {"no Score", "/Scores.php?Game=550", 400, "no Score"},
        {"empty Score", "/Scores.php?Game=550&Score=", 400, "no Score"},
        {"no Game", "/Scores.php?Score=" + goodEsc, 400, "no Game"},
        {"Game twice", "/Scores.php?Game=550&Game=550&Score=" + goodEsc, 400, "Game given twice"},
        {"Game not a number", "/Scores.php?Game=55x&Score=" + goodEsc, 400, "bad Game"},
        {"another game in the query", "/Scores.php?Game=551&Score=" + goodEsc, 400, "unknown game"},
        {"record's game differs", rec.Target(Records::Plain("Tam C++", 10, "1", 551)), 400, "game number does not match"},
        {"other page", "/scores.php?Game=550&Score=" + goodEsc, 404, "unknown page"},
        {"bytes above 127", "/Scores.php?Game=550&Score=" + goodEsc.substr(0, 6) + "\xc3\xa9" + goodEsc.substr(6), 400, "bytes outside printable ASCII"},
        {"percent escape", "/Scores.php?Game=550&Score=%41" + goodEsc, 400, "character that should be escaped"},
        {"unknown escape code", "/Scores.php?Game=550&Score=" + broken, 400, nullptr},
        {"cut-off escape", "/Scores.php?Game=550&Score=" + goodEsc + "*!J", 400, nullptr},
        {"raw character that needs escaping", "/Scores.php?Game=550&Score=" + goodEsc.substr(0, 4) + "/" + goodEsc.substr(4), 400, "character that should be escaped"},
        {"overlong record", rec.Target(Records::Plain(std::string(1100, 'N'), 10)), 400, "record too long"},
        {"overlong request line", "/Scores.php?Game=550&Score=" + std::string(9000, 'a'), 414, "bad request"},
        {"wrong keyword", otherKey.Target(good), 400, nullptr},
        {"plain text, not scrambled", "/Scores.php?Game=550&Score=" + rec.key->EscapeValue(good), 400, nullptr},
        {"user ID not digits", rec.Target(Records::Plain("Tam C++", 10, "12a4")), 400, "bad user ID"},
        {"empty name", rec.Target(Records::Plain("", 10)), 400, "bad name"},
        {"blank name", rec.Target(Records::Plain("   ", 10)), 400, "bad name"},
        {"name too long", rec.Target(Records::Plain(std::string(33, 'n'), 10)), 400, "bad name"},
        {"score too big", rec.Target(WithScore("12345678901")), 400, "bad score"},
        {"score negative", rec.Target(WithScore("-010")), 400, "bad score"},
        {"score short", rec.Target(WithScore("10")), 400, "bad score"},
        {"pair not a number", rec.Target(Records::Plain("Tam C++", 10, "1", 550, "10{x{15{2{20{3{KELP{")), 400, "bad extra fields"},
        {"pair missing", rec.Target(Records::Plain("Tam C++", 10, "1", 550, "10{1{15{2{20{KELP{")), 400, "wrong number of fields"},
        {"no end mark", rec.Target(Records::Plain("Tam C++", 10, "1", 550, "10{1{15{2{20{3{kelp{")), 400, "no KELP end mark"},
        {"no closing brace", rec.Target(Records::Plain("Tam C++", 10, "1", 550, "10{1{15{2{20{3{KELP")), 400, "wrong number of fields"},
        {"field after the end", rec.Target(Records::Plain("Tam C++", 10, "1", 550, "10{1{15{2{20{3{KELP{x{")), 400, "wrong number of fields"},
        {"not a path", "garbage", 404, "unknown page"},
    };
    for (const Case& c : cases) {
        HttpReply r = Get(live.port(), c.target);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.body.rfind("[-\r\nData-]ERROR\r\n", 0), 0u) << c.what << ": " << r.body;
        if (c.why) {
            EXPECT_EQ(r.body, DataBlock("ERROR\r\n" + std::string(c.why) + "\r\n")) << c.what;
        }
        EXPECT_GE(r.body.size(), 10u);
        EXPECT_EQ(r.body.substr(r.body.size() - 9), "[-\r\nEnd-]") << c.what;
    }
    EXPECT_EQ(RowCount(live.db), 0);
    // And the good one still goes in.
    EXPECT_EQ(Get(live.port(), "/Scores.php?Game=550&Score=" + goodEsc).status, 200);
    EXPECT_EQ(RowCount(live.db), 1);
}

TEST(ScoreServer, UnescapingInvertsTheEscaping) {
    Records rec;
    std::mt19937 gen(5);
    int checked = 0;
    for (int t = 0; t < 500; t++) {
        std::string text;
        size_t len = 1 + gen() % 80;
        for (size_t i = 0; i < len; i++) text += char(32 + gen() % 92);
        if (text.find("*!") != std::string::npos) continue;  // would read as a code
        std::string back, why;
        ASSERT_TRUE(scores::UnescapeValue(rec.key->EscapeValue(text), &back, &why)) << why;
        ASSERT_EQ(back, text);
        checked++;
    }
    EXPECT_GT(checked, 400);
}

// Many clients at once: every score that was answered OK is in the table.
TEST(ScoreServer, LoadLosesNoScore) {
    LiveServer live;
    Records rec;
    const int kThreads = 8, kEach = 250;
    std::vector<std::vector<std::string>> targets(kThreads);
    for (int t = 0; t < kThreads; t++)
        for (int i = 0; i < kEach; i++)
            targets[size_t(t)].push_back(rec.Target(Records::Plain("P" + std::to_string(t), t * 1000 + i)));
    std::atomic<int> ok{0};
    auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; t++)
        clients.emplace_back([&, t] {
            for (const std::string& target : targets[size_t(t)]) {
                HttpReply r = Get(live.port(), target);
                if (r.status == 200 && r.body.rfind("[-\r\nData-]OK\r\n", 0) == 0) ok++;
            }
        });
    for (std::thread& c : clients) c.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(ok.load(), kThreads * kEach);
    EXPECT_LT(seconds, 60.0);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(live.db.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name, score FROM scores", -1, &st, nullptr), SQLITE_OK);
    std::set<std::pair<std::string, int>> stored;
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        stored.insert({reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), sqlite3_column_int(st, 1)});
        rows++;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_EQ(rows, kThreads * kEach);
    for (int t = 0; t < kThreads; t++)
        for (int i = 0; i < kEach; i++)
            ASSERT_TRUE(stored.count({"P" + std::to_string(t), t * 1000 + i})) << t << "/" << i;
}

// ---- Slow and repeating clients ---------------------------------------------------

// A connection from a chosen local address: all of 127.0.0.0/8 is this
// machine, so a test can play several clients.
int ConnectFrom(const char* from, int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Takes what has arrived on fd without waiting; true once the server has
// closed the connection (a reset counts).
bool TakeAndSeeClosed(int fd, std::string* got) {
    char buf[4096];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            got->append(buf, size_t(n));
            continue;
        }
        if (n == 0) return true;
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
}

// Watches the connections until `want` of them are closed or `seconds` pass;
// returns how many are closed.
int WaitClosed(const std::vector<int>& fds, std::vector<bool>& closed, std::vector<std::string>& got, int want,
               double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int n = 0;
    for (bool c : closed) n += c;
    while (n < want && std::chrono::steady_clock::now() < end) {
        std::vector<pollfd> watch;
        for (size_t i = 0; i < fds.size(); i++)
            if (!closed[i]) watch.push_back({fds[i], POLLIN, 0});
        poll(watch.data(), watch.size(), 100);
        for (size_t i = 0; i < fds.size(); i++)
            if (!closed[i] && TakeAndSeeClosed(fds[i], &got[i])) {
                closed[i] = true;
                n++;
            }
    }
    return n;
}

TEST(ScoreServer, SixtyFourSlowConnectionsFromOneAddressDoNotDelayAScore) {
    scores::ServerOptions o;
    o.requestDeadlineMs = 300000;  // the slow connections stay for the whole test
    LiveServer live(o);
    const int kSlow = 64;
    std::vector<int> slow;
    for (int i = 0; i < kSlow; i++) {
        int fd = ConnectFrom("127.0.0.2", live.port());
        ASSERT_GE(fd, 0) << i;
        // Half of them send nothing; half start a request and then send a
        // byte now and then, never finishing it.
        if (i % 2) send(fd, "GET /Scores.php?Game=550&Score=", 31, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        while (!done) {
            for (size_t i = 1; i < slow.size(); i += 2) send(slow[i], "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });

    // Beyond its limit the address is turned away at once, with an answer
    // where the client has not sent anything the server would leave unread.
    const int kRefused = kSlow - o.connectionsPerAddress;
    std::vector<bool> closed(kSlow, false);
    std::vector<std::string> got(kSlow);
    EXPECT_EQ(WaitClosed(slow, closed, got, kRefused, 60), kRefused);
    const std::string busy = DataBlock("ERROR\r\ntoo many connections\r\n");
    for (int i = 0; i < kSlow; i += 2)
        if (closed[size_t(i)]) {
            EXPECT_EQ(got[size_t(i)].rfind("HTTP/1.1 503 ", 0), 0u) << got[size_t(i)];
            EXPECT_EQ(got[size_t(i)].substr(got[size_t(i)].size() - std::min(got[size_t(i)].size(), busy.size())), busy);
        }

    // With the rest still open, a score from elsewhere is answered while
    // they are held: they hold for the whole test, so a server they could
    // occupy would answer this only after they are closed. The time is shown,
    // not asserted (a loaded machine can stretch it); here it is milliseconds.
    Records rec;
    auto t0 = std::chrono::steady_clock::now();
    HttpReply r = Get(live.port(), rec.Target(Records::Plain("Tam C++", 10)), 30);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, 200) << r.body;
    RecordProperty("answer_ms", std::to_string(int(seconds * 1000)));
    printf("A score behind %d slow connections was answered in %.1f ms\n", kSlow, seconds * 1000);
    int open = 0;
    for (size_t i = 0; i < slow.size(); i++)
        if (!closed[i] && !TakeAndSeeClosed(slow[i], &got[i])) open++;
    EXPECT_EQ(open, o.connectionsPerAddress);

    done = true;
    trickle.join();
    for (int fd : slow) close(fd);
}

// A request has one deadline for all of it: a client that sends a byte now
// and then is cut off as surely as one that sends nothing.
TEST(ScoreServer, ARequestMustArriveWithinItsDeadline) {
    scores::ServerOptions o;
    o.requestDeadlineMs = 1000;
    LiveServer live(o);
    std::vector<int> fds = {ConnectFrom("127.0.0.2", live.port()), ConnectFrom("127.0.0.3", live.port())};
    ASSERT_GE(fds[0], 0);
    ASSERT_GE(fds[1], 0);
    auto t0 = std::chrono::steady_clock::now();
    send(fds[1], "GET /Scores.php?Game=550&Score=", 31, MSG_NOSIGNAL);
    std::vector<bool> closed(2, false);
    std::vector<std::string> got(2);
    std::vector<double> closedAfter(2, 0);
    while (closed != std::vector<bool>(2, true) &&
           std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30)) {
        if (!closed[1]) send(fds[1], "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        std::vector<bool> before = closed;
        WaitClosed(fds, closed, got, 2, 0.1);
        for (size_t i = 0; i < 2; i++)
            if (closed[i] && !before[i])
                closedAfter[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    for (size_t i = 0; i < 2; i++) {
        EXPECT_TRUE(closed[i]) << (i ? "trickling" : "silent") << " connection still open after 30 s";
        EXPECT_GE(closedAfter[i], 0.9) << i;   // and not before its time
    }
    EXPECT_EQ(got[0].rfind("HTTP/1.1 408 ", 0), 0u) << got[0];
    EXPECT_NE(got[0].find(DataBlock("ERROR\r\nrequest not complete in time\r\n")), std::string::npos) << got[0];
    for (int fd : fds) close(fd);
    // The server goes on answering.
    Records rec;
    EXPECT_EQ(Get(live.port(), rec.Target(Records::Plain("Tam C++", 10))).status, 200);
}

// The demo sends its record on every update while the button is held: a
// second of that stores one row, and every answer gives the same rank.
TEST(ScoreServer, AHeldSubmitButtonStoresOneRow) {
    LiveServer live;
    MyGame& game = ThisGame;
    game.gameNumber = 550;
    game.gameVersion = 1;
    game.SetKeyword("Sample keyword text");
    const int32_t id[3] = {20261210, 123045, 4567890};
    for (int i = 0; i < 3; i++) game.saveData[24 + i] = id[i];
    game.saveData[27] = id[0] % 37171 + id[1] % 17021 + id[2] % 53496;
    ASys.webPort = live.port();
    testing::internal::CaptureStdout();
    std::vector<std::string> answers;
    for (int update = 0; update < 60; update++) {
        game.SubmitTestScore();
        answers.push_back(ASys.webResult);
    }
    testing::internal::GetCapturedStdout();
    ASys.webPort = 80;
    EXPECT_EQ(RowCount(live.db), 1);
    EXPECT_EQ(answers, std::vector<std::string>(60, "OK\r\nScore 0\r\nRank 1 of 1\r\n1. Tam C++ 0\r\n"));

    // A different record is a new row; the first one sent again is not.
    Records rec;
    EXPECT_EQ(Get(live.port(), rec.Target(Records::Plain("Ann", 50))).status, 200);
    HttpReply again = Get(live.port(), rec.Target(Records::Plain("Ann", 50)));
    EXPECT_EQ(again.body, DataBlock("OK\r\nScore 50\r\nRank 1 of 2\r\n1. Ann 50\r\n2. Tam C++ 0\r\n"));
    EXPECT_EQ(RowCount(live.db), 2);
}

// ---- The executable ----------------------------------------------------------------

struct Process {
    pid_t pid = -1;
    int out = -1;
    std::string firstLine;
};

// Starts the server; its stdout is read up to the first line, its stderr
// goes to errFd when given.
Process Spawn(const std::vector<std::string>& args, int errFd = -1) {
    Process p;
    int pipefd[2];
    if (pipe(pipefd) != 0) return p;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    posix_spawn_file_actions_addclose(&fa, pipefd[0]);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&fa, errFd, 2);
    std::vector<char*> argv;
    std::string bin = SCORE_SERVER_BIN;
    argv.push_back(&bin[0]);
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn(&p.pid, bin.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(pipefd[1]);
    p.out = pipefd[0];
    char c;
    while (read(p.out, &c, 1) == 1 && c != '\n') p.firstLine += c;
    return p;
}

int WaitExit(Process& p) {
    int status = 0;
    // Up to a minute: a busy machine can be slow to finish a clean exit.
    for (int i = 0; i < 6000; i++) {
        if (waitpid(p.pid, &status, WNOHANG) == p.pid) {
            close(p.out);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(p.pid, SIGKILL);
    waitpid(p.pid, &status, 0);
    close(p.out);
    return -2;
}

int PortOf(const std::string& line) {
    size_t colon = line.find("127.0.0.1:");
    return colon == std::string::npos ? 0 : atoi(line.c_str() + colon + 10);
}

TEST(ScoreServerProgram, CreatesItsDatabaseAndKeepsScoresAcrossRestarts) {
    const std::string db = TempPath("fresh.db");
    ASSERT_NE(access(db.c_str(), F_OK), 0);
    Records rec;
    for (int run = 1; run <= 2; run++) {
        Process p = Spawn({"--address", "127.0.0.1", "--port", "0", "--db", db});
        int port = PortOf(p.firstLine);
        ASSERT_GT(port, 0) << p.firstLine;
        EXPECT_NE(p.firstLine.find(db), std::string::npos);
        HttpReply r = Get(port, rec.Target(Records::Plain("Run" + std::to_string(run), 10 * run)));
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.body.find("Rank 1 of " + std::to_string(run) + "\r\n"), std::string::npos) << r.body;
        kill(p.pid, SIGTERM);
        EXPECT_EQ(WaitExit(p), 0);
    }
    EXPECT_EQ(RowCount(db), 2);
}

// A failed insert is logged on stderr; when nobody reads that pipe the write
// blocks, and it must not block the other requests with it.
TEST(ScoreServerProgram, AStderrNobodyReadsStopsOnlyTheRequestThatLogs) {
    const std::string db = TempPath("refusing.db");
    {
        // The server's table, with a trigger that refuses one name with a
        // long reason: every refusal writes a few kilobytes to stderr.
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        std::string sql =
            "CREATE TABLE scores (id INTEGER PRIMARY KEY AUTOINCREMENT, game INTEGER NOT NULL,"
            " user_id TEXT NOT NULL, name TEXT NOT NULL, version INTEGER NOT NULL, score INTEGER NOT NULL,"
            " extra TEXT NOT NULL, received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')));"
            "CREATE TRIGGER refuse BEFORE INSERT ON scores WHEN NEW.name = 'Refused'"
            " BEGIN SELECT RAISE(ABORT, '" + std::string(3000, 'x') + "'); END;";
        ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
        sqlite3_close(h);
    }
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    fcntl(err[0], F_SETPIPE_SZ, 4096);
    Process p = Spawn({"--port", "0", "--db", db}, err[1]);
    close(err[1]);
    int port = PortOf(p.firstLine);
    ASSERT_GT(port, 0) << p.firstLine;

    // Refused records until one gets no answer: its worker is stuck on
    // the full pipe.
    Records rec;
    int answered = 0;
    bool stuck = false;
    for (int i = 0; i < 40 && !stuck; i++) {
        HttpReply r = Get(port, rec.Target(Records::Plain("Refused", i)), 3);
        if (r.status == 500)
            answered++;
        else
            stuck = true;
    }
    EXPECT_TRUE(stuck) << "stderr never filled up";
    EXPECT_GE(answered, 1);
    HttpReply good = Get(port, rec.Target(Records::Plain("Tam C++", 10)), 20);
    EXPECT_EQ(good.status, 200) << "a stuck log write held the database";

    // Reading the pipe lets the stuck worker finish, and the server stops cleanly.
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    std::thread drain([fd = err[0]] {
        char buf[4096];
        for (int i = 0; i < 3000; i++) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n == 0) return;
            if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    kill(p.pid, SIGTERM);
    EXPECT_EQ(WaitExit(p), 0);
    drain.join();
    close(err[0]);
    EXPECT_EQ(RowCount(db), 1);
}

TEST(ScoreServerProgram, RefusesBadOptions) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "70000"}, {"--port", "x"}, {"--port"}, {"--bogus", "1"}, {"--game", "0"},
        {"--db", "/nonexistent-dir/x/scores.db", "--port", "0"},
    };
    for (const auto& args : bad) {
        Process p = Spawn(args);
        int code = WaitExit(p);
        EXPECT_NE(code, 0) << args[0];
        EXPECT_GT(code, 0) << args[0];  // an orderly exit, not a crash
    }
}

}  // namespace
