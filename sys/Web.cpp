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
#include <cstdio>
#include <cstring>
#include <ctime>
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

// Waits until the socket is ready for `events` or the deadline passes:
// 1 ready, 0 timed out, -1 failed.
int WaitUntil(int fd, short events, int64_t deadline) {
    for (;;) {
        int64_t left = deadline - NowMs();
        if (left < 0) left = 0;
        pollfd p = {fd, events, 0};
        int rc = poll(&p, 1, int(left));
        if (rc > 0) return 1;
        if (rc == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

bool ConnectWithin(int fd, const sockaddr_in& addr, int ms) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EINPROGRESS) return false;
    if (WaitUntil(fd, POLLOUT, NowMs() + ms) != 1) return false;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return false;
    return err == 0;
}

}  // namespace

void KELPSys::URLData(const std::string& host, const std::string& pathAndQuery) {
    const std::string request =
        "GET /" + pathAndQuery + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";

    int fd = socket(AF_INET, SOCK_STREAM, 6);
    if (fd < 0) {
        Debuglog(fstrSys("Web: no socket: %s", strerror(errno)));
        return;
    }

    // Whatever happens now, the last exchange's answer is not this one's.
    webResult.clear();
    // An unknown (or empty) host sends nothing: no answer, and the log says why.
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (lookup != 0 || !found) {
        WebFailed(NowMs(), fstrSys("Web: no such host \"%.200s\" (%s)", host.c_str(), gai_strerror(lookup)));
        if (found) freeaddrinfo(found);
        close(fd);
        return;
    }
    sockaddr_in addr;
    memcpy(&addr, found->ai_addr, sizeof addr);
    freeaddrinfo(found);
    addr.sin_port = htons(uint16_t(webPort));

    if (!ConnectWithin(fd, addr, kStepWaitMs)) {
        WebFailed(NowMs(), "Could not connect", true);
        close(fd);
        return;
    }

    // The whole request, in as few sends as the socket takes. MSG_NOSIGNAL:
    // a server that hangs up early must not kill the game with SIGPIPE.
    size_t done = 0;
    int64_t deadline = NowMs() + kStepWaitMs;
    while (done < request.size()) {
        int ready = WaitUntil(fd, POLLOUT, deadline);
        if (ready == 0) WebFailed(NowMs(), fstrSys("Web: request to %s not sent within 3 seconds", host.c_str()));
        if (ready != 1) break;
        ssize_t k = send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            WebFailed(NowMs(), "Could not connect", true);
            break;
        }
        done += size_t(k);
    }
    if (done < request.size()) {
        close(fd);
        return;
    }

    WebAnswer answer;
    int result = WebAnswer::kMore;
    const int64_t answerDeadline = NowMs() + kAnswerWaitMs;
    while (result == WebAnswer::kMore) {
        // Checked before every read, not only when a wait times out: a
        // server that keeps data coming never lets a wait time out.
        if (NowMs() >= answerDeadline) {
            WebFailed(NowMs(), fstrSys("Web: answer from %s took over %i seconds; stopped", host.c_str(),
                                       kAnswerWaitMs / 1000));
            break;
        }
        int64_t stepDeadline = NowMs() + kStepWaitMs;
        if (stepDeadline > answerDeadline) stepDeadline = answerDeadline;
        int ready = WaitUntil(fd, POLLIN, stepDeadline);
        if (ready == 0) {
            if (NowMs() >= answerDeadline)
                WebFailed(NowMs(), fstrSys("Web: answer from %s took over %i seconds; stopped", host.c_str(),
                                           kAnswerWaitMs / 1000));
            else
                WebFailed(NowMs(), fstrSys("Web: no answer from %s within 3 seconds", host.c_str()));
            break;
        }
        ssize_t n = ready == 1 ? recv(fd, webBuffer, sizeof webBuffer, 0) : -1;
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        result = n > 0 ? answer.Take(webBuffer, size_t(n)) : answer.End(n == 0);
    }
    close(fd);
    if (result != WebAnswer::kMore) EndWebExchange(host, result, answer, NowMs());
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
