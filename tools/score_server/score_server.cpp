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
#include <random>


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
// A connection turned away is closed this long after its 503 unless its
// client closes it first: long enough for the answer to be read, short
// enough that a flood of them holds few sockets.
const int kRefusedLingerMs = 1000;
// When places run short, a connection whose request has taken this long
// and is still not in may be closed for a new one.
const int kSlowRequestMs = 1000;
// How far back the idle list is searched for a connection to close.
const int kIdleLookAhead = 64;
// Pauses between attempts at a database that does not answer.
const int kFirstRetryMs = 250;
const int kMaxRetryMs = 5000;
// Retry-After, in seconds: a connection turned away, a score the database
// could not take.
const int kRetryConnection = 1;
const int kRetryDatabase = 2;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ErrorBlock(const std::string& reason) { return DataBlock("ERROR\r\n" + reason + "\r\n"); }

Reply Error(int status, const std::string& reason, int retryAfter = 0) {
    Reply r;
    r.status = status;
    r.body = ErrorBlock(reason);
    r.retryAfter = retryAfter;
    return r;
}

// Bytes of this connection the client's side has acknowledged: what a
// reader has taken, whatever the server offered.
uint64_t BytesTaken(int fd) {
    tcp_info info = {};
    socklen_t len = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return 0;
    return info.tcpi_bytes_acked;
}

// What tells one record from another for the limit per address: its fields.
uint64_t RecordKey(const ScoreRecord& r) {
    const std::string all = r.userId + "{" + r.name + "{" + std::to_string(r.version) + "{" +
                            std::to_string(r.score) + "{" + r.extra;
    return uint64_t(std::hash<std::string>()(all)) | 1;
}

}  // namespace

struct ScoreServer::Request {
    Peer* peer = nullptr;
    MHD_Connection* connection = nullptr;
    std::string target;  // raw, as in the request line
    enum { kNew, kHead, kAnswered, kWorking, kHashing } state = kNew;
    size_t bodyBytes = 0;
    // kWorking: the database's part. The reply is written by the worker (or
    // by the loop, for a score that waited too long) before the connection
    // is resumed, and read by the loop after.
    std::shared_ptr<Job> job;
    Reply reply;
    // kHashing: the file whose content is read before it is answered.
    std::string hashPath;
    int hashTries = 0;
    bool head = false;
};

// A score on its way through the database. Whoever answers it first, the
// worker with the database's answer or the loop once it has waited too
// long, takes `request` (under the queue's lock), and the other leaves it.
struct ScoreServer::Job {
    ScoreRecord record;
    Request* request = nullptr;
    bool taken = false;   // by a worker, off the queue
    int64_t queuedAt = 0;
};

struct ScoreServer::Peer {
    int fd = -1;
    std::string address;
    bool placed = false;    // holds a place, counted against its address too
    bool trusted = false;   // a trusted proxy: its requests name their client
    enum { kWaiting, kAnswering, kWorking, kRefused, kClosing } state = kWaiting;
    int64_t deadline = 0;   // kWaiting, kRefused: when the request must be in
    int answered = 0;
    Request* request = nullptr;  // the current one, from its request line on
    // kAnswering: the answer's progress.
    int64_t answerStart = 0;
    int64_t lastProgress = 0;
    uint64_t takenBefore = 0;  // acknowledged before this answer
    uint64_t taken = 0;        // of this answer
    // kWaiting: since when, and its place in the server's list of those
    // waiting (fresh_ or idle_).
    int64_t waitingSince = 0;
    std::list<Peer*>* list = nullptr;
    std::list<Peer*>::iterator at;
};

