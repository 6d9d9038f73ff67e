// The reply scan of the web exchange on arbitrary chunk sequences: the input
// is cut into received chunks at every "\xFF\xFF" (and every 10000 bytes, the
// size of one receive). Each chunk's payload is checked against a plain
// restatement of the scan: filter, find the start marker, stop at the end one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sys/KELPSys.h"

namespace {

const std::string kStart = "[-\r\nData-]";
const std::string kEnd = "[-\r\nEnd-]";
const size_t kReceiveSize = 10000;

bool Counts(unsigned char b) { return (b >= 32 && b < 128) || b == '\r' || b == '\n'; }

std::string Filtered(const char* p, size_t n) {
    std::string f;
    for (size_t i = 0; i < n; i++)
        if (Counts((unsigned char)p[i])) f += p[i];
    return f;
}

// What one chunk adds to the answer. The end marker shares no prefix with
// the tail of the start marker, so the first end marker after the start one
// is the one that closes the data.
std::string Expected(const std::string& filtered) {
    size_t at = filtered.find(kStart);
    if (at == std::string::npos) return "";
    std::string rest = filtered.substr(at + kStart.size());
    size_t end = rest.find(kEnd);
    return end == std::string::npos ? rest : rest.substr(0, end);
}

void ScanOne(std::string& result, const char* p, size_t n) {
    size_t before = result.size();
    KELPSys::ScanWebChunk(result, p, int(n));
    // Earlier chunks' text is never touched.
    if (result.size() < before) abort();
    std::string filtered = Filtered(p, n);
    if (result.compare(before, std::string::npos, Expected(filtered)) != 0) abort();
    if (website_HTML != filtered + '\0') abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* p = (const char*)data;
    std::string result;
    size_t start = 0;
    for (size_t i = 0; i <= size; i++) {
        bool cut = i == size || (i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFF);
        if (!cut && i - start < kReceiveSize) continue;
        ScanOne(result, p + start, i - start);
        start = i == size ? i : (cut ? i + 2 : i);
        if (cut) i++;
    }
    for (unsigned char c : result)
        if (!Counts(c)) abort();
    return 0;
}
