// Web access in a browser: GetURL's exchange through the page's own HTTP
// request, and OpenBrowser through window.open.
//
// A page's request does not block: GetURL starts one (unless one is still
// under way) and returns the last answer that has arrived. The request goes
// to the page's own server (the origin it was loaded from, whatever host the
// game names), or to the origin the page sets in Module.scoreOrigin, which
// must then allow the page's origin. The answer is scanned in chunks the
// size of the desktop's receive buffer, between the same markers, and the
// same bounds hold: three seconds for each step (the first answer, each
// further part), ten for the whole answer.
#include <emscripten.h>

#include <cstdio>
#include <string>

#include "../KELPSys.h"

namespace {

const int kStepWaitMs = 3000;
const int kAnswerWaitMs = 10000;

// Why an exchange ended (the page passes these to kelp_web_answer).
enum { kAnswered = 0, kNoConnection = 1, kStepTimeout = 2, kAnswerTimeout = 3 };

std::string pendingHost;

// Returns 0 when a request is still under way and nothing was sent.
EM_JS(int, PageRequest, (const char* pathAndQuery, int stepMs, int answerMs), {
    if (Module["kelpRequest"]) return 0;
    var url = (Module["scoreOrigin"] || "") + "/" + UTF8ToString(pathAndQuery);
    var xhr = new XMLHttpRequest();
    Module["kelpRequest"] = xhr;
    var start = performance.now(), last = start;
    var timer = 0;
    function finish(outcome, bytes) {
        if (Module["kelpRequest"] !== xhr) return;
        Module["kelpRequest"] = null;
        clearInterval(timer);
        var n = bytes ? bytes.length : 0;
        var p = _malloc(n + 1);
        if (n) HEAPU8.set(bytes, p);
        _kelp_web_answer(outcome, p, n);
        _free(p);
    }
    xhr.open("GET", url);
    xhr.responseType = "arraybuffer";
    xhr.onreadystatechange = function () { last = performance.now(); };
    xhr.onprogress = function () { last = performance.now(); };
    xhr.onload = function () { finish(0, new Uint8Array(xhr.response || new ArrayBuffer(0))); };
    xhr.onerror = function () { finish(1, null); };
    timer = setInterval(function () {
        var now = performance.now();
        var outcome = now - start > answerMs ? 3 : (now - last > stepMs ? 2 : -1);
        if (outcome < 0) return;
        xhr.abort();
        finish(outcome, null);
    }, 100);
    xhr.send();
    return 1;
});

EM_JS(int, PageOpen, (const char* url), {
    var w = window.open(UTF8ToString(url), "_blank");
    if (!w) return 0;
    w.opener = null;
    return 1;
});

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void kelp_web_answer(int outcome, const char* bytes, int n) {
    const char* host = pendingHost.c_str();
    if (outcome == kNoConnection) {
        printf("Could not connect");
        fflush(stdout);
    } else if (outcome == kStepTimeout) {
        KELPSys::Debuglog(KELPSys::fstrSys("Web: no answer from %s within 3 seconds", host));
    } else if (outcome == kAnswerTimeout) {
        KELPSys::Debuglog(
            KELPSys::fstrSys("Web: answer from %s took over %i seconds; stopped", host, kAnswerWaitMs / 1000));
    }
    ASys.webResult.clear();
    website_HTML.clear();
    for (int at = 0; at < n; at += (int)sizeof webBuffer) {
        int part = n - at < (int)sizeof webBuffer ? n - at : (int)sizeof webBuffer;
        if (!KELPSys::ScanWebChunk(ASys.webResult, bytes + at, part)) {
            KELPSys::Debuglog(
                KELPSys::fstrSys("Web: answer from %s over %i bytes; stopped", host, int(KELPSys::kWebAnswerMax)));
            break;
        }
    }
}

void KELPSys::URLData(const std::string& host, const std::string& pathAndQuery) {
    if (PageRequest(pathAndQuery.c_str(), kStepWaitMs, kAnswerWaitMs)) pendingHost = host;
}

void KELPSys::OpenBrowser_Sys(const char* url) {
    if (!PageOpen(url ? url : "")) Debuglog("OpenBrowser: the browser blocked the new window");
}
