#include "score_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/KELPCore.h"

namespace scores {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS scores ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " game INTEGER NOT NULL,"
    " user_id TEXT NOT NULL,"
    " name TEXT NOT NULL,"
    " version INTEGER NOT NULL,"
    " score INTEGER NOT NULL,"
    " extra TEXT NOT NULL,"
    " received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')));"
    "CREATE INDEX IF NOT EXISTS scores_by_game ON scores (game, score DESC);"
    "CREATE INDEX IF NOT EXISTS scores_by_player ON scores (game, user_id, score);";

// A record that is already stored is not stored again: the game sends its
// record on every frame the button is held, and a replayed request must not
// count twice.
const char kInsertNew[] =
    "INSERT INTO scores (game, user_id, name, version, score, extra)"
    " SELECT ?1, ?2, ?3, ?4, ?5, ?6 WHERE NOT EXISTS (SELECT 1 FROM scores WHERE"
    " game = ?1 AND user_id = ?2 AND name = ?3 AND version = ?4 AND score = ?5 AND extra = ?6)";

std::string ErrorBlock(const std::string& reason) { return DataBlock("ERROR\r\n" + reason + "\r\n"); }

Reply Error(int status, const std::string& reason) {
    Reply r;
    r.status = status;
    r.body = ErrorBlock(reason);
    return r;
}

bool Prepare(sqlite3* db, const char* sql, sqlite3_stmt** stmt) {
    return sqlite3_prepare_v2(db, sql, -1, stmt, nullptr) == SQLITE_OK;
}

// Runs a one-row count query bound to the game (and a score when given).
bool Count(sqlite3_stmt* stmt, int game, const int* score, int* out) {
    sqlite3_reset(stmt);
    sqlite3_bind_int(stmt, 1, game);
    if (score) sqlite3_bind_int(stmt, 2, *score);
    if (sqlite3_step(stmt) != SQLITE_ROW) return false;
    *out = sqlite3_column_int(stmt, 0);
    sqlite3_reset(stmt);
    return true;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits until the socket is ready for `events`: 1 ready, 0 the deadline
// passed or the server is stopping, -1 failed. Short steps, so that a stop
// is noticed while a client dawdles.
int WaitFor(int fd, short events, int64_t deadline, const std::atomic<bool>& stopping) {
    for (;;) {
        int64_t left = deadline - NowMs();
        if (left <= 0 || stopping) return 0;
        pollfd p = {fd, events, 0};
        int rc = poll(&p, 1, int(left < 100 ? left : 100));
        if (rc > 0) return 1;
        if (rc < 0 && errno != EINTR) return -1;
    }
}

std::string AddressText(const sockaddr_storage& a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
    else if (a.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
    return text;
}

int PortOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return 0;
}

// A short answer sent without waiting: the socket's send buffer is empty,
// so it fits, and a client that reads nothing cannot hold the worker.
void AnswerNow(int fd, int status, const char* what, const std::string& reason) {
    std::string body = ErrorBlock(reason);
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + what +
                       "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body;
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        // Nothing more to do: the connection is closed next anyway.
    }
}

// The request as the worker read it ahead, then the rest of the socket
// under the same deadline; the answer gets a write allowance of its own,
// which grows with its size.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(int fd, std::string head, int64_t deadline, const std::atomic<bool>& stopping)
        : fd_(fd), head_(std::move(head)), deadline_(deadline), stopping_(stopping) {}

    bool is_readable() const override { return pos_ < head_.size() || WaitFor(fd_, POLLIN, deadline_, stopping_) == 1; }
    bool is_writable() const override { return WaitFor(fd_, POLLOUT, WriteDeadline(), stopping_) == 1; }

