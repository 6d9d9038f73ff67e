#include "score_server.h"

// TCP_INFO's bytes_acked comes from the kernel's header; glibc's
// <netinet/tcp.h> has an older struct and must not be included with it.
#include <linux/sockios.h>
#include <linux/tcp.h>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>


namespace scores {

// ---- The log ----------------------------------------------------------------------

namespace {

// Lines wait here for the log's thread; past kMaxWaiting they are counted
// and dropped, so a flood of errors cannot fill the memory either.
class Log {
public:
    static Log& Get() {
        // Never destroyed: its thread may be stuck on a write at exit.
        static Log* log = new Log();
        return *log;
    }

    void Add(const std::string& line, bool error) {
        std::lock_guard<std::mutex> hold(lock_);
        if (waiting_.size() >= kMaxWaiting) {
            dropped_++;
            return;
        }
        waiting_.emplace_back(error ? 2 : 1, line + "\n");
        ready_.notify_one();
    }

    // Waits up to `ms` until the log has written what it holds.
    void Flush(int ms) {
        std::unique_lock<std::mutex> hold(lock_);
        empty_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return waiting_.empty() && !writing_; });
    }

private:
    static const size_t kMaxWaiting = 1000;

    Log() { std::thread([this] { Run(); }).detach(); }

    void Run() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            ready_.wait(hold, [this] { return !waiting_.empty() || dropped_ > 0; });
            std::pair<int, std::string> next;
            if (dropped_ > 0) {
                next = {2, "score_server: " + std::to_string(dropped_) + " log lines dropped\n"};
                dropped_ = 0;
            } else {
                next = std::move(waiting_.front());
                waiting_.pop_front();
            }
            writing_ = true;
            hold.unlock();
            for (size_t done = 0; done < next.second.size();) {
                ssize_t n = write(next.first, next.second.data() + done, next.second.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += size_t(n);
            }
            hold.lock();
            writing_ = false;
            if (waiting_.empty()) empty_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable ready_, empty_;
    std::deque<std::pair<int, std::string>> waiting_;
    size_t dropped_ = 0;
    bool writing_ = false;
};

void LogInfo(const std::string& line) { LogLine(line, false); }

}  // namespace

void LogLine(const std::string& line, bool error) { Log::Get().Add(line, error); }
void FlushLog(int ms) { Log::Get().Flush(ms); }

// ---- Peers and requests ----------------------------------------------------------------

namespace {

const size_t kMaxTarget = 8192;       // longer request lines are refused (414)
const size_t kMaxBody = 16 << 10;     // a longer body is refused (413)
const int kConnectionMemory = 32 << 10;
const int kMinRateBytesPerSecond = 1024;
const int kProgressCheckMs = 500;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ErrorBlock(const std::string& reason) { return DataBlock("ERROR\r\n" + reason + "\r\n"); }

Reply Error(int status, const std::string& reason) {
    Reply r;
    r.status = status;
    r.body = ErrorBlock(reason);
    return r;
}

// The address a client is counted under: an IPv4 address, or an IPv6 /64
// (one subscriber's network), with IPv4 mapped into IPv6 taken as IPv4.
std::string AddressKey(const sockaddr* a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (!a) return text;
    if (a->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    } else if (a->sa_family == AF_INET6) {
        in6_addr v6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        } else {
            memset(&v6.s6_addr[8], 0, 8);
            inet_ntop(AF_INET6, &v6, text, sizeof text);
            return std::string(text) + "/64";
        }
    }
    return text;
}

// Bytes of this connection the client's side has acknowledged: what a
// reader has taken, whatever the server offered.
uint64_t BytesTaken(int fd) {
    tcp_info info = {};
    socklen_t len = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return 0;
    return info.tcpi_bytes_acked;
}

}  // namespace

struct ScoreServer::Request {
    Peer* peer = nullptr;
    MHD_Connection* connection = nullptr;
    std::string target;  // raw, as in the request line
    enum { kNew, kHead, kAnswered, kWorking } state = kNew;
    size_t bodyBytes = 0;
    // The database's part (kWorking): filled by a worker thread, read by the
    // loop once the worker has resumed the connection.
    ScoreRecord record;
    Reply reply;
};