namespace {

// A short answer written straight to the socket, past libmicrohttpd, for a
// client that is turned away before (or without) a request: the socket's
// send buffer is empty, so it fits, and no one waits for it to be read.
void AnswerNow(int fd, int status, const char* what, const std::string& reason, const std::string& origin,
               int retryAfter = 0) {
    std::string body = ErrorBlock(reason);
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + what +
                       "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n";
    if (retryAfter > 0) text += "Retry-After: " + std::to_string(retryAfter) + "\r\n";
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
    static void StartAnswer(ScoreServer& s, ScoreServer::Peer* p) {
        s.Unlist(p);
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
            const sockaddr* address = from ? from->client_addr : nullptr;
            p->fd = fd ? fd->connect_fd : -1;
            p->address = AddressKey(address);
            if (!s.options_.trustedProxies.empty()) {
                const std::string exact = ExactAddress(address);
                for (const std::string& t : s.options_.trustedProxies) p->trusted = p->trusted || t == exact;
            }
            const int64_t now = NowMs();
            p->deadline = now + s.options_.requestDeadlineMs;
            s.Admit(p.get(), now);
            *context = p.get();
            s.peers_[p.get()] = std::move(p);
        } else {
            auto* p = static_cast<ScoreServer::Peer*>(*context);
            auto it = s.peers_.find(p);
            if (it == s.peers_.end()) return;
            s.Unlist(p);
            s.Release(p);
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
                StartAnswer(s, p);
                return s.Queue(c, 413, ErrorBlock("request too large")) ? MHD_YES : MHD_NO;
            }
            r->state = ScoreServer::Request::kAnswered;
            StartAnswer(s, p);
            return s.Answer(c, r, method) ? MHD_YES : MHD_NO;
        }
        if (r->state == ScoreServer::Request::kWorking) {
            // Resumed: the database has answered, or the score has waited
            // for it too long.
            r->state = ScoreServer::Request::kAnswered;
            StartAnswer(s, p);
            s.working_--;
            r->job.reset();
            std::vector<std::pair<std::string, std::string>> headers;
            if (r->reply.retryAfter > 0) headers.emplace_back("Retry-After", std::to_string(r->reply.retryAfter));
            return s.Queue(c, r->reply.status, r->reply.body, headers) ? MHD_YES : MHD_NO;
        }
        if (r->state == ScoreServer::Request::kHashing) {
            // Resumed: the file's content is known (or it changed again).
            r->state = ScoreServer::Request::kAnswered;
            StartAnswer(s, p);
            s.hashing_--;
            return s.AnswerFileRequest(c, r, r->head) ? MHD_YES : MHD_NO;
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
                const int64_t now = NowMs();
                p->state = ScoreServer::Peer::kWaiting;
                p->deadline = now + s.options_.requestDeadlineMs;
                p->answered++;
                s.ListWaiting(p, &s.idle_, now);
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
    : options_(options), origin_(AllowedOrigin(options)), copies_(&LogInfo, &hashes_) {
    // The same key material the game derives at launch.
    key_.SetKeyword(options_.keyword, options_.game);
}

ScoreServer::~ScoreServer() {
    Stop();
    copies_.Stop();
    // Every connection still waiting is resumed before the library stops
    // (it must find none suspended): the hasher resumes what it holds as it
    // ends, and scores still with the database are let go here.
    if (hasher_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(hashLock_);
            hashStop_ = true;
        }
        hashReady_.notify_all();
        hasher_.join();
    }
    std::vector<MHD_Connection*> waiting;
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        for (const std::shared_ptr<Job>& job : jobs_)
            if (job->request) {
                waiting.push_back(job->request->connection);
                job->request = nullptr;
            }
        quitting_ = true;
    }
    queueReady_.notify_all();
    retryWait_.notify_all();
    for (MHD_Connection* c : waiting) MHD_resume_connection(c);
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
    // A worker held by a database that does not answer is broken off.
    {
        std::unique_lock<std::mutex> hold(queueLock_);
        if (!workersDone_.wait_for(hold, std::chrono::seconds(2), [this] { return workersLeft_ == 0; })) {
            hold.unlock();
            std::lock_guard<std::mutex> slots(storesLock_);
            for (const auto& store : stores_)
                if (store) store->Interrupt();
        }
    }
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
    for (std::string& proxy : options_.trustedProxies) {
        std::string exact;
        if (!ExactAddress(proxy, &exact)) {
            *error = "not a numeric address: " + proxy;
            return false;
        }
        proxy = exact;
    }
    // The first connection now, so that a database that refuses this server
    // (a bad address, a wrong password) stops it at once; the others are
    // made by their workers. One that does not answer yet is tried again.
    stores_.resize(size_t(StoreConnections(options_.db)));
    {
        bool down = false;
        std::unique_ptr<ScoreStore> store = OpenStore(options_.db, error, &down);
        if (store) {
            stores_[0] = std::move(store);
            storesUp_ = 1;
        } else if (!down) {
            return false;
        } else {
            LogLine("score_server: " + *error + "; trying again, and scores are answered 503 until it answers");
            error->clear();
        }
    }

