// Who a client is, for the limits the server keeps per client: the address
// it is counted under (its own, or the one a trusted proxy names for it),
// and how many new records each address may store.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace scores {

// The address a client is counted under: an IPv4 address, or an IPv6 /64
// (one subscriber's network), with IPv4 mapped into IPv6 taken as IPv4.
// "" for no address.
std::string AddressKey(const sockaddr* a);

// The numeric text of an address (or of a name given in its place), exactly:
// "127.0.0.1", "::1". False when the text is no address.
bool ExactAddress(const std::string& text, std::string* out);
// The exact numeric text of a socket's address.
std::string ExactAddress(const sockaddr* a);

// The client a proxy names in X-Forwarded-For: the last entry, the one the
// proxy itself added (those before it come from the client, who may write
// anything there). Its key as AddressKey gives it; false when the last entry
// is no IPv4 or IPv6 address.
bool ForwardedAddress(const char* header, std::string* key);

// Records an address may store: `perSecond` on average, `burst` at once
// (a bucket of `burst` tokens, refilled at `perSecond`). The very same
// record sent again (the game repeats its record while the button is held)
// costs nothing: it adds no row. Memory holds only the addresses whose
// bucket is not full.
class RecordLimits {
public:
    RecordLimits(double perSecond, int burst) : perMs_(perSecond / 1000), burst_(burst) {}

    // Whether the address may send this record (a hash of its fields) now;
    // if not, the whole seconds until it may.
    bool Take(const std::string& address, uint64_t record, int64_t nowMs, int* retryAfterSeconds);
    // Forgets the addresses whose bucket is full again.
    void Forget(int64_t nowMs);
    size_t Addresses() const { return entries_.size(); }

private:
    static const int kRecent = 4;
    struct Entry {
        double tokens = 0;
        int64_t at = 0;
        uint64_t recent[kRecent] = {};
        int next = 0;
    };
    double Refilled(const Entry& e, int64_t nowMs) const;

    double perMs_;
    double burst_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace scores