struct ScoreServer::Peer {
    int fd = -1;
    std::string address;
    bool counted = false;   // against its address's limit
    enum { kWaiting, kAnswering, kWorking, kRefused, kClosing } state = kWaiting;
    int64_t deadline = 0;   // kWaiting, kRefused: when the request must be in
    int answered = 0;
    Request* request = nullptr;  // the current one, from its request line on
    // kAnswering: the answer's progress.
    int64_t answerStart = 0;
    int64_t lastProgress = 0;
    uint64_t takenBefore = 0;  // acknowledged before this answer
    uint64_t taken = 0;        // of this answer
};

namespace {

// A short answer written straight to the socket, past libmicrohttpd, for a
// client that is turned away before (or without) a request: the socket's
// send buffer is empty, so it fits, and no one waits for it to be read.
void AnswerNow(int fd, int status, const char* what, const std::string& reason, const std::string& origin) {
    std::string body = ErrorBlock(reason);
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + what +
                       "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n";
    if (!origin.empty()) text += "Access-Control-Allow-Origin: " + origin + "\r\n";
    text += "\r\n" + body;
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        // Nothing more to do: the connection is closed next anyway.
    }
}

}  // namespace

// ---- libmicrohttpd's callbacks -------------------------------------------------------

struct Hooks {
    // A request the handler has seen ends in OnRequestDone; one it never saw
    // (the library refused it, or the connection went first) has no end of
    // its own and is deleted here.
    static void Drop(ScoreServer::Request* r) {
        if (!r) return;
        if (r->state == ScoreServer::Request::kNew) delete r;
        else r->peer = nullptr;
    }

    // The answer starts: from now on it is timed by what its reader takes.
    static void StartAnswer(ScoreServer::Peer* p) {
        p->state = ScoreServer::Peer::kAnswering;
        p->answerStart = p->lastProgress = NowMs();
        p->takenBefore = BytesTaken(p->fd);
        p->taken = 0;
    }