    listenFd_ = Listen(options_.address, options_.port, error);
    if (listenFd_ < 0) return false;
    sockaddr_storage bound = {};
    socklen_t len = sizeof bound;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);

    // Each place may hold a socket and a file being sent; connections turned
    // away hold a socket for a moment (up to a quarter as many more); a few
    // files stay for the database and the log.
    const int files = RaiseFileLimit();
    const int fit = int((int64_t(files) - 64) * 4 / 9);
    maxConnections_ = options_.maxConnections > 0 ? options_.maxConnections : kMaxPlaces;
    if (maxConnections_ > fit) {
        if (options_.maxConnections > 0)
            LogLine("score_server: the file limit (" + std::to_string(files) + ") leaves room for " +
                    std::to_string(fit) + " connections");
        maxConnections_ = fit;
    }
    if (maxConnections_ < 16) maxConnections_ = 16;
    perAddressLimit_ = options_.connectionsPerAddress;
    if (perAddressLimit_ <= 0) {
        perAddressLimit_ = maxConnections_ / 16 < 256 ? maxConnections_ / 16 : 256;
        if (perAddressLimit_ < 1) perAddressLimit_ = 1;
    }
    const int refusals = maxConnections_ / 4 > 64 ? maxConnections_ / 4 : 64;
    if (options_.recordsPerSecond > 0)
        records_.reset(new RecordLimits(options_.recordsPerSecond, options_.recordBurst > 0 ? options_.recordBurst : 1));

    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, 0, nullptr, nullptr, &Hooks::OnRequest, this,
        // First, so that the library's own start-up messages come here too.
        MHD_OPTION_EXTERNAL_LOGGER, &Hooks::OnLibraryError, this,
        MHD_OPTION_LISTEN_SOCKET, listenFd_,
        // The places, and room to turn the rest away with an answer.
        MHD_OPTION_CONNECTION_LIMIT, (unsigned int)(maxConnections_ + refusals),
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
    workersLeft_ = int(stores_.size());
    for (size_t i = 0; i < stores_.size(); i++) workers_.emplace_back([this, i] { Work(i); });
    if (!webRoot_.empty()) {
        hasher_ = std::thread([this] { Hash(); });
        if (options_.compressWeb) copies_.Start(webRoot_);
    }
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
    // Winding down: the scores being stored and the files being read are
    // still answered.
    const int64_t end = NowMs() + 10000;
    while ((working_ > 0 || hashing_ > 0) && NowMs() < end) {
        Step(20);
        ExpireJobs(NowMs());
    }
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

// ---- Places --------------------------------------------------------------------------

