// The score server's reading of a client's address from a trusted proxy's
// X-Forwarded-For header, on arbitrary text, and the limit on records it
// keeps per address: the first line is the header, each byte after it one
// record (its value) from the address the header names, a millisecond apart.
// Seeds: fuzz/make_seeds.cpp.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    const size_t eol = input.find('\n');
    // Header values arrive as C strings: up to a NUL.
    const std::string header = input.substr(0, eol).c_str();
    std::string key;
    if (scores::ForwardedAddress(header.c_str(), &key)) {
        // A key is an address as the server prints it, IPv6 cut to its /64.
        if (key.empty() || key.size() > 48) abort();
        std::string again;
        const std::string bare = key.size() > 3 && key.compare(key.size() - 3, 3, "/64") == 0
                                     ? key.substr(0, key.size() - 3)
                                     : key;
        if (!scores::ForwardedAddress(bare.c_str(), &again) || again != key) abort();
    } else {
        key = "none";
    }
    scores::RecordLimits limits(10, 20);
    int64_t now = 0;
    for (size_t i = eol == std::string::npos ? size : eol + 1; i < size; i++, now++) {
        int retry = 0;
        if (!limits.Take(key, uint64_t(data[i]) + 1, now, &retry) && retry < 1) abort();
    }
    // Two seconds refill any bucket: nothing is kept then.
    limits.Forget(now + 2000);
    if (limits.Addresses() != 0) abort();
    return 0;
}