    static ScoreServer::Peer* PeerOf(MHD_Connection* c) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<ScoreServer::Peer*>(info->socket_context) : nullptr;
    }

    static void OnConnection(void* cls, MHD_Connection* c, void** context, enum MHD_ConnectionNotificationCode what) {
        ScoreServer& s = *static_cast<ScoreServer*>(cls);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            std::unique_ptr<ScoreServer::Peer> p(new ScoreServer::Peer());
            const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            const MHD_ConnectionInfo* from = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            p->fd = fd ? fd->connect_fd : -1;
            p->address = AddressKey(from ? from->client_addr : nullptr);
            p->deadline = NowMs() + s.options_.requestDeadlineMs;
            int& open = s.perAddress_[p->address];
            if (open >= s.options_.connectionsPerAddress) {
                // Turned away at once, with an answer; the client's request,
                // should one come, is not read.
                p->state = ScoreServer::Peer::kRefused;
                AnswerNow(p->fd, 503, "Service Unavailable", "too many connections", s.origin_);
                shutdown(p->fd, SHUT_WR);
            } else {
                open++;
                p->counted = true;
            }
            *context = p.get();
            s.peers_[p.get()] = std::move(p);
        } else {
            auto* p = static_cast<ScoreServer::Peer*>(*context);
            auto it = s.peers_.find(p);
            if (it == s.peers_.end()) return;
            if (p->counted) {
                auto open = s.perAddress_.find(p->address);
                if (open != s.perAddress_.end() && --open->second <= 0) s.perAddress_.erase(open);
            }
            Drop(p->request);
            s.peers_.erase(it);
            *context = nullptr;
        }
    }

    // The request line has arrived: its target, before any unescaping, is
    // what the score's record and a file's name are read from.
    static void* OnRequestLine(void* cls, const char* uri, MHD_Connection* c) {
        (void)cls;
        ScoreServer::Peer* p = PeerOf(c);
        auto* r = new ScoreServer::Request();
        r->connection = c;
        r->target = uri ? uri : "";
        if (p) {
            Drop(p->request);
            p->request = r;
            r->peer = p;
        }
        return r;
    }

    static enum MHD_Result OnRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                     const char* version, const char* upload, size_t* uploadSize, void** context) {
        (void)version;
        (void)upload;
        ScoreServer& s = *static_cast<ScoreServer*>(cls);
        auto* r = static_cast<ScoreServer::Request*>(*context);
        if (!r) {
            r = static_cast<ScoreServer::Request*>(OnRequestLine(cls, url, c));
            *context = r;
        }
        ScoreServer::Peer* p = r->peer;
        if (!p || p->state == ScoreServer::Peer::kRefused) return MHD_NO;
        if (r->state == ScoreServer::Request::kNew) {
            // The head is in. The answer waits for the next call, once the
            // library knows the request has no more to it: an answer queued
            // now would end the connection after it.
            r->state = ScoreServer::Request::kHead;
            return MHD_YES;
        }
        if (r->state == ScoreServer::Request::kHead) {
            if (*uploadSize > 0) {
                // No page here takes a body; a short one is read and let go.
                r->bodyBytes += *uploadSize;
                *uploadSize = 0;
                if (r->bodyBytes <= kMaxBody) return MHD_YES;
                r->state = ScoreServer::Request::kAnswered;
                StartAnswer(p);
                return s.Queue(c, 413, ErrorBlock("request too large")) ? MHD_YES : MHD_NO;
            }
            r->state = ScoreServer::Request::kAnswered;
            StartAnswer(p);
            return s.Answer(c, r, method) ? MHD_YES : MHD_NO;
        }
        if (r->state == ScoreServer::Request::kWorking) {
            // Resumed: the database has answered.
            r->state = ScoreServer::Request::kAnswered;
            StartAnswer(p);
            s.working_--;
            return s.Queue(c, r->reply.status, r->reply.body) ? MHD_YES : MHD_NO;
        }
        // A body after an answer that did not wait for it: not read.
        *uploadSize = 0;
        return MHD_YES;
    }

    static void OnRequestDone(void* cls, MHD_Connection* c, void** context, enum MHD_RequestTerminationCode how) {
        (void)how;
        ScoreServer& s = *static_cast<ScoreServer*>(cls);
        auto* r = static_cast<ScoreServer::Request*>(*context);
        *context = nullptr;
        (void)c;
        ScoreServer::Peer* p = r ? r->peer : nullptr;
        if (p) {
            if (p->request == r) p->request = nullptr;
            if (p->state == ScoreServer::Peer::kAnswering || p->state == ScoreServer::Peer::kWaiting) {
                // The next request on the connection has its own deadline.
                p->state = ScoreServer::Peer::kWaiting;
                p->deadline = NowMs() + s.options_.requestDeadlineMs;
                p->answered++;
            }
        }
        delete r;
    }

    static void OnLibraryError(void* cls, const char* format, va_list args) {
        (void)cls;
        char line[512];
        vsnprintf(line, sizeof line, format, args);
        size_t n = strlen(line);
        while (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
        LogLine(std::string("score_server: ") + line);
    }
};

// ---- The server -------------------------------------------------------------------

std::string DataBlock(const std::string& text) { return "[-\r\nData-]" + text + "[-\r\nEnd-]"; }

std::string AllowedOrigin(const ServerOptions& options) {
    if (options.allowOrigin) return *options.allowOrigin;
    const std::string& a = options.address;
    const bool loopback = a.compare(0, 4, "127.") == 0 || a == "localhost" || a == "::1";
    return loopback ? "*" : "";
}

ScoreServer::ScoreServer(const ServerOptions& options)
    : options_(options), origin_(AllowedOrigin(options)), copies_(&LogInfo) {
    // The same key material the game derives at launch.
    key_.SetKeyword(options_.keyword, options_.game);
}