// A new connection takes a place, unless its address holds its share
// already or no place can be freed: then it is answered 503 at once, and
// closed soon after.
bool ScoreServer::Admit(Peer* p, int64_t now) {
    const char* why = nullptr;
    auto mine = perAddress_.find(p->address);
    if (!p->trusted && mine != perAddress_.end() && mine->second >= perAddressLimit_)
        why = "too many connections";
    else if (placesTaken_ >= maxConnections_ && !MakeRoom(now))
        why = "server busy";
    if (why) {
        p->state = Peer::kRefused;
        p->deadline = now + (options_.requestDeadlineMs < kRefusedLingerMs ? options_.requestDeadlineMs : kRefusedLingerMs);
        AnswerNow(p->fd, 503, "Service Unavailable", why, origin_, kRetryConnection);
        shutdown(p->fd, SHUT_WR);
        return false;
    }
    placesTaken_++;
    perAddress_[p->address]++;
    p->placed = true;
    ListWaiting(p, &fresh_, now);
    return true;
}

// Frees a place for a new connection, as a proxy would: the connection kept
// idle the longest is closed (its client opens another when it has a
// request); failing that, the one whose request has taken the longest to
// arrive, past kSlowRequestMs, with a 503. Answers under way and scores with
// the database are never cut for room.
bool ScoreServer::MakeRoom(int64_t now) {
    Peer* slow = nullptr;
    int looked = 0;
    for (Peer* p : idle_) {
        if (!p->request) {
            Unlist(p);
            Release(p);
            p->state = Peer::kClosing;
            shutdown(p->fd, SHUT_RDWR);
            return true;
        }
        if (!slow) slow = p;  // its next request has begun to arrive
        if (++looked >= kIdleLookAhead) break;
    }
    Peer* oldest = fresh_.empty() ? nullptr : fresh_.front();
    if (slow && (!oldest || slow->waitingSince < oldest->waitingSince)) oldest = slow;
    if (!oldest || now - oldest->waitingSince < kSlowRequestMs) return false;
    Unlist(oldest);
    Release(oldest);
    AnswerNow(oldest->fd, 503, "Service Unavailable", "server busy", origin_, kRetryConnection);
    oldest->state = Peer::kClosing;
    shutdown(oldest->fd, SHUT_RDWR);
    return true;
}

void ScoreServer::Release(Peer* p) {
    if (!p->placed) return;
    p->placed = false;
    placesTaken_--;
    auto mine = perAddress_.find(p->address);
    if (mine != perAddress_.end() && --mine->second <= 0) perAddress_.erase(mine);
}

void ScoreServer::ListWaiting(Peer* p, std::list<Peer*>* list, int64_t now) {
    Unlist(p);
    if (!p->placed) return;
    p->waitingSince = now;
    p->at = list->insert(list->end(), p);
    p->list = list;
}

void ScoreServer::Unlist(Peer* p) {
    if (!p->list) return;
    p->list->erase(p->at);
    p->list = nullptr;
}

// Deadlines: a request that is not in on time, an answer nobody takes, a
// score the database has held too long.
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
    ExpireJobs(now);
    if (records_ && now - lastRecordSweep_ >= 1000) {
        lastRecordSweep_ = now;
        records_->Forget(now);
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
    Unlist(p);
    Release(p);
    shutdown(p->fd, SHUT_RDWR);
    p->state = Peer::kClosing;
}

// ---- Requests ------------------------------------------------------------------------

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

// The address a request counts under: a trusted proxy's names its client.
std::string ScoreServer::ClientOf(MHD_Connection* c, const Peer* p) const {
    std::string forwarded;
    if (p->trusted &&
        ForwardedAddress(MHD_lookup_connection_value(c, MHD_HEADER_KIND, "X-Forwarded-For"), &forwarded))
        return forwarded;
    return p->address;
}

