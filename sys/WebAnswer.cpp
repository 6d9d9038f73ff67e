// The web answer's payload, cut out from between two text markers: the scan
// that every platform's exchange runs on what it receives (sys/Web.cpp on
// the desktop, sys/web/Web.cpp in a browser).
#include <cstring>

#include "KELPSys.h"

char webBuffer[10000];
std::string website_HTML;

namespace {

const char kStartMarker[] = "[-\r\nData-]";
const char kEndMarker[] = "[-\r\nEnd-]";
const size_t kEndMarkerLen = sizeof kEndMarker - 1;

bool EndsWith(const std::string& s, const char* tail, size_t n) {
    return s.size() >= n && memcmp(s.data() + s.size() - n, tail, n) == 0;
}

}  // namespace

// Scans one received chunk: bytes that count (printable, CR, LF) are kept in
// website_HTML; once it ends with the start marker, the bytes that follow go
// to result, until the end marker arrives and is cut off again.
bool KELPSys::ScanWebChunk(std::string& result, const char* chunk, int n) {
    website_HTML.clear();
    int state = 0;
    for (int i = 0; i < n; i++) {
        char b = chunk[i];
        bool counts = int8_t(b) > 31 || b == '\r' || b == '\n';
        if (counts) website_HTML += b;
        if (state == 1 && counts) result += b;
        if (state == 0 && counts && EndsWith(website_HTML, kStartMarker, sizeof kStartMarker - 1)) state = 1;
        // Only an end marker after the start one ends the data, so the nine
        // bytes cut off are always the marker itself.
        if (state == 1 && counts && EndsWith(website_HTML, kEndMarker, kEndMarkerLen)) {
            state = 2;
            result.resize(result.size() >= kEndMarkerLen ? result.size() - kEndMarkerLen : 0);
        }
    }
    website_HTML += '\0';
    if (result.size() <= kWebAnswerMax) return true;
    result.resize(kWebAnswerMax);
    return false;
}
