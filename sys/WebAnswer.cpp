// The web answer: the HTTP answer read as it arrives, the data block cut
// out from between its two text markers, and what the log says of each
// exchange. Every platform's exchange runs it on what it receives
// (sys/Web.cpp on the desktop, sys/web/Web.cpp in a browser).
#include <cstdlib>
#include <cstring>

#include "KELPSys.h"

namespace kelp {

char webBuffer[10000];

namespace {

const char kStartMarker[] = "[-\r\nData-]";
const char kEndMarker[] = "[-\r\nEnd-]";
const size_t kStartMarkerLen = sizeof kStartMarker - 1;
const size_t kEndMarkerLen = sizeof kEndMarker - 1;
// A head (or a chunk's size line) longer than this is no answer of ours.
const size_t kMaxHead = 16384;

bool EndsWith(const std::string& s, const char* tail, size_t n) {
    return s.size() >= n && memcmp(s.data() + s.size() - n, tail, n) == 0;
}

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string Trimmed(const std::string& s) {
    size_t from = s.find_first_not_of(" \t"), to = s.find_last_not_of(" \t\r");
    return from == std::string::npos ? "" : s.substr(from, to - from + 1);
}

// Digits only, without overflow; false for anything else.
bool ParseLength(const std::string& text, uint64_t* out) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *out = strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

WebAnswer::Result WebAnswer::Take(const char* bytes, size_t n) {
    if (result_ != kMore) return result_;
    while (n > 0 && result_ == kMore) {
        if (phase_ == kHead) {
            result_ = Head(&bytes, &n);
        } else {
            result_ = Body(bytes, n);
            n = 0;
        }
    }
    return result_;
}

// The head: a status line and header lines up to an empty line. A 1xx
// answer (100 Continue) is passed over for the one that follows it.
WebAnswer::Result WebAnswer::Head(const char** bytes, size_t* n) {
    if (!rawChecked_) {
        // An answer without a status line is all body, to the connection's end.
        size_t want = 5 - head_.size();
        size_t take = *n < want ? *n : want;
        head_.append(*bytes, take);
        *bytes += take;
        *n -= take;
        if (head_.size() < 5) return kMore;
        rawChecked_ = true;
        if (head_.compare(0, 5, "HTTP/") != 0) {
            std::string body;
            body.swap(head_);
            phase_ = kBody;
            return Body(body.data(), body.size());
        }
    }
    while (*n > 0) {
        head_ += **bytes;
        (*bytes)++;
        (*n)--;
        if (EndsWith(head_, "\r\n\r\n", 4) || EndsWith(head_, "\n\n", 2)) {
            Result r = ParseHead();
            if (r != kMore || phase_ != kHead) return r;
        } else if (head_.size() > kMaxHead) {
            return kBroken;
        }
    }
    return kMore;
}

WebAnswer::Result WebAnswer::ParseHead() {
    std::string head;
    head.swap(head_);
    size_t eol = head.find('\n');
    std::string line = Trimmed(head.substr(0, eol));
    // "HTTP/1.1 200 OK"
    if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || line[8] != ' ' ||
        line.find_first_not_of("0123456789", 9) != 12 || (line.size() > 12 && line[12] != ' '))
        return kBroken;
    status = atoi(line.c_str() + 9);
    if (status < 100 || status > 599) return kBroken;
    if (status < 200 && status != 101) return kMore;  // an interim answer: the real one follows

