// The score server: accepted records, refused ones, ranking (from the kept
// counts), load, the limit on records per address, a database that holds a
// score, and the executable with its options.
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
    // The load comes from one address: no limit per address here.
    scores::ServerOptions o;
    o.recordsPerSecond = 0;
    LiveServer live(o);
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

// The rank and total come from counts the database keeps: they must agree
// with the board itself, for a board from before the counts (counted once
// when the server opens it), after new scores, and after rows are removed
// by hand (a cheat's). Scores span all eight hex digits, ties included.
TEST(ScoreServer, StandingsFromKeptCountsAgreeWithTheBoard) {
    const std::string db = TempDir() + "/scores.db";
    std::mt19937 random(29);
    std::vector<int> board;
    for (int i = 0; i < 3000; i++)
        board.push_back(i % 3 == 0 ? int(random() % 1000) : i % 3 == 1 ? int(random() % 999999999) : 500);
    {
        // The table as servers before the counts made it, already filled.
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        std::string sql =
            "CREATE TABLE scores (id INTEGER PRIMARY KEY AUTOINCREMENT, game INTEGER NOT NULL,"
            " user_id TEXT NOT NULL, name TEXT NOT NULL, version INTEGER NOT NULL, score INTEGER NOT NULL,"
            " extra TEXT NOT NULL, received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')));"
            "BEGIN;";
        for (size_t i = 0; i < board.size(); i++)
            sql += "INSERT INTO scores (game, user_id, name, version, score, extra) VALUES (" +
                   std::string(i % 50 == 0 ? "551" : "550") + ", '" + std::to_string(i) + "', 'Old', 1, " +
                   std::to_string(board[i]) + ", '10{1{15{2{20{3');";
        sql += "COMMIT;";
        ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
        sqlite3_close(h);
    }
    std::vector<int> mine;  // this game's scores (one in 50 rows is another game's)
    for (size_t i = 0; i < board.size(); i++)
        if (i % 50 != 0) mine.push_back(board[i]);
    scores::ServerOptions o;
    o.db = db;
    o.recordsPerSecond = 0;
    LiveServer live(o);
    Records rec;
    auto expect = [&](int score, const char* uid, const char* what) {
        HttpReply r = Get(live.port(), rec.Target(Records::Plain("New", score, uid)));
        mine.push_back(score);
        int above = 0;
        for (int s : mine) above += s > score;
        EXPECT_NE(r.body.find("Rank " + std::to_string(above + 1) + " of " + std::to_string(mine.size()) + "\r\n"),
                  std::string::npos)
            << what << " " << score << ": " << r.body;
    };
    const int probes[] = {0, 1, 499, 500, 501, 15, 16, 255, 256, 65535, 65536, 999999999, 123456789};
    int n = 0;
    for (int score : probes) expect(score, std::to_string(100000 + n++).c_str(), "after opening an old board");
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        sqlite3_busy_timeout(h, 10000);
        ASSERT_EQ(sqlite3_exec(h, "DELETE FROM scores WHERE score = 500 OR score > 900000000", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(h);
    }
    std::vector<int> kept;
    for (int s : mine)
        if (s != 500 && s <= 900000000) kept.push_back(s);
    mine = kept;
    for (int score : probes) expect(score, std::to_string(100000 + n++).c_str(), "after rows were removed");
}

// Records one address may store: a bucket of 20, refilled at 10 a second;
// the same record again costs nothing (the game repeats it while the button
// is held); full buckets are forgotten.
TEST(RecordLimits, ABucketPerAddressRefilledAtItsRate) {
    scores::RecordLimits limits(10, 20);
    int retry = 0;
    for (uint64_t r = 1; r <= 20; r++) EXPECT_TRUE(limits.Take("a", r, 1000, &retry)) << r;
    EXPECT_FALSE(limits.Take("a", 21, 1000, &retry));
    EXPECT_EQ(retry, 1);
    EXPECT_TRUE(limits.Take("a", 20, 1000, &retry)) << "a repeat of a recent record";
    EXPECT_TRUE(limits.Take("b", 21, 1000, &retry)) << "another address";
    EXPECT_FALSE(limits.Take("a", 21, 1050, &retry)) << "half a record's time";
    EXPECT_TRUE(limits.Take("a", 21, 1100, &retry)) << "one record's time";
    EXPECT_FALSE(limits.Take("a", 22, 1100, &retry));
    limits.Forget(1200);  // "b" is full again, "a" is not
    EXPECT_EQ(limits.Addresses(), 1u);
    limits.Forget(4100);  // both full again
    EXPECT_EQ(limits.Addresses(), 0u);
    scores::RecordLimits slow(0.5, 1);
    EXPECT_TRUE(slow.Take("a", 1, 0, &retry));
    EXPECT_FALSE(slow.Take("a", 2, 100, &retry));
    EXPECT_EQ(retry, 2);
}

// The client a trusted proxy names: the entry it added itself, the last.
TEST(RecordLimits, AProxysLastForwardedEntryNamesTheClient) {
    struct Case {
        const char* header;
        const char* key;  // null: no address
    };
    const Case cases[] = {
        {"203.0.113.7", "203.0.113.7"},
        {"10.9.9.9, 198.51.100.2", "198.51.100.2"},
        {"spoofed,203.0.113.7 ", "203.0.113.7"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
        {"[2001:db8::1]", "2001:db8::/64"},
        {"::ffff:203.0.113.7", "203.0.113.7"},
        {"203.0.113.7:4711", nullptr},
        {"unknown", nullptr},
        {"203.0.113.7,", nullptr},
        {"", nullptr},
        {" ", nullptr},
    };
    for (const Case& c : cases) {
        std::string key;
        EXPECT_EQ(scores::ForwardedAddress(c.header, &key), c.key != nullptr) << c.header;
        if (c.key) {
            EXPECT_EQ(key, c.key) << c.header;
        }
    }
    std::string key;
    EXPECT_FALSE(scores::ForwardedAddress(nullptr, &key));
}

// Beyond its records an address gets 429 with Retry-After, and the record
// is not stored; other addresses, the same record again, and the clients a
// trusted proxy names each keep their own allowance. (A rate of one record
// in 1,000 s: the bucket does not refill while the test runs.)
TEST(RecordLimits, ATwentyFirstRecordFromOneAddressGets429AndIsNotStored) {
    scores::ServerOptions o;
    o.recordsPerSecond = 0.001;
    o.recordBurst = 20;
    o.trustedProxies = {"127.0.0.5"};
    LiveServer live(o);
    Records rec;
    auto send = [&](const char* from, int score, const char* forwarded = nullptr) {
        const std::string headers = forwarded ? std::string("X-Forwarded-For: ") + forwarded + "\r\n" : "";
        return Get(live.port(), rec.Target(Records::Plain("P", score, std::to_string(score + 1).c_str())), 10,
                   headers, from);
    };
    for (int i = 0; i < 20; i++) EXPECT_EQ(send("127.0.0.2", i).status, 200) << i;
    HttpReply refused = send("127.0.0.2", 20);
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.body, DataBlock("ERROR\r\ntoo many records\r\n"));
    EXPECT_GE(atoi(refused.Header("retry-after").c_str()), 1) << refused.head;
    EXPECT_EQ(RowCount(live.db), 20);
    HttpReply again = send("127.0.0.2", 19);
    EXPECT_EQ(again.status, 200) << "the same record again";
    EXPECT_NE(again.body.find("Rank 1 of 20\r\n"), std::string::npos) << again.body;
    EXPECT_EQ(send("127.0.0.3", 20).status, 200) << "another address";
    EXPECT_EQ(RowCount(live.db), 21);

    // Behind the trusted proxy, each named client has its own bucket; a
    // header from anyone else names nobody.
    for (int i = 100; i < 120; i++) EXPECT_EQ(send("127.0.0.5", i, "10.0.0.1, 198.51.100.1").status, 200) << i;
    EXPECT_EQ(send("127.0.0.5", 120, "198.51.100.1").status, 429);
    EXPECT_EQ(send("127.0.0.5", 121, "198.51.100.2").status, 200);
    EXPECT_EQ(send("127.0.0.2", 122, "198.51.100.3").status, 429) << "an untrusted sender's header counted";
    EXPECT_EQ(RowCount(live.db), 42);
}

// A database that holds a score (here a lock another process keeps) gets
// it answered 503 with Retry-After within the wait's bound, not when the
// lock goes; the answer does not say the record was not stored. Sent again
// once the lock is gone, the record is one row.
TEST(ScoreServer, AScoreHeldByTheDatabaseIsAnswered503AndStaysOneRow) {
    LiveServer live;
    Records rec;
    ASSERT_EQ(Get(live.port(), rec.Target(Records::Plain("Before", 1))).status, 200);
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(live.db.c_str(), &h), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(h, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string held = rec.Target(Records::Plain("Held", 50));
    auto t0 = std::chrono::steady_clock::now();
    HttpReply r = Get(live.port(), held, 60);
    printf("A score behind a held lock was answered after %.2f s\n", SecondsSince(t0));
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.body, DataBlock("ERROR\r\nserver busy\r\n"));
    EXPECT_EQ(r.Header("retry-after"), "2");
    ASSERT_EQ(sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(h);
    // The worker may still store it once the lock goes; either way, sent
    // again, it is one row.
    HttpReply again;
    for (int i = 0; i < 100 && again.status != 200; i++) {
        again = Get(live.port(), held, 60);
        if (again.status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(again.body, DataBlock("OK\r\nScore 50\r\nRank 1 of 2\r\n1. Held 50\r\n2. Before 1\r\n"));
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
    Process p = Spawn({"--port", "0", "--db", db, "--records-per-second", "0"}, err[1]);
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
        {"--records-per-second", "x"}, {"--db-wait-ms", "0"}, {"--trusted-proxy", "proxy.example", "--port", "0"},
        // A PostgreSQL address that cannot be read (a database that does
        // not answer is tried again: Postgres.AServerStartedBeforeItsDatabase...).
        {"--db", "postgresql://127.0.0.1/scores?bogus=1", "--port", "0"},
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