bool ScoreServer::AnswerScore(MHD_Connection* c, Request* r) {
    Reply error;
    ScoreRecord record;
    if (!ParseSubmission(r->target, &record, &error)) return Queue(c, error.status, error.body);
    const std::vector<std::pair<std::string, std::string>> later = {{"Retry-After", std::to_string(kRetryDatabase)}};
    // No database to take it, or too many waiting for it: said at once.
    if (storesUp_ == 0 || working_ >= options_.maxQueuedScores) return Queue(c, 503, ErrorBlock("server busy"), later);
    const int64_t now = NowMs();
    int retryAfter = 0;
    if (records_ && !records_->Take(ClientOf(c, r->peer), RecordKey(record), now, &retryAfter))
        return Queue(c, 429, ErrorBlock("too many records"), {{"Retry-After", std::to_string(retryAfter)}});
    // The connection waits, off the loop, until a worker has the answer or
    // the score has waited its time (ExpireJobs).
    std::shared_ptr<Job> job(new Job());
    job->record = record;
    job->request = r;
    job->queuedAt = now;
    r->job = job;
    working_++;
    r->state = Request::kWorking;
    r->peer->state = Peer::kWorking;
    MHD_suspend_connection(c);
    jobs_.push_back(job);
    Submit(job);
    return true;
}

// Scores that have waited dbWaitMs for the database are answered 503 here:
// one still queued is taken off the queue (it never reaches the database);
// one a worker holds may still be stored, so the answer does not say it was
// not (the same record sent again finds it, and stays one row).
void ScoreServer::ExpireJobs(int64_t now) {
    while (!jobs_.empty()) {
        std::shared_ptr<Job> job = jobs_.front();
        Request* late = nullptr;
        {
            std::lock_guard<std::mutex> hold(queueLock_);
            if (job->request && now - job->queuedAt < options_.dbWaitMs) break;
            if (job->request) {
                late = job->request;
                job->request = nullptr;
                if (!job->taken)
                    for (auto it = queue_.begin(); it != queue_.end(); ++it)
                        if (*it == job) {
                            queue_.erase(it);
                            break;
                        }
            }
        }
        jobs_.pop_front();
        if (late) {
            late->reply = Error(503, "server busy", kRetryDatabase);
            MHD_resume_connection(late->connection);
        }
    }
}

void ScoreServer::Submit(const std::shared_ptr<Job>& job) {
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        queue_.push_back(job);
    }
    queueReady_.notify_one();
}

// Pauses a worker whose database does not answer: false once the server
// is ending.
bool ScoreServer::WaitToRetry(int64_t ms) {
    std::unique_lock<std::mutex> hold(queueLock_);
    return !retryWait_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return quitting_; });
}

void ScoreServer::Work(size_t index) {
    std::mt19937 jitter(unsigned(index * 7919 + unsigned(NowMs())));
    int64_t pause = kFirstRetryMs;
    for (;;) {
        ScoreStore* store;
        {
            std::lock_guard<std::mutex> hold(storesLock_);
            store = stores_[index].get();
        }
        if (!store || store->Broken()) {
            // (Re)connect, with pauses growing to kMaxRetryMs, each shifted
            // a little so that servers restarted together spread out.
            std::string why;
            bool down = false;
            bool ok;
            if (store) {
                ok = store->Reconnect(&why);
            } else {
                std::unique_ptr<ScoreStore> opened = OpenStore(options_.db, &why, &down);
                ok = opened != nullptr;
                if (ok) {
                    std::lock_guard<std::mutex> hold(storesLock_);
                    stores_[index] = std::move(opened);
                }
            }
            if (!ok) {
                const int64_t wait = pause * int64_t(80 + jitter() % 41) / 100;
                SayDatabase(false, why, wait);
                if (!WaitToRetry(wait)) break;
                pause = pause * 2 < kMaxRetryMs ? pause * 2 : kMaxRetryMs;
                continue;
            }
            pause = kFirstRetryMs;
            storesUp_++;
            SayDatabase(true, "", 0);
            continue;
        }
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> hold(queueLock_);
            queueReady_.wait(hold, [this] { return quitting_ || !queue_.empty(); });
            if (quitting_) break;
            job = queue_.front();
            queue_.pop_front();
            job->taken = true;
        }
        Reply reply = StoreAndAnswer(store, job->record);
        if (store->Broken()) storesUp_--;
        Finish(job, reply);
    }
    std::lock_guard<std::mutex> hold(queueLock_);
    workersLeft_--;
    workersDone_.notify_all();
}