    known_ = chunked_ = false;
    uint64_t length = 0;
    for (size_t at = eol + 1; at < head.size();) {
        size_t end = head.find('\n', at);
        std::string h = head.substr(at, end - at);
        at = end == std::string::npos ? head.size() : end + 1;
        size_t colon = h.find(':');
        if (Trimmed(h).empty()) continue;
        if (colon == std::string::npos) return kBroken;
        std::string name = h.substr(0, colon), value = Trimmed(h.substr(colon + 1));
        if (SameName(name, "Content-Length")) {
            uint64_t v;
            // Two lengths that differ leave the body's end unknown.
            if (!ParseLength(value, &v) || (known_ && v != length)) return kBroken;
            known_ = true;
            length = v;
        } else if (SameName(name, "Transfer-Encoding")) {
            // Only chunks are taken apart here; any other coding is unreadable.
            if (!SameName(value, "chunked")) return kBroken;
            chunked_ = true;
        } else if (SameName(name, "Location")) {
            location = value;
        }
    }
    if (status >= 300 && status < 400 && status != 304) return kRedirect;
    if (chunked_) {
        known_ = false;
        phase_ = kChunkSize;
    } else {
        phase_ = kBody;
        left_ = length;
        if (status == 204 || status == 304 || (known_ && length == 0)) return BodyEnded();
    }
    return kMore;
}

// The body's bytes, as its framing delimits them: a known length, chunks,
// or all to the connection's end.
WebAnswer::Result WebAnswer::Body(const char* bytes, size_t n) {
    while (n > 0) {
        switch (phase_) {
        case kBody: {
            size_t take = known_ && left_ < n ? size_t(left_) : n;
            Result r = Scan(bytes, take);
            if (r != kMore) return r;
            bytes += take;
            n -= take;
            if (known_) {
                left_ -= take;
                if (left_ == 0) return BodyEnded();
            }
            break;
        }
        case kChunkSize:
        case kChunkEnd:
        case kTrailers: {
            char c = *bytes++;
            n--;
            if (c != '\n') {
                head_ += c;
                if (head_.size() > kMaxHead) return kBroken;
                break;
            }
            std::string line = Trimmed(head_);
            head_.clear();
            if (phase_ == kChunkEnd) {
                // The line after a chunk's data is empty.
                if (!line.empty()) return kBroken;
                phase_ = kChunkSize;
            } else if (phase_ == kTrailers) {
                if (line.empty()) return BodyEnded();
            } else {
                // "1a;name=value": the size in hex, extensions passed over.
                std::string size = line.substr(0, line.find(';'));
                while (!size.empty() && (size.back() == ' ' || size.back() == '\t')) size.pop_back();
                if (size.empty() || size.size() > 15 || size.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    return kBroken;
                left_ = strtoull(size.c_str(), nullptr, 16);
                phase_ = left_ == 0 ? kTrailers : kChunkData;
            }
            break;
        }
        case kChunkData: {
            size_t take = left_ < n ? size_t(left_) : n;
            Result r = Scan(bytes, take);
            if (r != kMore) return r;
            bytes += take;
            n -= take;
            left_ -= take;
            if (left_ == 0) phase_ = kChunkEnd;
            break;
        }
        default:
            return result_;
        }
    }
    return kMore;
}

WebAnswer::Result WebAnswer::BodyEnded() {
    phase_ = kFinished;
    return scan_ == 0 ? kNoData : kNoEnd;
}

WebAnswer::Result WebAnswer::End(bool cleanly) {
    if (result_ != kMore) return result_;
    if (phase_ == kHead && !rawChecked_) {
        // Fewer than five bytes and no status line: a body that short.
        rawChecked_ = true;
        std::string body;
        body.swap(head_);
        phase_ = kBody;
        result_ = Body(body.data(), body.size());
        if (result_ != kMore) return result_;
    }
    // Only a body that runs to the connection's end ends with it, and then
    // only when the connection was not broken off.
    bool whole = phase_ == kBody && !known_ && cleanly;
    result_ = whole ? BodyEnded() : kCut;
    return result_;
}

// Bytes that count (printable ASCII, CR, LF) are kept; once they end with
// the start marker, those that follow are the data, until they end with the
// end marker, which is cut off again.
WebAnswer::Result WebAnswer::Scan(const char* bytes, size_t n) {
    for (size_t i = 0; i < n; i++) {
        char b = bytes[i];
        if (!(int8_t(b) > 31 || b == '\r' || b == '\n')) continue;
        kept_ += b;
        if (kept_.size() > 32) kept_.erase(0, kept_.size() - 16);
        if (scan_ == 1) {
            data += b;
            if (EndsWith(kept_, kEndMarker, kEndMarkerLen)) {
                data.resize(data.size() - kEndMarkerLen);
                scan_ = 2;
                return kDone;
            }
            // Past the bound by more than an end marker still to be cut off.
            if (data.size() >= KELPSys::kWebAnswerMax + kEndMarkerLen) return kTooLong;
        } else if (EndsWith(kept_, kStartMarker, kStartMarkerLen)) {
            scan_ = 1;
        }
    }
    return kMore;
}

// ---- What the log says ----------------------------------------------------------

void KELPSys::WebFailed(int64_t now, const std::string& text, bool plain) {
    webFailuresUnsaid++;
    // (A clock that went back says so at once.)
    if (webFailureSaid && now >= webLastFailureLine && now - webLastFailureLine < 1000) return;
    std::string line = text;
    if (webFailuresUnsaid > 1)
        line += fstrSys(" (%d failed requests in %.1f s)", webFailuresUnsaid, (now - webLastFailureLine) / 1000.0);
    if (plain) {
        printf("%s\n", line.c_str());
        fflush(stdout);
    } else {
        Debuglog(line.c_str());
    }
    webFailureSaid = true;
    webLastFailureLine = now;
    webFailuresUnsaid = 0;
}

void KELPSys::EndWebExchange(const std::string& host, int result, const WebAnswer& answer, int64_t now) {
    EndWebExchange(host, result, answer, now, webResult);
}

void KELPSys::EndWebExchange(const std::string& host, int result, const WebAnswer& answer, int64_t now,
                             std::string& into) {
    const char* h = host.c_str();
    into.clear();
    // Too many requests: the server's refusal is no answer to show, and a
    // held button's repeats fold into the failure line.
    if (answer.status == 429) {
        WebFailed(now, fstrSys("Web: %s asks for fewer requests (status 429); not used", h));
        return;
    }
    switch (result) {
    case WebAnswer::kDone:
        into = answer.data;
        // Failures folded away since the last line are not lost.
        if (webFailuresUnsaid > 0) Debuglog(fstrSys("Web: %d failed requests before this answer", webFailuresUnsaid));
        webFailuresUnsaid = 0;
        webFailureSaid = false;
        return;
    case WebAnswer::kNoData:
        if (answer.status)
            WebFailed(now, fstrSys("Web: answer from %s (status %i) has no data", h, answer.status));
        else
            WebFailed(now, fstrSys("Web: answer from %s has no data", h));
        return;
    case WebAnswer::kNoEnd:
        WebFailed(now, fstrSys("Web: answer from %s ends without its end marker; not used", h));
        return;
    case WebAnswer::kCut:
        WebFailed(now, fstrSys("Web: answer from %s was cut off before its end; not used", h));
        return;
    case WebAnswer::kRedirect:
        if (answer.location.empty())
            WebFailed(now, fstrSys("Web: answer from %s is a redirect (status %i); not followed", h, answer.status));
        else
            WebFailed(now, fstrSys("Web: answer from %s is a redirect to %.200s; not followed", h,
                                   answer.location.c_str()));
        return;
    case WebAnswer::kBroken:
        WebFailed(now, fstrSys("Web: answer from %s is not HTTP that can be read; not used", h));
        return;
    case WebAnswer::kTooLong:
        WebFailed(now, fstrSys("Web: answer from %s over %i bytes; stopped", h, int(kWebAnswerMax)));
        return;
    default:
        return;
    }
}

}  // namespace kelp
