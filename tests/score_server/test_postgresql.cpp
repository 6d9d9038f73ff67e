// Score servers sharing one PostgreSQL database: a real PostgreSQL server,
// started once for all the cases in a temporary folder (as an unprivileged
// user when the tests run as root: PostgreSQL refuses root), two score
// servers on it, and the README's nginx set-up in front of them. The
// database is also restarted, stopped (its processes held) and started
// after a server, under the servers.
//
// Skipped, with a line saying so, only when PostgreSQL (or, for the proxy,
// nginx) is not installed; scripts/setup.sh installs both.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "server_test.h"

namespace {

using namespace server_test;

// Runs a program to its end; its output goes to `log`. The exit code, or -1.
int RunProgram(std::vector<std::string> args, const std::string& log) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class Postgres : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        glob_t found;
        if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) != 0) {
            missing_ = "PostgreSQL is not installed (scripts/setup.sh installs postgresql)";
            return;
        }
        std::string initdb = found.gl_pathv[found.gl_pathc - 1];  // the newest
        globfree(&found);
        bin_ = initdb.substr(0, initdb.rfind('/'));
        dir_ = TempDir();
        log_ = dir_ + "/postgres.log";
        // PostgreSQL will not run as root: then its own user (or nobody)
        // runs it, and owns its folders.
        if (geteuid() == 0) {
            const passwd* pw = getpwnam("postgres");
            if (!pw) pw = getpwnam("nobody");
            ASSERT_NE(pw, nullptr);
            ASSERT_EQ(0, chown(dir_.c_str(), pw->pw_uid, pw->pw_gid));
        }
        port_ = FreePort();
        const std::string data = dir_ + "/data";
        ASSERT_EQ(0, RunProgram(cmd({bin_ + "/initdb", "-D", data, "-A", "trust", "-U", "postgres", "-E", "UTF8",
                              "--locale=C", "--no-sync"}),
                         log_))
            << ReadText(log_);
        // No disk flushes: nothing here outlives a crash of the machine.
        ASSERT_EQ(0, PgCtl("start")) << ReadText(log_) << ReadText(dir_ + "/server.log");
        started_ = true;
        Exec("postgres", "CREATE DATABASE scores");
    }

    static void TearDownTestSuite() {
        if (!started_) return;
        PgCtl("stop");
        RunProgram({"rm", "-rf", dir_}, "/dev/null");
    }

    // A program run as the folder's owner: PostgreSQL's own user when the
    // tests run as root.
    static std::vector<std::string> cmd(std::vector<std::string> args) {
        if (geteuid() != 0) return args;
        struct stat st;
        stat(dir_.c_str(), &st);
        std::vector<std::string> all = {"setpriv", "--reuid=" + std::to_string(st.st_uid),
                                        "--regid=" + std::to_string(st.st_gid), "--clear-groups"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    // The database server: started, restarted or stopped at once.
    static int PgCtl(const std::string& what) {
        return RunProgram(cmd({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w", "-t", "120",
                               "-m", "immediate", "-o",
                               "-p " + std::to_string(port_) + " -k " + dir_ +
                                   " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=60",
                               what}),
                          log_);
    }

    void SetUp() override {
        if (!missing_.empty()) GTEST_SKIP() << missing_;
        // Each case starts from an empty board.
        Exec("scores", "SET client_min_messages TO warning; DROP TABLE IF EXISTS scores; DROP FUNCTION IF EXISTS slow");
    }

    static std::string Uri() { return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/scores"; }

    // Runs SQL, returning the first value of the first row ("" if none).
    static std::string Exec(const char* db, const std::string& sql) {
        std::string conninfo = "host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres dbname=" + db;
        PGconn* c = PQconnectdb(conninfo.c_str());
        EXPECT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
        PGresult* r = PQexec(c, sql.c_str());
        EXPECT_TRUE(PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK)
            << sql << ": " << PQerrorMessage(c);
        std::string value = PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
        PQclear(r);
        PQfinish(c);
        return value;
    }

    static int Rows() { return atoi(Exec("scores", "SELECT COUNT(*) FROM scores").c_str()); }

    // Holds the database server's processes (SIGSTOP): the postmaster first,
    // so that it forks no child after its children are listed, then each
    // child. The processes held, to be let go with SIGCONT.
    static std::vector<pid_t> HoldDatabase() {
        std::vector<pid_t> pids;
        const pid_t main = atoi(ReadText(dir_ + "/data/postmaster.pid").c_str());
        if (main <= 0) return pids;
        kill(main, SIGSTOP);
        pids.push_back(main);
        DIR* proc = opendir("/proc");
        while (dirent* e = proc ? readdir(proc) : nullptr) {
            const pid_t pid = atoi(e->d_name);
            if (pid <= 0) continue;
            const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
            const size_t end = stat.rfind(')');  // "pid (name) state ppid ..."
            if (end != std::string::npos && atoi(stat.c_str() + end + 4) == main) {
                kill(pid, SIGSTOP);
                pids.push_back(pid);
            }
        }
        if (proc) closedir(proc);
        return pids;
    }

    // A score server program on the shared database. The tests' loads come
    // from one address: no limit on records per address.
    static Process StartServer(std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--port", "0", "--db", Uri(), "--records-per-second", "0"};
        args.insert(args.end(), more.begin(), more.end());
        Process p = Spawn(args);
        EXPECT_GT(PortOf(p.firstLine), 0) << p.firstLine;
        return p;
    }

    static std::string missing_, bin_, dir_, log_;
    static int port_;
    static bool started_;
};

std::string Postgres::missing_, Postgres::bin_, Postgres::dir_, Postgres::log_;
int Postgres::port_ = 0;
bool Postgres::started_ = false;

// The answer's text, or "" when it was not an answer with a rank.
std::string Standing(const HttpReply& r) {
    return r.status == 200 && r.body.find("[-\r\nData-]OK\r\n") == 0 ? r.body : "";
}

// 2,000 requests through two servers at once: 1,000 records, each sent to
// both servers at about the same moment (the game repeats its record; two
// servers may store the same one together). One row each, and any record
// sent again gets the same rank and top five from either server.
TEST_F(Postgres, TwoServersUnderLoadKeepOneRowPerRecordAndOneBoard) {
    Process a = StartServer(), b = StartServer();
    const int ports[2] = {PortOf(a.firstLine), PortOf(b.firstLine)};
    Records rec;
    const int kPairs = 4, kEach = 250;
    std::vector<std::vector<std::string>> targets(kPairs);
    for (int t = 0; t < kPairs; t++)
        for (int i = 0; i < kEach; i++)
            targets[size_t(t)].push_back(rec.Target(Records::Plain("P" + std::to_string(t), (i * 37 + t) % 500,
                                                                   std::to_string(1000 + i).c_str())));
    std::atomic<int> ok{0};
    auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < 2 * kPairs; t++)
        clients.emplace_back([&, t] {
            for (const std::string& target : targets[size_t(t % kPairs)])
                if (!Standing(Get(ports[t / kPairs], target, 60)).empty()) ok++;
        });
    for (std::thread& c : clients) c.join();
    printf("2000 records through two servers in %.1f s\n", SecondsSince(t0));
    EXPECT_EQ(ok.load(), 2 * kPairs * kEach);
    EXPECT_EQ(Rows(), kPairs * kEach);
    EXPECT_EQ(Exec("scores", "SELECT COUNT(*) FROM (SELECT DISTINCT game, user_id, name, version, score, extra "
                             "FROM scores) d"),
              std::to_string(kPairs * kEach));
    for (int i = 0; i < kEach; i += 25) {
        std::string fromA = Standing(Get(ports[0], targets[0][size_t(i)]));
        EXPECT_NE(fromA, "");
        EXPECT_EQ(fromA, Standing(Get(ports[1], targets[0][size_t(i)]))) << i;
    }
    EXPECT_EQ(Rows(), kPairs * kEach);
    for (Process* p : {&a, &b}) {
        kill(p->pid, SIGTERM);
        EXPECT_EQ(WaitExit(*p), 0);
    }
}

// kill -9 of one server while it is under load: every record either server
// answered is in the table, and the other server goes on.
TEST_F(Postgres, KillingAServerMidLoadLosesNoAnsweredRecord) {
    Process a = StartServer(), b = StartServer();
    const int ports[2] = {PortOf(a.firstLine), PortOf(b.firstLine)};
    Records rec;
    std::mutex lock;
    std::set<std::string> answered;  // user IDs
    std::atomic<int> fromA{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; t++)
        clients.emplace_back([&, t] {
            for (int i = 0; i < 200; i++) {
                const std::string uid = std::to_string(t * 1000 + i + 1);
                HttpReply r = Get(ports[t % 2], rec.Target(Records::Plain("K", i, uid.c_str())), 60);
                if (Standing(r).empty()) continue;
                if (t % 2 == 0) fromA++;
                std::lock_guard<std::mutex> hold(lock);
                answered.insert(uid);
            }
        });
    // Killed once it has answered some, while it is still taking them.
    for (int i = 0; i < 6000 && fromA < 50; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(a.pid, SIGKILL);
    EXPECT_EQ(WaitExit(a), -1);
    for (std::thread& c : clients) c.join();
    EXPECT_GE(fromA.load(), 50);
    EXPECT_LT(fromA.load(), 400) << "the server was killed after its load, not during it";
    std::set<std::string> stored;
    PGconn* c = PQconnectdb(("host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres dbname=scores").c_str());
    PGresult* r = PQexec(c, "SELECT user_id FROM scores");
    for (int i = 0; i < PQntuples(r); i++) stored.insert(PQgetvalue(r, i, 0));
    PQclear(r);
    PQfinish(c);
    for (const std::string& uid : answered) EXPECT_TRUE(stored.count(uid)) << "answered but lost: " << uid;
    printf("%zu records answered, %zu stored, %d of them by the killed server\n", answered.size(), stored.size(),
           fromA.load());
    EXPECT_FALSE(Standing(Get(ports[1], rec.Target(Records::Plain("After", 1)))).empty());
    kill(b.pid, SIGTERM);
    EXPECT_EQ(WaitExit(b), 0);
}

// The database restarts under a running server: its connections break, and
// the next score is stored on a connection made anew.
TEST_F(Postgres, AServerOutlivesARestartOfTheDatabase) {
    Process a = StartServer();
    const int port = PortOf(a.firstLine);
    Records rec;
    EXPECT_NE(Standing(Get(port, rec.Target(Records::Plain("Before", 1)))), "");
    ASSERT_EQ(0, PgCtl("restart")) << ReadText(log_);
    for (int i = 0; i < 8; i++)  // more than the server's connections: each was broken
        EXPECT_NE(Standing(Get(port, rec.Target(Records::Plain("After", i)), 60)), "") << i;
    EXPECT_EQ(Rows(), 9);
    kill(a.pid, SIGTERM);
    EXPECT_EQ(WaitExit(a), 0);
}

// A slow database (a second a score here, as over a poor link) holds the
// scores waiting for it, not the server: a page and a refused record are
// answered while all its connections are busy.
TEST_F(Postgres, ASlowDatabaseHoldsOnlyTheScoresWaitingForIt) {
    const std::string web = TempDir();
    std::ofstream(web + "/index.html") << "<!doctype html><title>game</title>";
    // Scores may wait for it as long as it takes here.
    Process a = StartServer({"--web", web, "--db-wait-ms", "60000"});
    const int port = PortOf(a.firstLine);
    Exec("scores",
         "CREATE FUNCTION slow() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(1); RETURN NEW; END $$ LANGUAGE plpgsql;"
         "CREATE TRIGGER slow BEFORE INSERT ON scores FOR EACH ROW WHEN (NEW.name = 'Slow') EXECUTE FUNCTION slow()");
    Records rec;
    std::atomic<int> stored{0};
    std::vector<std::thread> slow;
    for (int i = 0; i < 8; i++)  // twice the server's connections
        slow.emplace_back([&, i] {
            if (!Standing(Get(port, rec.Target(Records::Plain("Slow", i)), 60)).empty()) stored++;
        });
    // Once every connection of the server is busy in the database, a page
    // and a refusal do not wait for them.
    auto busy = [] {
        return atoi(Exec("scores", "SELECT COUNT(*) FROM pg_stat_activity WHERE state = 'active'"
                                   " AND application_name = 'score_server' AND query LIKE 'INSERT%'").c_str());
    };
    int seen = 0;
    for (int i = 0; i < 600 && (seen = busy()) < 4; i++) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(seen, 4);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(port, "/index.html", 60).status, 200);
    EXPECT_EQ(Get(port, "/Scores.php?Game=550&Score=x", 60).status, 400);
    printf("A page and a refusal behind 8 slow scores: %.1f ms; the slow ones stored so far: %d\n",
           SecondsSince(t0) * 1000, stored.load());
    for (std::thread& t : slow) t.join();
    EXPECT_EQ(stored.load(), 8);
    kill(a.pid, SIGTERM);
    EXPECT_EQ(WaitExit(a), 0);
}

// The README's published set-up: the sample nginx configuration in front
// of two servers, with ports and temporary folders of the test's own.
TEST_F(Postgres, TheSampleProxySetUpServesOneBoard) {
    if (access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed (scripts/setup.sh installs nginx-light)";
    const std::string web = TempDir();
    std::ofstream(web + "/index.html") << "<!doctype html><title>game</title>";
    Process a = StartServer({"--trusted-proxy", "127.0.0.1", "--web", web});
    Process b = StartServer({"--trusted-proxy", "127.0.0.1", "--web", web});
    std::string conf = ReadText(SOURCE_DIR "/tools/score_server/nginx-example.conf");
    ASSERT_NE(conf.find("events {"), std::string::npos);
    // The README shows the sample as it is.
    EXPECT_NE(ReadText(SOURCE_DIR "/README.md").find(conf.substr(conf.find("worker_rlimit_nofile"))), std::string::npos)
        << "the README's nginx configuration differs from tools/score_server/nginx-example.conf";
    const int port = FreePort();
    auto replace = [&conf](const std::string& from, const std::string& to) {
        size_t at = conf.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        conf.replace(at, from.size(), to);
    };
    replace("listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
    replace("127.0.0.1:8081", "127.0.0.1:" + std::to_string(PortOf(a.firstLine)));
    replace("127.0.0.1:8082", "127.0.0.1:" + std::to_string(PortOf(b.firstLine)));
    // The test's own folders for what nginx writes.
    const std::string dir = TempDir();
    replace("http {", "http {\n    access_log off;\n    client_body_temp_path " + dir + "/body;\n    proxy_temp_path " +
                          dir + "/proxy;\n    fastcgi_temp_path " + dir + "/fastcgi;\n    uwsgi_temp_path " + dir +
                          "/uwsgi;\n    scgi_temp_path " + dir + "/scgi;\n");
    std::ofstream(dir + "/nginx.conf") << conf;
    pid_t nginx = -1;
    {
        std::vector<std::string> args = {"/usr/sbin/nginx", "-p", dir, "-c", dir + "/nginx.conf", "-g",
                                         "daemon off; master_process off; pid " + dir + "/nginx.pid; error_log " +
                                             dir + "/error.log;"};
        std::vector<char*> argv;
        for (std::string& s : args) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        ASSERT_EQ(0, posix_spawn(&nginx, argv[0], nullptr, nullptr, argv.data(), environ));
    }
    // Up once it answers.
    HttpReply page;
    for (int i = 0; i < 600 && page.status != 200; i++) {
        page = Get(port, "/index.html");
        if (page.status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(page.status, 200) << ReadText(dir + "/error.log");
    EXPECT_EQ(page.body, "<!doctype html><title>game</title>");

    Records rec;
    for (int i = 0; i < 40; i++)
        EXPECT_NE(Standing(Get(port, rec.Target(Records::Plain("N", i, std::to_string(i + 1).c_str())))), "") << i;
    // With one server gone, the proxy sends everything to the other.
    kill(a.pid, SIGKILL);
    WaitExit(a);
    for (int i = 40; i < 60; i++)
        EXPECT_NE(Standing(Get(port, rec.Target(Records::Plain("N", i, std::to_string(i + 1).c_str())))), "") << i;
    EXPECT_EQ(Rows(), 60);
    kill(nginx, SIGTERM);
    waitpid(nginx, nullptr, 0);
    kill(b.pid, SIGTERM);
    EXPECT_EQ(WaitExit(b), 0);
}

// The board's standing comes from counts the database keeps: made once
// for a board from before them (under an advisory lock, whichever server
// opens it first), kept by both servers' inserts and by rows removed by
// hand, and equal to what counting the board gives.
TEST_F(Postgres, StandingsFromKeptCountsAgreeWithTheBoard) {
    Exec("scores",
         "CREATE TABLE scores (id BIGSERIAL PRIMARY KEY, game INTEGER NOT NULL, user_id TEXT NOT NULL,"
         " name TEXT NOT NULL, version INTEGER NOT NULL, score INTEGER NOT NULL, extra TEXT NOT NULL,"
         " received TIMESTAMPTZ NOT NULL DEFAULT now());"
         "INSERT INTO scores (game, user_id, name, version, score, extra)"
         " SELECT CASE WHEN g % 50 = 0 THEN 551 ELSE 550 END, g::text, 'Old', 1,"
         "  CASE g % 3 WHEN 0 THEN (g * 7919) % 1000 WHEN 1 THEN (g::bigint * 104729) % 999999999 ELSE 500 END,"
         "  '10{1{15{2{20{3' FROM generate_series(1, 5000) g");
    Process a = StartServer(), b = StartServer();
    const int ports[2] = {PortOf(a.firstLine), PortOf(b.firstLine)};
    Records rec;
    int n = 0;
    auto probe = [&](const char* what) {
        for (int score : {0, 1, 499, 500, 501, 15, 16, 255, 256, 65535, 65536, 999999999, 123456789}) {
            const std::string uid = std::to_string(100000 + n);
            HttpReply r = Get(ports[n++ % 2], rec.Target(Records::Plain("New", score, uid.c_str())), 60);
            const std::string s = std::to_string(score);
            const std::string want =
                "Rank " +
                std::to_string(atoi(Exec("scores", "SELECT COUNT(*) FROM scores WHERE game = 550 AND score > " + s).c_str()) + 1) +
                " of " + Exec("scores", "SELECT COUNT(*) FROM scores WHERE game = 550") + "\r\n";
            EXPECT_NE(r.body.find(want), std::string::npos) << what << " " << score << ": " << r.body << " want " << want;
        }
    };
    probe("after opening an old board");
    Exec("scores", "DELETE FROM scores WHERE score = 500 OR score > 900000000");
    probe("after rows were removed");
    for (Process* p : {&a, &b}) {
        kill(p->pid, SIGTERM);
        EXPECT_EQ(WaitExit(*p), 0);
    }
}

// A database that stops answering (its processes stopped) holds a score
// for the server's bound, then it is answered 503 with Retry-After, never
// "not stored". Once the database goes on, the records sent again are one
// row each, whether the worker that held them stored them or not.
TEST_F(Postgres, AStoppedDatabaseGives503WithinTheBoundAndNothingDoubledAfterItResumes) {
    Process a = StartServer();
    const int port = PortOf(a.firstLine);
    Records rec;
    EXPECT_NE(Standing(Get(port, rec.Target(Records::Plain("Before", 1)))), "");
    // Every connection of the server made first (they are made in the
    // background at its start).
    auto connected = [] {
        return atoi(Exec("scores", "SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'score_server'").c_str());
    };
    for (int i = 0; i < 600 && connected() < 4; i++) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<pid_t> db = HoldDatabase();
    ASSERT_GE(db.size(), 2u);
    const std::string held[2] = {rec.Target(Records::Plain("Held", 10, "11")), rec.Target(Records::Plain("Held", 20, "12"))};
    for (const std::string& target : held) {
        auto t0 = std::chrono::steady_clock::now();
        HttpReply r = Get(port, target, 60);
        printf("A score with the database stopped was answered after %.2f s\n", SecondsSince(t0));
        EXPECT_EQ(r.status, 503);
        EXPECT_EQ(r.body, scores::DataBlock("ERROR\r\nserver busy\r\n"));
        EXPECT_EQ(r.Header("retry-after"), "2");
    }
    for (pid_t pid : db) kill(pid, SIGCONT);
    for (const std::string& target : held) {
        std::string standing;
        for (int i = 0; i < 600 && standing.empty(); i++) {
            standing = Standing(Get(port, target, 60));
            if (standing.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_NE(standing, "");
    }
    EXPECT_EQ(Rows(), 3);
    kill(a.pid, SIGTERM);
    EXPECT_EQ(WaitExit(a), 0);
}

// A database that is down when the server starts does not end the server:
// it answers 503 meanwhile, tries again, and serves once the database is up.
TEST_F(Postgres, AServerStartedBeforeItsDatabaseServesOnceItComesUp) {
    ASSERT_EQ(0, PgCtl("stop")) << ReadText(log_);
    Process a = StartServer();
    const int port = PortOf(a.firstLine);
    Records rec;
    const std::string target = rec.Target(Records::Plain("Early", 5));
    HttpReply early = Get(port, target);
    EXPECT_EQ(early.status, 503);
    EXPECT_EQ(early.Header("retry-after"), "2");
    EXPECT_EQ(0, PgCtl("start")) << ReadText(log_);
    auto t0 = std::chrono::steady_clock::now();
    std::string standing;
    while (standing.empty() && SecondsSince(t0) < 120) {
        standing = Standing(Get(port, target, 60));
        if (standing.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    printf("Serving %.1f s after the database was started\n", SecondsSince(t0));
    EXPECT_EQ(standing, scores::DataBlock("OK\r\nScore 5\r\nRank 1 of 1\r\n1. Early 5\r\n"));
    EXPECT_EQ(Rows(), 1);
    kill(a.pid, SIGTERM);
    EXPECT_EQ(WaitExit(a), 0);
}

}  // namespace