// What the log says of the database's state: each change once, and the
// same reason again at most every 30 seconds.
void ScoreServer::SayDatabase(bool up, const std::string& why, int64_t retryMs) {
    std::lock_guard<std::mutex> hold(storesLock_);
    const int64_t now = NowMs();
    if (up) {
        if (dbDownSaid_) LogLine("score_server: the database answers again");
        dbDownSaid_ = false;
        return;
    }
    if (dbDownSaid_ && why == dbLastWhy_ && now - dbLastSaid_ < 30000) return;
    char wait[32];
    snprintf(wait, sizeof wait, "%.1f", double(retryMs) / 1000);
    LogLine("score_server: " + why + "; trying again in " + wait + " s");
    dbDownSaid_ = true;
    dbLastWhy_ = why;
    dbLastSaid_ = now;
}

// The worker's answer reaches the request unless the loop has answered it
// already. The connection is resumed outside the queue's lock: the library
// takes its own locks there.
void ScoreServer::Finish(const std::shared_ptr<Job>& job, Reply reply) {
    MHD_Connection* c = nullptr;
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        if (job->request) {
            job->request->reply = std::move(reply);
            c = job->request->connection;
            job->request = nullptr;
        }
    }
    if (!c) return;
    MHD_resume_connection(c);
    // The library's own wake-up does not reach a loop it does not run.
    const uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        // The counter is full: the loop is awake anyway.
    }
}

Reply ScoreServer::StoreAndAnswer(ScoreStore* store, const ScoreRecord& rec) {
    Standing standing;
    std::string failure;
    switch (store->StoreAndRank(rec, &standing, &failure)) {
    case StoreOutcome::kStored: {
        Reply ok;
        ok.body = DataBlock(StandingText(rec.score, standing));
        return ok;
    }
    case StoreOutcome::kRefused:
        LogLine("score_server: " + failure);
        return Error(500, "could not store the score");
    case StoreOutcome::kUnavailable:
    default:
        // It may be stored: the answer must not say it is not.
        LogLine("score_server: " + failure);
        return Error(503, "server busy", kRetryDatabase);
    }
}

// ---- Files -----------------------------------------------------------------------------

// Files whose content is not known yet, read off the loop: each request is
// resumed once its file is hashed (whatever came of it).
void ScoreServer::Hash() {
    for (;;) {
        Request* r;
        {
            std::unique_lock<std::mutex> hold(hashLock_);
            hashReady_.wait(hold, [this] { return hashStop_ || !hashQueue_.empty(); });
            if (hashQueue_.empty()) return;
            r = hashQueue_.front();
            hashQueue_.pop_front();
        }
        if (!hashStop_) PrepareFile(r->hashPath, &hashes_, &hashStop_);
        MHD_resume_connection(r->connection);
        const uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
            // The counter is full: the loop is awake anyway.
        }
    }
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
    FileAnswer a = AnswerFile(webRoot_, fr, hashes_);
    if (a.staleCopy && options_.compressWeb) copies_.Remake(a.path);
    if (a.status == 0) {
        // Its content is read first, off the loop; a file rewritten again
        // and again while it is read is answered later.
        if (r->hashTries++ >= 3) return Queue(c, 503, ErrorBlock("server busy"), {{"Retry-After", "1"}});
        r->hashPath = a.path;
        r->head = head;
        r->state = Request::kHashing;
        r->peer->state = Peer::kWorking;
        hashing_++;
        MHD_suspend_connection(c);
        {
            std::lock_guard<std::mutex> hold(hashLock_);
            hashQueue_.push_back(r);
        }
        hashReady_.notify_one();
        return true;
    }
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
