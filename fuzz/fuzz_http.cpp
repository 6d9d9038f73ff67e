// The web answer's reading (WebAnswer) on arbitrary bytes: status line,
// headers, lengths, chunks and the data block. The input is fed cut into
// received parts at every "\xFF\xFF" (and every 10000 bytes, the size of one
// receive), and again whole: where the network cuts an answer must not
// change what is read of it. An answer without a status line is all body;
// for those the block is checked against a plain restatement of the scan:
// filter, find the start marker, stop at the end one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sys/KELPSys.h"

using namespace kelp;

namespace {

const std::string kStart = "[-\r\nData-]";
const std::string kEnd = "[-\r\nEnd-]";
const size_t kReceiveSize = 10000;

bool Counts(unsigned char b) { return (b >= 32 && b < 128) || b == '\r' || b == '\n'; }

struct Read {
    int result;
    int status;
    std::string data, location;
};

Read Finish(WebAnswer& a, int result) {
    if (result == WebAnswer::kMore) result = a.End(true);
    return {result, a.status, a.data, a.location};
}

Read Whole(const uint8_t* data, size_t size) {
    WebAnswer a;
    return Finish(a, a.Take(reinterpret_cast<const char*>(data), size));
}

Read InParts(const uint8_t* data, size_t size, std::string* joined) {
    WebAnswer a;
    int result = WebAnswer::kMore;
    size_t start = 0;
    for (size_t i = 0; i <= size; i++) {
        bool cut = i == size || (i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFF);
        if (!cut && i - start < kReceiveSize) continue;
        joined->append(reinterpret_cast<const char*>(data) + start, i - start);
        if (result == WebAnswer::kMore) result = a.Take(reinterpret_cast<const char*>(data) + start, i - start);
        start = i == size ? i : (cut ? i + 2 : i);
        if (cut) i++;
    }
    return Finish(a, result);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string joined;
    Read parts = InParts(data, size, &joined);
    Read whole = Whole(reinterpret_cast<const uint8_t*>(joined.data()), joined.size());
    if (parts.result != whole.result || parts.status != whole.status || parts.location != whole.location) abort();
    if (parts.result == WebAnswer::kDone && parts.data != whole.data) abort();
    for (unsigned char c : parts.data)
        if (!Counts(c)) abort();
    if (parts.data.size() > KELPSys::kWebAnswerMax + kEnd.size()) abort();

    if (joined.compare(0, 5, "HTTP/") != 0) {
        std::string filtered;
        for (unsigned char c : joined)
            if (Counts(c)) filtered += char(c);
        size_t at = filtered.find(kStart);
        size_t end = at == std::string::npos ? at : filtered.find(kEnd, at + kStart.size());
        // A block over the bound fails as soon as it is known to be one.
        const size_t max = KELPSys::kWebAnswerMax;
        int expected = WebAnswer::kNoData;
        if (at != std::string::npos && end == std::string::npos)
            expected = filtered.size() - at - kStart.size() >= max + kEnd.size() ? WebAnswer::kTooLong : WebAnswer::kNoEnd;
        else if (at != std::string::npos)
            expected = end - at - kStart.size() > max ? WebAnswer::kTooLong : WebAnswer::kDone;
        if (parts.result != expected) abort();
        if (expected == WebAnswer::kDone && parts.data != filtered.substr(at + kStart.size(), end - at - kStart.size()))
            abort();
    }
    return 0;
}