ScoreServer::~ScoreServer() {
    Stop();
    copies_.Stop();
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        quitting_ = true;
    }
    queueReady_.notify_all();
    for (std::thread& w : workers_) w.join();
    if (listenFd_ >= 0) close(listenFd_);
    if (wake_ >= 0) close(wake_);
}

namespace {

// A socket listening on the address (a name or a numeric address, IPv4 or
// IPv6) and port; -1 with a reason.
int Listen(const std::string& address, int port, std::string* error) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string where = address + ":" + std::to_string(port);
    int rc = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        *error = "cannot listen on " + where + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    std::string why = "no address";
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // A burst of connections waits in the queue rather than being dropped.
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
            why = strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) *error = "cannot listen on " + where + ": " + why;
    return fd;
}

// Every connection is a file descriptor: take all the process may have.
int RaiseFileLimit() {
    rlimit r;
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
    if (r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max < (1u << 20) ? r.rlim_max : (1u << 20);
        setrlimit(RLIMIT_NOFILE, &r);
        getrlimit(RLIMIT_NOFILE, &r);
    }
    return r.rlim_cur > (1u << 20) ? (1 << 20) : int(r.rlim_cur);
}

}  // namespace

bool ScoreServer::Open(std::string* error) {
    if (!options_.webRoot.empty()) {
        char* real = realpath(options_.webRoot.c_str(), nullptr);
        struct stat st;
        if (!real || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
            free(real);
            *error = "cannot serve the folder " + options_.webRoot;
            return false;
        }
        webRoot_ = real;
        free(real);
    }
    const int connections = StoreConnections(options_.db);
    for (int i = 0; i < connections; i++) {
        std::unique_ptr<ScoreStore> store = OpenStore(options_.db, error);
        if (!store) return false;
        stores_.push_back(std::move(store));
    }

    listenFd_ = Listen(options_.address, options_.port, error);
    if (listenFd_ < 0) return false;
    sockaddr_storage bound = {};
    socklen_t len = sizeof bound;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);

    // Room for the connections, the database and the files being sent.
    const int files = RaiseFileLimit();
    int limit = options_.maxConnections;
    if (limit > files / 2 - 64) limit = files / 2 - 64;
    if (limit < 16) limit = 16;
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, 0, nullptr, nullptr, &Hooks::OnRequest, this,
        // First, so that the library's own start-up messages come here too.
        MHD_OPTION_EXTERNAL_LOGGER, &Hooks::OnLibraryError, this,
        MHD_OPTION_LISTEN_SOCKET, listenFd_,
        MHD_OPTION_CONNECTION_LIMIT, (unsigned int)limit,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, (size_t)kConnectionMemory,
        // A backstop only: the loop's own deadlines come first.
        MHD_OPTION_CONNECTION_TIMEOUT, (unsigned int)120,
        MHD_OPTION_URI_LOG_CALLBACK, &Hooks::OnRequestLine, this,
        MHD_OPTION_NOTIFY_COMPLETED, &Hooks::OnRequestDone, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Hooks::OnConnection, this,
        MHD_OPTION_END);
    if (!daemon_) {
        *error = "cannot start the HTTP service on " + options_.address;
        return false;
    }
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (size_t i = 0; i < stores_.size(); i++) workers_.emplace_back([this, i] { Work(stores_[i].get()); });
    if (!webRoot_.empty() && options_.compressWeb) copies_.Start(webRoot_);
    return true;
}

