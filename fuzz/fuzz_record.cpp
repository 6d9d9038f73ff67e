// The score server's reading of a submission on arbitrary text: the request
// target, the escaped value and the record, each on the whole input, and the
// server's chain (query, unescape, unscramble, record) on the input taken as
// a request target.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/Records.h"

namespace {

const int kGame = 550;

namespace records = kelp::records;

// The key the game and the server share.
records::Scrambler& Key() {
    static records::Scrambler key;
    static bool made = false;
    if (!made) {
        made = true;
        key.SetKeyword("Sample keyword text", kGame);
    }
    return key;
}

std::string Serialise(const records::ScoreRecord& r) {
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%04d{%04d{%04d{", r.game, r.version, r.score);
    return r.userId + "{" + r.name + "{" + numbers + r.extra + "{KELP{";
}

bool Same(const records::ScoreRecord& a, const records::ScoreRecord& b) {
    return a.userId == b.userId && a.name == b.name && a.game == b.game && a.version == b.version &&
           a.score == b.score && a.extra == b.extra;
}

// An accepted record, written out again, reads back to the same fields.
void CheckRecord(const std::string& plain) {
    records::ScoreRecord rec, again;
    std::string why;
    if (!records::ParseRecord(plain, kGame, &rec, &why)) {
        if (why.empty()) abort();
        return;
    }
    if (!records::ParseRecord(Serialise(rec), kGame, &again, &why) || !Same(rec, again)) abort();
}

// Whatever the server unescapes, the game's escaping writes the same way.
void CheckUnescape(const std::string& raw) {
    std::string out, why;
    if (!records::UnescapeValue(raw, &out, &why)) return;
    if (records::EscapeValue(out) != raw) abort();
}

// A record the game sends arrives as it left. The escaping leaves '*' and
// '!' as they are, so it is ambiguous where the scrambled text holds "*!X!"
// followed by a '*' or by a character whose code starts with one: such texts
// are left out.
void CheckGameToServer(const std::string& plain) {
    for (unsigned char c : plain)
        if (c < 32 || c > 123) return;
    const std::string scrambled = Key().ScrambleTxt(plain);
    const std::string sent = records::EscapeValue(scrambled);
    if (sent.size() > records::kMaxEscapedLength) return;
    for (size_t i = 0; i + 4 < scrambled.size(); i++)
        if (scrambled[i] == '*' && scrambled[i + 1] == '!' && scrambled[i + 3] == '!') return;
    std::string got, why;
    if (!records::UnescapeValue(sent, &got, &why) || got != scrambled) abort();
    if (Key().UnscrambleTxt(got) != plain) abort();
}

void ServerChain(const std::string& target) {
    std::string game, raw, scrambled, why;
    if (!records::ParseQuery(target, &game, &raw, &why)) return;
    if (game.empty() || raw.empty()) abort();
    if (!records::UnescapeValue(raw, &scrambled, &why)) return;
    CheckRecord(Key().UnscrambleTxt(scrambled));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text((const char*)data, size);
    ServerChain(text);
    CheckUnescape(text);
    CheckRecord(text);
    CheckGameToServer(text);
    return 0;
}
