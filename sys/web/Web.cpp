// Web access in a browser: GetURL's exchange through the page's own HTTP
// request (fetch), and OpenBrowser through window.open.
//
// A page's request does not block: GetURL starts one (unless one is still
// under way) and returns the last answer that has arrived. The request goes
// to the page's own server (the origin it was loaded from, whatever host the
// game names), or to the origin the page sets in Module.scoreOrigin, which
// must then allow the page's origin. The browser reads the status and
// headers and takes chunks apart; the body is read here as it arrives, by
// the desktop's WebAnswer, and the same rules hold: only a whole data block
// is an answer, a redirect is not followed, and each failure is said on the
// log (once a second at most). The same bounds hold too: three seconds for
// each step (the first answer, each further part), ten for the whole answer.
//
// A game asks on every update while it wants an answer (the demo while V is
// held). Against a server that is down or answers wrongly, each request
// would fail at once and the next follow in the next frame, each failure a
// line on the browser's console: after a failed request the next waits,
// half a second after the first failure and twice as long after each
// further one, up to four seconds, until a request brings an answer.
// Meanwhile GetURL returns at once, with the last answer that has arrived.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "../KELPSys.h"

namespace kelp {

namespace {

const int kStepWaitMs = 3000;
const int kAnswerWaitMs = 10000;
const int64_t kFirstBackOffMs = 500;
const int64_t kLongestBackOffMs = 4000;

// Why an exchange ended (the page passes these to kelp_web_end).
enum { kEnded = 0, kNoConnection = 1, kStepTimeout = 2, kAnswerTimeout = 3, kRedirected = 4, kBrokenOff = 5 };

std::string pendingHost;
std::unique_ptr<WebAnswer> pending;
int pendingResult = WebAnswer::kMore;
// After failures: the wait before the next request, and when it may go.
int64_t backOffMs = 0;
int64_t nextRequestAt = 0;
// The request under way was RequestURL's: its answer goes to urlAnswer.
bool pendingForURL = false;
bool urlUnderWay = false;

int64_t PageClockMs() { return int64_t(emscripten_get_now()); }

// Returns 0 when a request is still under way and nothing was sent.
EM_JS(int, PageRequest, (const char* pathAndQuery, int stepMs, int answerMs), {
    if (Module["kelpRequest"]) return 0;
    var url = (Module["scoreOrigin"] || "") + "/" + UTF8ToString(pathAndQuery);
    var abort = new AbortController();
    var request = {abort: abort};
    Module["kelpRequest"] = request;
    var start = performance.now(), last = start;
    var timer = 0;
    function finish(outcome, status) {
        clearInterval(timer);
        if (Module["kelpRequest"] !== request) return;
        Module["kelpRequest"] = null;
        _kelp_web_end(outcome, status);
    }
    timer = setInterval(function () {
        var now = performance.now();
        var outcome = now - start > answerMs ? 3 : (now - last > stepMs ? 2 : -1);
        if (outcome < 0) return;
        abort.abort();
        finish(outcome, 0);
    }, 100);
    _kelp_web_begin();
    // "manual": a redirect is seen as one, not followed.
    fetch(url, {redirect: "manual", signal: abort.signal, cache: "no-store"}).then(function (response) {
        last = performance.now();
        if (response.type === "opaqueredirect" || (response.status >= 300 && response.status < 400 && response.status !== 304)) {
            finish(4, response.status);
            return;
        }
        if (!response.body) {
            finish(0, response.status);
            return;
        }
        var reader = response.body.getReader();
        function next() {
            reader.read().then(function (part) {
                if (Module["kelpRequest"] !== request) return;
                last = performance.now();
                if (part.done) {
                    finish(0, response.status);
                    return;
                }
                var n = part.value.length, p = _malloc(n);
                HEAPU8.set(part.value, p);
                var more = _kelp_web_part(p, n);
                _free(p);
                if (more) {
                    next();
                } else {
                    // The block is whole (or too long): the rest is not read.
                    finish(0, response.status);
                    abort.abort();
                }
            }, function () { finish(5, response.status); });
        }
        next();
    }, function () { finish(1, 0); });
    return 1;
});

// Ends the request under way unanswered; its end is not reported.
EM_JS(void, PageAbort, (), {
    var request = Module["kelpRequest"];
    if (!request) return;
    Module["kelpRequest"] = null;
    request.abort.abort();
});

EM_JS(int, PageOpen, (const char* url), {
    var w = window.open(UTF8ToString(url), "_blank");
    if (!w) return 0;
    w.opener = null;
    return 1;
});

// An exchange has ended: an answer clears the wait, a failure lengthens it.
void Exchanged(bool answered, int64_t now) {
    if (answered) {
        backOffMs = 0;
        nextRequestAt = 0;
        return;
    }
    backOffMs = backOffMs ? std::min(backOffMs * 2, kLongestBackOffMs) : kFirstBackOffMs;
    nextRequestAt = now + backOffMs;
}

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_begin() {
    pending.reset(new WebAnswer(false));
    pendingResult = WebAnswer::kMore;
}

// A part of the body: 1 while more is wanted.
extern "C" EMSCRIPTEN_KEEPALIVE int kelp_web_part(const char* bytes, int n) {
    if (pending && pendingResult == WebAnswer::kMore && n > 0) pendingResult = pending->Take(bytes, size_t(n));
    return pendingResult == WebAnswer::kMore;
}

extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_end(int outcome, int status) {
    const char* host = pendingHost.c_str();
    const int64_t now = PageClockMs();
    std::string& into = pendingForURL ? ASys.urlAnswer : ASys.webResult;
    if (pendingForURL) urlUnderWay = false;
    pendingForURL = false;
    into.clear();
    if (!pending) return;
    pending->status = status;
    int result = WebAnswer::kMore;
    switch (outcome) {
    case kNoConnection:
        ASys.WebFailed(now, "Could not connect", true);
        break;
    case kStepTimeout:
        ASys.WebFailed(now, KELPSys::fstrSys("Web: no answer from %s within 3 seconds", host));
        break;
    case kAnswerTimeout:
        ASys.WebFailed(now, KELPSys::fstrSys("Web: answer from %s took over %i seconds; stopped", host,
                                             kAnswerWaitMs / 1000));
        break;
    case kRedirected:
        ASys.EndWebExchange(pendingHost, WebAnswer::kRedirect, *pending, now, into);
        break;
    default:
        result = pendingResult != WebAnswer::kMore ? pendingResult : pending->End(outcome == kEnded);
        ASys.EndWebExchange(pendingHost, result, *pending, now, into);
        break;
    }
    // A server asking for fewer requests (429) is a failure too: the wait grows.
    Exchanged(result == WebAnswer::kDone && status != 429, now);
    pending.reset();
}

void KELPSys::URLData(const std::string& host, const std::string& pathAndQuery) {
    if (PageClockMs() < nextRequestAt) return;
    if (PageRequest(pathAndQuery.c_str(), kStepWaitMs, kAnswerWaitMs)) pendingHost = host;
}

// RequestURL: the same request; the page has one under way at a time,
// GetURL's or this one's.
int KELPSys::StartURLData(const std::string& host, const std::string& pathAndQuery) {
    if (!PageRequest(pathAndQuery.c_str(), kStepWaitMs, kAnswerWaitMs)) return 0;
    pendingHost = host;
    pendingForURL = true;
    urlUnderWay = true;
    urlAnswer.clear();
    return 1;
}

int KELPSys::URLUnderWay() { return urlUnderWay ? 1 : 0; }

void KELPSys::EndURLData() {
    if (!urlUnderWay) return;
    PageAbort();
    pending.reset();
    pendingForURL = false;
    urlUnderWay = false;
    Debuglog(fstrSys("Web: request to %.200s stopped, unanswered, as the game ends", pendingHost.c_str()));
}

void KELPSys::OpenBrowser_Sys(const char* url) {
    if (!PageOpen(url ? url : "")) Debuglog("OpenBrowser: the browser blocked the new window");
}

}  // namespace kelp
