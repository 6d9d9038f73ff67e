// What the score server's tests share: requests on raw sockets (from any
// address in 127.0.0.0/8), records built as the game builds them, a server
// in-process on a free port, and the server program started as a process.
#pragma once

#include <arpa/inet.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Records.h"
#include "score_server.h"

extern char** environ;

namespace server_test {

struct HttpReply {
    int status = 0;
    std::string head;  // status line and headers, header names lower-cased
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

// A connection to 127.0.0.1:port from a chosen local address: all of
// 127.0.0.0/8 is this machine, so a test can play many clients. -1 on failure.
inline int ConnectFrom(const char* from, int port, int receiveBuffer = 0) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
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

// Splits what a connection received into its first answer.
inline HttpReply ParseReply(const std::string& all) {
    HttpReply r;
    size_t split = all.find("\r\n\r\n");
    if (all.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return r;
    r.status = atoi(all.c_str() + 9);
    r.head = all.substr(0, split + 2);
    for (size_t i = 0, line = 0; i < r.head.size(); i++) {
        if (r.head[i] == '\n') line = i + 1;
        // Names only: values (tags, dates) keep their case.
        if (line && r.head.find(':', line) > i) r.head[i] = char(tolower((unsigned char)r.head[i]));
    }
    r.body = all.substr(split + 4);
    return r;
}

// Sends `request` whole and reads until the server closes.
inline std::string Exchange(int port, const std::string& request, const char* from = "127.0.0.1",
                            int waitSeconds = 10) {
    int fd = ConnectFrom(from, port);
    if (fd < 0) return "";
    timeval tv = {waitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, size_t(n));
    close(fd);
    return all;
}

// One GET on its own connection, with extra header lines.
inline HttpReply Get(int port, const std::string& target, int waitSeconds = 10, const std::string& headers = "",
                     const char* from = "127.0.0.1") {
    return ParseReply(Exchange(port,
                               "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + headers +
                                   "Connection: close\r\n\r\n",
                               from, waitSeconds));
}

// Builds records the way the game does, with the game's key.
struct Records {
    kelp::records::Scrambler key;
    explicit Records(int game = 550, const char* keyword = "Sample keyword text") {
        key.SetKeyword(keyword, game);
    }
    static std::string Plain(const std::string& name, int score, const char* uid = "202612061230451234567",
                             int game = 550, const char* tail = "10{1{15{2{20{3{KELP{") {
        char numbers[64];
        snprintf(numbers, sizeof numbers, "%04d{%04d{%04d{", game, 1, score);
        return std::string(uid) + "{" + name + "{" + numbers + tail;
    }
    std::string Escaped(const std::string& plain) { return kelp::records::EscapeValue(key.ScrambleTxt(plain)); }
    std::string Target(const std::string& plain, const char* game = "550") {
        return std::string("/Scores.php?Game=") + game + "&Score=" + Escaped(plain);
    }
};

// The folders a test made, removed with all they hold when it ends.
struct TempDirs {
    std::vector<std::string> made;
    ~TempDirs() {
        for (const std::string& d : made)
            nftw(d.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 16,
                 FTW_DEPTH | FTW_PHYS);
    }
};

inline std::string TempDir() {
    static TempDirs dirs;
    char tmpl[] = "/tmp/kelp_scores_XXXXXX";
    dirs.made.push_back(mkdtemp(tmpl));
    return dirs.made.back();
}

inline int RowCount(const std::string& dbPath) {
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

// The server in this process, on a free port, with a fresh database.
struct LiveServer {
    std::string db = TempDir() + "/scores.db";
    std::unique_ptr<scores::ScoreServer> server;
    explicit LiveServer(scores::ServerOptions o = scores::ServerOptions()) {
        o.port = 0;
        if (o.db == scores::ServerOptions().db) o.db = db;
        server.reset(new scores::ScoreServer(o));
        std::string error;
        EXPECT_TRUE(server->Open(&error)) << error;
        server->Start();
    }
    int port() const { return server->port(); }
};

// ---- The server program --------------------------------------------------------------

struct Process {
    pid_t pid = -1;
    int out = -1;
    std::string firstLine;
};

// Starts the server program; its stdout is read up to the first line, its
// stderr goes to errFd when given.
inline Process Spawn(const std::vector<std::string>& args, int errFd = -1) {
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

// The exit code, -1 for a signal, -2 when it did not end within a minute
// (a busy machine can be slow to finish a clean exit).
inline int WaitExit(Process& p) {
    int status = 0;
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

inline int PortOf(const std::string& line) {
    size_t colon = line.find("127.0.0.1:");
    return colon == std::string::npos ? 0 : atoi(line.c_str() + colon + 10);
}

inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace server_test
