#include "Records.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelp::records {

namespace {

const int kRange = 92;  // the scramble works on codes 32 ('space') .. 123 ('{')

// The codes used in a query value ("*!<letter>!*") for characters that mean
// something in a URL or to the server's scripts. N and O are left out.
// Control bytes are percent-escaped instead (EscapeValue).
struct Code { char letter; char c; };
const Code kCodes[] = {
    {'A', '&'}, {'B', '\\'}, {'C', '\''}, {'D', '`'}, {'E', '"'}, {'F', '/'}, {'G', '>'},
    {'H', '#'}, {'I', '^'},  {'J', '{'},  {'K', '}'}, {'L', '<'}, {'M', '|'}, {'P', '%'},
    {'Q', '?'}, {'R', '+'},  {'S', '$'},  {'T', ','}, {'U', ' '},
};

int FoldRange(int64_t v) {
    int r = int(v % kRange);
    return r < 0 ? r + kRange : r;
}

bool MustBeEscaped(char c) {
    for (const Code& k : kCodes)
        if (k.c == c) return true;
    return false;
}

bool AllDigits(const std::string& s, size_t minLen, size_t maxLen) {
    if (s.size() < minLen || s.size() > maxLen) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsInt(const std::string& s) {
    size_t start = (!s.empty() && s[0] == '-') ? 1 : 0;
    return AllDigits(s.substr(start), 1, 9);
}

std::vector<std::string> SplitOn(const std::string& s, char d) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(d, start);
        if (at == std::string::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

// Only called on text already checked to hold 1..9 digits.
int ToInt(const std::string& s) { return int(strtol(s.c_str(), nullptr, 10)); }

bool Fail(std::string* why, const char* reason) {
    if (why) *why = reason;
    return false;
}

}  // namespace

void Scrambler::SetKeyword(const std::string& keyword, int gameNumber) {
    size_t n = strnlen(keyword.c_str(), sizeof scrambleKeyword - 1);
    memcpy(scrambleKeyword, keyword.c_str(), n);
    scrambleKeyword[n] = 0;
    Rescramble(gameNumber);
}

// Offsets are folded into 0..91 so that keyword bytes above 127 (negative
// as signed) cannot push scrambled text below the printable range.
void Scrambler::Rescramble(int gameNumber) {
    size_t k = strnlen(scrambleKeyword, sizeof scrambleKeyword);
    if (k < 1 || gameNumber <= 0) return;
    for (int i = 0; i < 64; i++) {
        int c = int8_t(scrambleKeyword[size_t(i) % k]);
        scrambleTable[i] = int8_t(FoldRange(int64_t(i) + c + gameNumber));
    }
}

// Moves each character by the running sum of the table: forward (+1) to
// scramble, back (-1) to undo it.
std::string Scrambler::Shift(const std::string& text, int direction) const {
    std::string out(text.size(), ' ');
    int r = 0;
    for (size_t i = 0; i < text.size(); i++) {
        int a = int(int8_t(text[i])) - 32;
        if (a < 0 || a > kRange - 1) a = 0;
        r = FoldRange(int64_t(scrambleTable[i % 64]) + r);
        out[i] = char(FoldRange(a + direction * r) + 32);
    }
    return out;
}

std::string Scrambler::ScrambleTxt(const std::string& text) const { return Shift(text, 1); }

std::string Scrambler::UnscrambleTxt(const std::string& text) const { return Shift(text, -1); }

std::string EscapeValue(const std::string& value) {
    std::string out;
    out.reserve(value.size() * 2);
    for (size_t i = 0; i < value.size() && value[i] != 0; i++) {
        char c = value[i];
        const Code* code = nullptr;
        for (const Code& k : kCodes)
            if (k.c == c) code = &k;
        unsigned char u = static_cast<unsigned char>(c);
        if (code) {
            out += "*!";
            out += code->letter;
            out += "!*";
        } else if (u < 32 || u == 127) {
            // Control bytes would break the request apart (CR LF starts a
            // new header line): they travel percent-escaped. A literal '%'
            // always has its own code, so every '%' here starts an escape.
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else if (u < 128) {
            out += c;
        }
        // Bytes 128..255 are dropped.
    }
    return out;
}

bool ParseQuery(const std::string& target, std::string* game, std::string* score, std::string* why) {
    size_t mark = target.find('?');
    if (target.substr(0, mark) != "/Scores.php") return Fail(why, "unknown page");
    bool haveGame = false, haveScore = false;
    const std::string query = mark == std::string::npos ? "" : target.substr(mark + 1);
    for (const std::string& pair : SplitOn(query, '&')) {
        size_t eq = pair.find('=');
        std::string key = pair.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
        if (key == "Game") {
            if (haveGame) return Fail(why, "Game given twice");
            haveGame = true;
            *game = value;
        } else if (key == "Score") {
            if (haveScore) return Fail(why, "Score given twice");
            haveScore = true;
            *score = value;
        }
    }
    if (!haveGame || game->empty()) return Fail(why, "no Game");
    if (!haveScore || score->empty()) return Fail(why, "no Score");
    return true;
}

bool UnescapeValue(const std::string& raw, std::string* out, std::string* why) {
    if (raw.size() > kMaxEscapedLength) return Fail(why, "record too long");
    out->clear();
    for (size_t i = 0; i < raw.size();) {
        if (raw.compare(i, 2, "*!") == 0 && i + 4 < raw.size() && raw[i + 3] == '!' && raw[i + 4] == '*') {
            bool known = false;
            for (const Code& k : kCodes)
                if (k.letter == raw[i + 2]) {
                    *out += k.c;
                    known = true;
                }
            if (known) {
                i += 5;
                continue;
            }
        }
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c < 33 || c > 126) return Fail(why, "bytes outside printable ASCII");
        if (MustBeEscaped(char(c))) return Fail(why, "character that should be escaped");
        *out += char(c);
        i++;
    }
    return true;
}

bool ParseRecord(const std::string& plain, int game, ScoreRecord* out, std::string* why) {
    for (char c : plain)
        if (c < 32 || c > 123) return Fail(why, "not a scrambled record");
    std::vector<std::string> f = SplitOn(plain, '{');
    // 12 fields, each closed by '{', leave an empty 13th.
    if (f.size() != 13 || !f[12].empty()) return Fail(why, "wrong number of fields");
    if (!AllDigits(f[0], 1, 64)) return Fail(why, "bad user ID");
    const std::string& name = f[1];
    if (name.empty() || name.size() > kMaxNameLength || name.find_first_not_of(' ') == std::string::npos)
        return Fail(why, "bad name");
    if (!AllDigits(f[2], 4, 9)) return Fail(why, "bad game number");
    if (ToInt(f[2]) != game) return Fail(why, "game number does not match");
    if (!AllDigits(f[3], 4, 9)) return Fail(why, "bad version");
    if (!AllDigits(f[4], 4, 9)) return Fail(why, "bad score");
    for (int i = 5; i <= 10; i++)
        if (!IsInt(f[size_t(i)])) return Fail(why, "bad extra fields");
    if (f[11] != "KELP") return Fail(why, "no KELP end mark");
    out->userId = f[0];
    out->name = name;
    out->game = game;
    out->version = ToInt(f[3]);
    out->score = ToInt(f[4]);
    out->extra = f[5];
    for (int i = 6; i <= 10; i++) out->extra += "{" + f[size_t(i)];
    return true;
}

}  // namespace kelp::records
