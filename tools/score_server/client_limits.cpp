#include "client_limits.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cmath>
#include <cstring>

namespace scores {

std::string AddressKey(const sockaddr* a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (!a) return text;
    if (a->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    } else if (a->sa_family == AF_INET6) {
        in6_addr v6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        } else {
            memset(&v6.s6_addr[8], 0, 8);
            inet_ntop(AF_INET6, &v6, text, sizeof text);
            return std::string(text) + "/64";
        }
    }
    return text;
}

std::string ExactAddress(const sockaddr* a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (!a) return text;
    if (a->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    } else if (a->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6))
            inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return text;
}

namespace {

// A numeric IPv4 or IPv6 address as a socket address.
bool ParseAddress(const std::string& text, sockaddr_storage* out) {
    memset(out, 0, sizeof *out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        return true;
    }
    return false;
}

}  // namespace

bool ExactAddress(const std::string& text, std::string* out) {
    sockaddr_storage a;
    if (!ParseAddress(text, &a)) return false;
    *out = ExactAddress(reinterpret_cast<const sockaddr*>(&a));
    return true;
}

bool ForwardedAddress(const char* header, std::string* key) {
    if (!header) return false;
    const char* last = strrchr(header, ',');
    std::string entry = last ? last + 1 : header;
    size_t from = entry.find_first_not_of(" \t"), to = entry.find_last_not_of(" \t");
    if (from == std::string::npos) return false;
    entry = entry.substr(from, to - from + 1);
    // "[2001:db8::1]", as some proxies write an IPv6 address.
    if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']') entry = entry.substr(1, entry.size() - 2);
    if (entry.size() >= INET6_ADDRSTRLEN) return false;
    sockaddr_storage a;
    if (!ParseAddress(entry, &a)) return false;
    *key = AddressKey(reinterpret_cast<const sockaddr*>(&a));
    return !key->empty();
}

double RecordLimits::Refilled(const Entry& e, int64_t nowMs) const {
    const double t = e.tokens + double(nowMs > e.at ? nowMs - e.at : 0) * perMs_;
    return t < burst_ ? t : burst_;
}

bool RecordLimits::Take(const std::string& address, uint64_t record, int64_t nowMs, int* retryAfterSeconds) {
    auto found = entries_.find(address);
    if (found == entries_.end()) {
        found = entries_.emplace(address, Entry()).first;
        found->second.tokens = burst_;
        found->second.at = nowMs;
    }
    Entry& e = found->second;
    for (uint64_t r : e.recent)
        if (r == record && record != 0) return true;
    e.tokens = Refilled(e, nowMs);
    e.at = nowMs;
    if (e.tokens < 1) {
        *retryAfterSeconds = perMs_ > 0 ? int(std::ceil((1 - e.tokens) / perMs_ / 1000)) : 1;
        if (*retryAfterSeconds < 1) *retryAfterSeconds = 1;
        return false;
    }
    e.tokens -= 1;
    e.recent[e.next] = record;
    e.next = (e.next + 1) % kRecent;
    return true;
}

void RecordLimits::Forget(int64_t nowMs) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (Refilled(it->second, nowMs) >= burst_)
            it = entries_.erase(it);
        else
            ++it;
    }
}

}  // namespace scores
