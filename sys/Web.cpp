// Web access on the desktop: the blocking HTTP/1.1 exchange behind
// KELPCore::GetURL, and the desktop's URL opener behind OpenBrowser. A
// browser build has its own (sys/web/Web.cpp).
//
// The answer is read as HTTP (WebAnswer): its body by its length or its
// chunks, the data block wherever the network cut it. Only a whole block is
// an answer: one cut short, a redirect (not followed) or a body without the
// block is a failure, said on the log, and the answer is empty.
//
// Every wait is bounded, so a server that never answers or never closes the
// connection holds the game for seconds, not forever.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "KELPSys.h"

extern char** environ;

namespace kelp {

namespace {
int64_t MonotonicMs();
}
int64_t (*WebClockMs)() = MonotonicMs;

namespace {

const int kStepWaitMs = 3000;     // connect, send, and each receive
const int kAnswerWaitMs = 10000;  // the whole answer, against a server that trickles or floods

int64_t MonotonicMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int64_t NowMs() { return WebClockMs(); }

}  // namespace

namespace {

// One exchange, run on whichever thread: it touches nothing shared (its own
// socket, buffer, clock and answer), so it may run off the main thread. What
// the log is to say comes back in `failure` (a line that is `plain` goes out
// as it is), for the main thread to say; or, once the answer has been read
// to its end, `result` is WebAnswer's. `cancel` (a pipe's read end, or -1)
// ends every wait at once when it becomes readable.
struct Exchange {
    int result = WebAnswer::kMore;
    std::string failure;
    bool plain = false;
    WebAnswer answer;
};

void Fail(Exchange& x, const std::string& line, bool plain = false) {
    x.failure = line;
    x.plain = plain;
}

// Waits until the socket is ready for `events`, the deadline passes or the
// exchange is cancelled: 1 ready, 0 timed out, -1 failed or cancelled.
int WaitOrCancel(int fd, short events, int64_t deadline, int64_t (*clock)(), int cancel) {
    for (;;) {
        int64_t left = deadline - clock();
        if (left < 0) left = 0;
        pollfd p[2] = {{fd, events, 0}, {cancel, POLLIN, 0}};
        int rc = poll(p, cancel >= 0 ? 2 : 1, int(left));
        if (rc > 0) return p[1].revents ? -1 : 1;
        if (rc == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

bool ConnectOrCancel(int fd, const sockaddr_in& addr, int ms, int64_t (*clock)(), int cancel) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EINPROGRESS) return false;
    if (WaitOrCancel(fd, POLLOUT, clock() + ms, clock, cancel) != 1) return false;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return false;
    return err == 0;
}

std::string Said(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Said(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

void RunExchange(Exchange& x, const std::string& host, const std::string& pathAndQuery, int port,
                 int64_t (*clock)(), int cancel) {
    const std::string request =
        "GET /" + pathAndQuery + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 6);
    if (fd < 0) {
        Fail(x, Said("Web: no socket: %s", strerror(errno)));
        return;
    }
    // An unknown (or empty) host sends nothing: no answer, and the log says why.
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (lookup != 0 || !found) {
        Fail(x, Said("Web: no such host \"%.200s\" (%s)", host.c_str(), gai_strerror(lookup)));
        if (found) freeaddrinfo(found);
        close(fd);
        return;
    }
    sockaddr_in addr;
    memcpy(&addr, found->ai_addr, sizeof addr);
    freeaddrinfo(found);
    addr.sin_port = htons(uint16_t(port));

    if (!ConnectOrCancel(fd, addr, kStepWaitMs, clock, cancel)) {
        Fail(x, "Could not connect", true);
        close(fd);
        return;
    }

    // The whole request, in as few sends as the socket takes. MSG_NOSIGNAL:
    // a server that hangs up early must not kill the game with SIGPIPE.
    size_t done = 0;
    int64_t deadline = clock() + kStepWaitMs;
    while (done < request.size()) {
        int ready = WaitOrCancel(fd, POLLOUT, deadline, clock, cancel);
        if (ready == 0) Fail(x, Said("Web: request to %.200s not sent within 3 seconds", host.c_str()));
        if (ready != 1) break;
        ssize_t k = send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            Fail(x, "Could not connect", true);
            break;
        }
        done += size_t(k);
    }
    if (done < request.size()) {
        close(fd);
        return;
    }

    char buffer[sizeof webBuffer];
    const int64_t answerDeadline = clock() + kAnswerWaitMs;
    const std::string late = Said("Web: answer from %.200s took over %i seconds; stopped", host.c_str(),
                                  kAnswerWaitMs / 1000);
    while (x.result == WebAnswer::kMore) {
        // Checked before every read, not only when a wait times out: a
        // server that keeps data coming never lets a wait time out.
        if (clock() >= answerDeadline) {
            Fail(x, late);
            break;
        }
        int64_t stepDeadline = clock() + kStepWaitMs;
        if (stepDeadline > answerDeadline) stepDeadline = answerDeadline;
        int ready = WaitOrCancel(fd, POLLIN, stepDeadline, clock, cancel);
        if (ready == 0) {
            if (clock() >= answerDeadline)
                Fail(x, late);
            else
                Fail(x, Said("Web: no answer from %.200s within 3 seconds", host.c_str()));
            break;
        }
        ssize_t n = ready == 1 ? recv(fd, buffer, sizeof buffer, 0) : -1;
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        x.result = n > 0 ? x.answer.Take(buffer, size_t(n)) : x.answer.End(n == 0);
    }
    close(fd);
}

// A request under way off the main thread. The thread and the game share
// this record only, through the lock; the thread never touches the log or
// anything else of the game's, and holds its own reference, so the record
// outlives whichever side lets go of it last (a game that ends with a
// request under way leaves its thread nothing else to touch).
struct Request {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    Exchange exchange;
    std::string host;
    int wake[2] = {-1, -1};   // written to end the exchange's waits at once
    ~Request() {
        for (int fd : wake)
            if (fd >= 0) close(fd);
    }
};

std::shared_ptr<Request> underWay;

}  // namespace

void KELPSys::URLData(const std::string& host, const std::string& pathAndQuery) {
    // Whatever happens now, the last exchange's answer is not this one's.
    webResult.clear();
    Exchange x;
    RunExchange(x, host, pathAndQuery, webPort, WebClockMs, -1);
    if (x.result != WebAnswer::kMore)
        EndWebExchange(host, x.result, x.answer, NowMs());
    else if (!x.failure.empty())
        WebFailed(NowMs(), x.failure, x.plain);
}

int KELPSys::StartURLData(const std::string& host, const std::string& pathAndQuery) {
    if (URLUnderWay()) return 0;
    auto r = std::make_shared<Request>();
    r->host = host;
    if (pipe2(r->wake, O_CLOEXEC | O_NONBLOCK) != 0) r->wake[0] = r->wake[1] = -1;
    urlAnswer.clear();
    const int port = webPort;
    int64_t (*clock)() = WebClockMs;
    try {
        std::thread([r, pathAndQuery, port, clock] {
            Exchange x;
            RunExchange(x, r->host, pathAndQuery, port, clock, r->wake[0]);
            std::lock_guard<std::mutex> hold(r->lock);
            r->exchange = std::move(x);
            r->done = true;
            r->ended.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        // No thread to be had (a process at its limit): nothing was sent.
        WebFailed(NowMs(), fstrSys("Web: request to %.200s not started (%s)", host.c_str(), e.what()));
        return 0;
    }
    underWay = r;
    return 1;
}

int KELPSys::URLUnderWay() {
    if (!underWay) return 0;
    std::shared_ptr<Request> r = underWay;
    {
        std::lock_guard<std::mutex> hold(r->lock);
        if (!r->done) return 1;
    }
    // Its outcome is said here, on the main thread, as GetURL's is.
    underWay.reset();
    Exchange& x = r->exchange;
    if (x.result != WebAnswer::kMore)
        EndWebExchange(r->host, x.result, x.answer, NowMs(), urlAnswer);
    else if (!x.failure.empty())
        WebFailed(NowMs(), x.failure, x.plain);
    return 0;
}

void KELPSys::EndURLData() {
    // One that has ended is said as usual.
    if (!URLUnderWay()) return;
    std::shared_ptr<Request> r = underWay;
    underWay.reset();
    if (r->wake[1] >= 0) {
        ssize_t n = write(r->wake[1], "x", 1);
        (void)n;
    }
    // Woken, the exchange ends at once; only a name lookup cannot be woken,
    // and the game does not wait long for one: its thread then finishes
    // alone, touching nothing but the record it holds.
    std::unique_lock<std::mutex> hold(r->lock);
    r->ended.wait_for(hold, std::chrono::milliseconds(500), [&] { return r->done; });
    Debuglog(fstrSys("Web: request to %.200s stopped, unanswered, as the game ends", r->host.c_str()));
}

// The URL goes to the desktop's opener as one argument, never through a
// shell, so quotes, semicolons or "$(...)" in it cannot run anything; one
// that starts with "-" would be taken for an option and is refused. The
// opener may take seconds (it starts the browser): the game does not wait
// for it, and a thread of its own collects it when it ends.
void KELPSys::OpenBrowser_Sys(const char* url) {
    std::string arg = url ? url : "";
    if (!arg.empty() && arg[0] == '-') {
        Debuglog(fstrSys("Not opened, would read as an option: %.200s", arg.c_str()));
        return;
    }
    char program[] = "xdg-open";
    char* argv[] = {program, &arg[0], nullptr};
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
    if (rc != 0) {
        Debuglog(fstrSys("Could not start xdg-open: %s", strerror(rc)));
        return;
    }
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace kelp