// One pass of the loop: waits for the network, a worker's answer or the
// next sweep, then lets the library do what is ready.
void ScoreServer::Step(int waitMs) {
    MHD_UNSIGNED_LONG_LONG due = 0;
    if (MHD_get_timeout(daemon_, &due) == MHD_YES && due < static_cast<MHD_UNSIGNED_LONG_LONG>(waitMs)) waitMs = int(due);
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
    pollfd ready[2] = {{info ? info->epoll_fd : -1, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (poll(ready, 2, waitMs) > 0 && (ready[1].revents & POLLIN)) {
        uint64_t n;
        if (read(wake_, &n, sizeof n) < 0) {
            // Nothing to take: another pass read it.
        }
    }
    MHD_run(daemon_);
}

void ScoreServer::Run() {
    if (!daemon_) return;
    running_ = true;
    while (!stopping_) {
        Step(kLoopStepMs);
        Sweep(NowMs());
    }
    // Winding down: the scores being stored are still answered.
    const int64_t end = NowMs() + 10000;
    while (working_ > 0 && NowMs() < end) Step(20);
    running_ = false;
}

void ScoreServer::Start() {
    if (!daemon_) return;
    thread_ = std::thread([this] { Run(); });
    // Stop before the loop runs would be lost; wait until it is up.
    for (int i = 0; i < 500 && !running_; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void ScoreServer::Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

// Deadlines: a request that is not in on time, an answer nobody takes.
void ScoreServer::Sweep(int64_t now) {
    const bool checkProgress = now - lastProgressCheck_ >= kProgressCheckMs;
    if (checkProgress) lastProgressCheck_ = now;
    for (auto& entry : peers_) {
        Peer* p = entry.first;
        if ((p->state == Peer::kWaiting || p->state == Peer::kRefused) && now >= p->deadline) {
            Cut(p, true);
        } else if (p->state == Peer::kAnswering && checkProgress) {
            uint64_t taken = BytesTaken(p->fd) - p->takenBefore;
            if (taken > p->taken) {
                p->taken = taken;
                p->lastProgress = now;
            }
            const int64_t allowance = options_.requestDeadlineMs + int64_t(p->taken * 1000 / kMinRateBytesPerSecond);
            if (now - p->lastProgress >= options_.answerStallMs || now - p->answerStart >= allowance) Cut(p, false);
        }
    }
}

// Closes a connection under libmicrohttpd: the shut socket wakes it, and it
// ends the connection in its own way. A request that is late gets a 408
// first, unless the connection was only idling between requests.
void ScoreServer::Cut(Peer* p, bool timedOut) {
    if (timedOut && p->state == Peer::kWaiting && (p->answered == 0 || p->request))
        AnswerNow(p->fd, 408, "Request Timeout", "request not complete in time", origin_);
    if (!timedOut) {
        // What the reader did not take is dropped, not kept for it.
        linger drop = {1, 0};
        setsockopt(p->fd, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    }
    shutdown(p->fd, SHUT_RDWR);
    p->state = Peer::kClosing;
}

bool ScoreServer::Answer(MHD_Connection* c, Request* r, const char* method) {
    if (r->target.size() > kMaxTarget) return Queue(c, 414, ErrorBlock("bad request"));
    const bool get = strcmp(method, "GET") == 0, head = strcmp(method, "HEAD") == 0;
    const std::string path = r->target.substr(0, r->target.find('?'));
    if (path == "/Scores.php") {
        if (!get) return Queue(c, 405, ErrorBlock("method not allowed"), {{"Allow", "GET"}});
        return AnswerScore(c, r);
    }
    if (webRoot_.empty()) return Queue(c, 404, ErrorBlock("unknown page"));
    if (!get && !head) return Queue(c, 405, ErrorBlock("method not allowed"), {{"Allow", "GET, HEAD"}});
    return AnswerFileRequest(c, r, head);
}

using kelp::records::ParseQuery;
using kelp::records::ParseRecord;
using kelp::records::UnescapeValue;

bool ScoreServer::ParseSubmission(const std::string& target, ScoreRecord* rec, Reply* error) const {
    std::string gameText, raw, why;
    if (!ParseQuery(target, &gameText, &raw, &why)) {
        *error = Error(why == "unknown page" ? 404 : 400, why);
        return false;
    }
    if (gameText.empty() || gameText.size() > 9 || gameText.find_first_not_of("0123456789") != std::string::npos) {
        *error = Error(400, "bad Game");
        return false;
    }
    if (atoi(gameText.c_str()) != options_.game) {
        *error = Error(400, "unknown game");
        return false;
    }
    std::string scrambled;
    if (!UnescapeValue(raw, &scrambled, &why)) {
        *error = Error(400, why);
        return false;
    }
    // The scramble and its inverse use only the key table: safe to share.
    if (!ParseRecord(key_.UnscrambleTxt(scrambled), options_.game, rec, &why)) {
        *error = Error(400, why);
        return false;
    }
    return true;
}

bool ScoreServer::AnswerScore(MHD_Connection* c, Request* r) {
    Reply error;
    if (!ParseSubmission(r->target, &r->record, &error)) return Queue(c, error.status, error.body);
    if (working_ >= options_.maxQueuedScores) return Queue(c, 503, ErrorBlock("server busy"));
    // The connection waits, off the loop, until a worker has the answer.
    working_++;
    r->state = Request::kWorking;
    r->peer->state = Peer::kWorking;
    MHD_suspend_connection(c);
    Submit(r);
    return true;
}

void ScoreServer::Submit(Request* r) {
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        queue_.push_back(r);
    }
    queueReady_.notify_one();
}

void ScoreServer::Work(ScoreStore* store) {
    for (;;) {
        Request* r = nullptr;
        {
            std::unique_lock<std::mutex> hold(queueLock_);
            queueReady_.wait(hold, [this] { return quitting_ || !queue_.empty(); });
            if (queue_.empty()) return;
            r = queue_.front();
            queue_.pop_front();
        }
        r->reply = StoreAndAnswer(store, r->record);
        MHD_resume_connection(r->connection);
        // The library's own wake-up does not reach a loop it does not run.
        const uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
            // The counter is full: the loop is awake anyway.
        }
    }
}

Reply ScoreServer::StoreAndAnswer(ScoreStore* store, const ScoreRecord& rec) {
    Standing standing;
    std::string failure;
    if (!store->StoreAndRank(rec, &standing, &failure)) {
        LogLine("score_server: " + failure);
        return Error(500, "could not store the score");
    }
    Reply ok;
    ok.body = DataBlock(StandingText(rec.score, standing));
    return ok;
}

bool ScoreServer::AnswerFileRequest(MHD_Connection* c, Request* r, bool head) {
    auto header = [c](const char* name) { return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name); };
    FileRequest fr;
    fr.target = r->target;
    fr.head = head;
    fr.acceptEncoding = header("Accept-Encoding");
    fr.range = header("Range");
    fr.ifRange = header("If-Range");
    fr.ifNoneMatch = header("If-None-Match");
    fr.ifModifiedSince = header("If-Modified-Since");
    FileAnswer a = AnswerFile(webRoot_, fr);
    if (a.fd < 0) return Queue(c, a.status, a.status == 304 ? "" : ErrorBlock(a.why), a.headers);
    // Sent from the file by the kernel in pieces, whatever its size: no
    // copy of it in this process.
    MHD_Response* response = MHD_create_response_from_fd_at_offset64(a.length, a.fd, int64_t(a.offset));
    if (!response) {
        close(a.fd);
        return false;
    }
    for (const auto& h : a.headers) MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
    if (!origin_.empty()) MHD_add_response_header(response, "Access-Control-Allow-Origin", origin_.c_str());
    bool ok = MHD_queue_response(c, unsigned(a.status), response) == MHD_YES;
    MHD_destroy_response(response);
    return ok;
}

bool ScoreServer::Queue(MHD_Connection* c, int status, const std::string& body,
                        const std::vector<std::pair<std::string, std::string>>& headers) {
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return false;
    bool file = false;
    for (const auto& h : headers) {
        MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
        file = file || h.first == "Content-Type";
    }
    if (!file) {
        MHD_add_response_header(response, "Content-Type", "text/plain");
        // A score's answer is news each time.
        MHD_add_response_header(response, "Cache-Control", "no-store");
    }
    if (!origin_.empty()) MHD_add_response_header(response, "Access-Control-Allow-Origin", origin_.c_str());
    bool ok = MHD_queue_response(c, unsigned(status), response) == MHD_YES;
    MHD_destroy_response(response);
    return ok;
}

}  // namespace scores
