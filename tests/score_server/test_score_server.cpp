// The score server: accepted records, refused ones, ranking, load, and the
// executable with its options.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>

#include <atomic>
#include <random>
#include <set>

#include "game/MyGame.h"
#include "server_test.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

using namespace server_test;
using scores::DataBlock;

std::string TempPath(const char* name) { return TempDir() + "/" + name; }

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
        {"plain text, not scrambled", "/Scores.php?Game=550&Score=" + kelp::records::EscapeValue(good), 400, nullptr},
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
        ASSERT_TRUE(kelp::records::UnescapeValue(kelp::records::EscapeValue(text), &back, &why)) << why;
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

// A failed insert is logged on stderr. When nobody reads that pipe, the
// log's thread waits on it; no request does, and the server still stops.
TEST(ScoreServerProgram, AStderrNobodyReadsHoldsNoRequest) {
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

    // Forty refusals write thirty times what the pipe holds: each is
    // answered all the same, and so is a good record after them.
    Records rec;
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(Get(port, rec.Target(Records::Plain("Refused", i)), 20).status, 500) << i;
    EXPECT_EQ(Get(port, rec.Target(Records::Plain("Tam C++", 10)), 20).status, 200);
    kill(p.pid, SIGTERM);
    EXPECT_EQ(WaitExit(p), 0);
    close(err[0]);
    EXPECT_EQ(RowCount(db), 1);
}

TEST(ScoreServerProgram, RefusesBadOptions) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "70000"}, {"--port", "x"}, {"--port"}, {"--bogus", "1"}, {"--game", "0"},
        {"--db", "/nonexistent-dir/x/scores.db", "--port", "0"}, {"--per-address", "0"},
        // Nothing listens on port 1: the database cannot be reached.
        {"--db", "postgresql://127.0.0.1:1/scores?connect_timeout=5", "--port", "0"},
        {"--web", "/nonexistent-dir", "--port", "0"}, {"--precompress", "/nonexistent-dir"},
    };
    for (const auto& args : bad) {
        Process p = Spawn(args);
        int code = WaitExit(p);
        EXPECT_NE(code, 0) << args[0];
        EXPECT_GT(code, 0) << args[0];  // an orderly exit, not a crash
    }
}

}  // namespace