    ssize_t read(char* ptr, size_t size) override {
        if (pos_ < head_.size()) {
            size_t n = std::min(size, head_.size() - pos_);
            memcpy(ptr, head_.data() + pos_, n);
            pos_ += n;
            return ssize_t(n);
        }
        for (;;) {
            if (WaitFor(fd_, POLLIN, deadline_, stopping_) != 1) return -1;
            ssize_t n = recv(fd_, ptr, size, 0);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    ssize_t write(const char* ptr, size_t size) override {
        // Each part written earns time at 100 KB/s: a page's data pack
        // reaches a slow reader, and a reader that stalls is still cut off.
        WriteDeadline();
        writeDeadline_ += int64_t(size / 100);
        for (;;) {
            if (WaitFor(fd_, POLLOUT, writeDeadline_, stopping_) != 1) return -1;
            ssize_t n = send(fd_, ptr, size, MSG_NOSIGNAL);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Describe(getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Describe(getsockname, ip, port); }

    socket_t socket() const override { return fd_; }

private:
    static const int kWriteMs = 5000;

    // One end of the connection, as getpeername or getsockname gives it.
    void Describe(int (*end)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage a = {};
        socklen_t len = sizeof a;
        if (end(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) a.ss_family = AF_UNSPEC;
        ip = AddressText(a);
        port = PortOf(a);
    }
    int64_t WriteDeadline() const {
        if (writeDeadline_ == 0) writeDeadline_ = NowMs() + kWriteMs;
        return writeDeadline_;
    }

    int fd_;
    std::string head_;
    size_t pos_ = 0;
    int64_t deadline_;
    mutable int64_t writeDeadline_ = 0;
    const std::atomic<bool>& stopping_;
};

}  // namespace

// cpp-httplib gives each connection a worker, which then waits on the client
// with a timeout per read and per idle spell: a client that sends one byte
// now and then, or many clients that send nothing, hold every worker. Here a
// worker first counts the connection against its address, then reads the
// request line and headers under one deadline, and only a complete request
// goes on to the library's parsing and routing.
class GuardedHttp : public httplib::Server {
public:
    explicit GuardedHttp(const ServerOptions& o)
        : deadlineMs_(o.requestDeadlineMs), perAddress_(o.connectionsPerAddress) {
        size_t workers = size_t(o.workers > 1 ? o.workers : 1);
        new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    }

    // Wakes the workers that are waiting on clients, ahead of stop().
    void Stopping() { stopping_ = true; }

    // The library listens with a queue of 5: a burst of connections would
    // overflow it, and every dropped handshake costs its client a second or
    // more. Listening again on the bound socket only lengthens the queue.
    void LengthenListenQueue() {
        socket_t sock = svr_sock_;
        if (sock != INVALID_SOCKET) ::listen(sock, SOMAXCONN);
    }

private:
    // Room for any request this server answers; a longer one is handed on
    // as it stands and refused by the library (414, 400).
    static const size_t kMaxHead = 16384;

    bool process_and_close_socket(socket_t sock) override {
        sockaddr_storage peer = {};
        socklen_t len = sizeof peer;
        if (getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &len) != 0) peer.ss_family = AF_UNSPEC;
        const std::string address = AddressText(peer);
        bool served = false;
        if (!Admit(address)) {
            AnswerNow(sock, 503, "Service Unavailable", "too many connections");
        } else {
            const int64_t deadline = NowMs() + deadlineMs_;
            std::string head;
            int got = ReadHead(sock, deadline, &head);
            if (got > 0) {
                DeadlineStream stream(sock, std::move(head), deadline, stopping_);
                bool closed = false;
                served = process_request(stream, true, closed, nullptr);
            } else if (got == 0 && !stopping_) {
                AnswerNow(sock, 408, "Request Timeout", "request not complete in time");
            }
            Leave(address);
        }
        shutdown(sock, SHUT_RDWR);
        close(sock);
        return served;
    }

    // 1: a request head (or as much as one may be) to parse; 0: the deadline
    // passed or the server is stopping; -1: the client went or failed.
    int ReadHead(int fd, int64_t deadline, std::string* head) {
        char buf[4096];
        while (head->size() < kMaxHead) {
            int ready = WaitFor(fd, POLLIN, deadline, stopping_);
            if (ready != 1) return ready;
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return head->empty() ? -1 : 1;   // a cut request is the parser's to refuse
            size_t from = head->size() < 3 ? 0 : head->size() - 3;
            head->append(buf, size_t(n));
            if (head->find("\r\n\r\n", from) != std::string::npos) return 1;
        }
        return 1;
    }

    bool Admit(const std::string& address) {
        std::lock_guard<std::mutex> hold(lock_);
        int& open = open_[address];
        if (open >= perAddress_) return false;
        open++;
        return true;
    }

    void Leave(const std::string& address) {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = open_.find(address);
        if (it != open_.end() && --it->second <= 0) open_.erase(it);
    }

    const int deadlineMs_;
    const int perAddress_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::map<std::string, int> open_;   // connections being served, by client address
};

std::string DataBlock(const std::string& text) { return "[-\r\nData-]" + text + "[-\r\nEnd-]"; }

std::string AllowedOrigin(const ServerOptions& options) {
    if (options.allowOrigin) return *options.allowOrigin;
    const std::string& a = options.address;
    const bool loopback = a.compare(0, 4, "127.") == 0 || a == "localhost" || a == "::1";
    return loopback ? "*" : "";
}

ScoreServer::ScoreServer(const ServerOptions& options) : options_(options), key_(new KELPCore()) {
    // The same key material the game derives at launch.
    key_->gameNumber = options_.game;
    key_->SetKeyword(options_.keyword);
}

ScoreServer::~ScoreServer() {
    Stop();
    for (sqlite3_stmt* s : {insert_, countAll_, countAbove_, top_}) sqlite3_finalize(s);
    if (db_) sqlite3_close(db_);
}

bool ScoreServer::Open(std::string* error) {
    if (sqlite3_open_v2(options_.db.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        *error = "cannot open database " + options_.db + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    char* msg = nullptr;
    // WAL with normal syncing: every stored score survives a crash of the
    // server, and a busy server does not wait on a disk flush per score.
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, &msg) != SQLITE_OK ||
        sqlite3_exec(db_, kSchema, nullptr, nullptr, &msg) != SQLITE_OK) {
        *error = std::string("cannot set up database: ") + (msg ? msg : sqlite3_errmsg(db_));
        sqlite3_free(msg);
        return false;
    }
    if (!Prepare(db_, kInsertNew, &insert_) ||
        !Prepare(db_, "SELECT COUNT(*) FROM scores WHERE game = ?1", &countAll_) ||
        !Prepare(db_, "SELECT COUNT(*) FROM scores WHERE game = ?1 AND score > ?2", &countAbove_) ||
        !Prepare(db_, "SELECT name, score FROM scores WHERE game = ?1 ORDER BY score DESC, id ASC LIMIT 5", &top_)) {
        *error = std::string("cannot prepare queries: ") + sqlite3_errmsg(db_);
        return false;
    }

    http_.reset(new GuardedHttp(options_));
    http_->Get("/Scores.php", [this](const httplib::Request& req, httplib::Response& res) {
        Reply r = Handle(req.target);
        res.status = r.status;
        res.set_content(r.body, "text/plain");
    });
    // Every other failure (unknown page, bad request line, overlong target)
    // still answers with a block the game can show.
    http_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        res.set_content(ErrorBlock(res.status == 404 ? "unknown page" : "bad request"), "text/plain");
    });
    // Pages in a browser: answers another origin may read, and the page's
    // own files for one origin with the scores.
    const std::string origin = AllowedOrigin(options_);
    if (!origin.empty())
        http_->set_post_routing_handler([origin](const httplib::Request&, httplib::Response& res) {
            res.set_header("Access-Control-Allow-Origin", origin);
        });
    if (!options_.webRoot.empty()) {
        if (!http_->set_mount_point("/", options_.webRoot)) {
            *error = "cannot serve the folder " + options_.webRoot;
            return false;
        }
        // Streamed compilation in the browser needs the wasm type.
        http_->set_file_extension_and_mimetype_mapping("wasm", "application/wasm");
        http_->set_file_extension_and_mimetype_mapping("data", "application/octet-stream");
    }
    // One request per connection (the game closes after each answer), read
    // and answered under the deadlines of GuardedHttp.
    http_->set_tcp_nodelay(true);

    if (options_.port == 0) {
        port_ = http_->bind_to_any_port(options_.address);
        if (port_ <= 0) {
            *error = "cannot listen on " + options_.address;
            return false;
        }
    } else {
        if (!http_->bind_to_port(options_.address, options_.port)) {
            *error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
            return false;
        }
        port_ = options_.port;
    }
    http_->LengthenListenQueue();
    return true;
}

void ScoreServer::Run() {
    if (http_) http_->listen_after_bind();
}

void ScoreServer::Start() {
    if (!http_) return;
    thread_ = std::thread([this] { Run(); });
    // Stop before the listener runs would be lost; wait until it is up.
    for (int i = 0; i < 500 && !http_->is_running(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void ScoreServer::Stop() {
    if (http_) {
        http_->Stopping();
        http_->stop();
    }
    if (thread_.joinable()) thread_.join();
}

Reply ScoreServer::Handle(const std::string& target) {
    std::string gameText, raw, why;
    if (!ParseQuery(target, &gameText, &raw, &why)) return Error(why == "unknown page" ? 404 : 400, why);
    std::string gameDigits = gameText;
    if (gameDigits.empty() || gameDigits.size() > 9 || gameDigits.find_first_not_of("0123456789") != std::string::npos)
        return Error(400, "bad Game");
    if (atoi(gameDigits.c_str()) != options_.game) return Error(400, "unknown game");

    std::string scrambled;
    if (!UnescapeValue(raw, &scrambled, &why)) return Error(400, why);
    // The scramble and its inverse use only the key table: safe to share.
    std::string plain = key_->UnscrambleTxt(scrambled);
    ScoreRecord rec;
    if (!ParseRecord(plain, options_.game, &rec, &why)) return Error(400, why);

    std::string text, failure;
    if (!StoreAndRank(rec, &text, &failure)) {
        // Written here, after the database lock is released: a stderr that
        // nobody reads may block this thread, but not every other request.
        if (!failure.empty()) fprintf(stderr, "score_server: %s\n", failure.c_str());
        return Error(500, "could not store the score");
    }
    Reply ok;
    ok.body = DataBlock(text);
    return ok;
}

// Stores the score (unless this very record is stored already) and reads
// its rank and the top five in one locked step, so the answer matches the
// table right after this score went in. Nothing is written to stderr here.
bool ScoreServer::StoreAndRank(const ScoreRecord& rec, std::string* text, std::string* failure) {
    std::lock_guard<std::mutex> hold(dbLock_);
    sqlite3_reset(insert_);
    sqlite3_bind_int(insert_, 1, rec.game);
    sqlite3_bind_text(insert_, 2, rec.userId.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_, 3, rec.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert_, 4, rec.version);
    sqlite3_bind_int(insert_, 5, rec.score);
    sqlite3_bind_text(insert_, 6, rec.extra.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (rc != SQLITE_DONE) {
        *failure = std::string("insert failed: ") + sqlite3_errmsg(db_);
        return false;
    }
    int total = 0, above = 0;
    if (!Count(countAll_, rec.game, nullptr, &total) || !Count(countAbove_, rec.game, &rec.score, &above)) {
        *failure = std::string("ranking failed: ") + sqlite3_errmsg(db_);
        return false;
    }

    *text = "OK\r\nScore " + std::to_string(rec.score) + "\r\nRank " + std::to_string(above + 1) + " of " +
            std::to_string(total) + "\r\n";
    sqlite3_reset(top_);
    sqlite3_bind_int(top_, 1, rec.game);
    for (int place = 1; sqlite3_step(top_) == SQLITE_ROW; place++) {
        const unsigned char* name = sqlite3_column_text(top_, 0);
        *text += std::to_string(place) + ". " + (name ? reinterpret_cast<const char*>(name) : "") + " " +
                 std::to_string(sqlite3_column_int(top_, 1)) + "\r\n";
    }
    sqlite3_reset(top_);
    return true;
}

}  // namespace scores
