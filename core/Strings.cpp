// Temporary formatted strings, the log wrappers and the small string library.
//
// Formatting goes into a ring of fixed slots inside the game object so that
// callers can hand formatted text straight to other calls without managing
// memory. A slot is reused after 30 further formats. Functions returning a
// string object copy their result out of the ring.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

namespace kelp {
int32_t TempstrUse = 0;
}

namespace {

const int kRingSlots = 30;
const int kSlotBytes = 16384;
const char kNotFound[] = "-=+=-";

// Clamps a byte count to what a ring slot can hold (its terminator aside).
int FitSlot(size_t n) { return n > size_t(kSlotBytes - 1) ? kSlotBytes - 1 : int(n); }

}  // namespace

// ---- The ring ----------------------------------------------------------------

static char* NextSlot(KELPCore* core) {
    TempstrUse = (TempstrUse + 1) % kRingSlots;
    if (TempstrUse < 0) TempstrUse = 0;  // a caller may have scribbled on it
    char* slot = StateOf(*core).Tempstr[TempstrUse];
    // Only the head is cleared: a full clear per format would cost 16 KiB.
    memset(slot, 0, 1023);
    return slot;
}

const char* KELPCore::fstr(const char* format, ...) {
    char* slot = NextSlot(this);
    if (!format) return slot;
    va_list args;
    va_start(args, format);
    vsnprintf(slot, kSlotBytes, format, args);
    va_end(args);
    return slot;
}

void KELPCore::tstr(const char* format, ...) {
    char* slot = NextSlot(this);
    if (!format) return;
    va_list args;
    va_start(args, format);
    vsnprintf(slot, kSlotBytes, format, args);
    va_end(args);
}

// ---- The log -------------------------------------------------------------------

int KELPCore::Print(const char* text) { KELPSys::Debuglog(text); return 1; }
int KELPCore::Debuglog(const char* text) { KELPSys::Debuglog(text); return 1; }
int KELPCore::DebugLog(const char* text) { KELPSys::Debuglog(text); return 1; }
int KELPCore::Debug(const char* text) { KELPSys::Debuglog(text); return 1; }

// ---- Conversions -----------------------------------------------------------------

string KELPCore::Hex(int v) { return fstr("%X", unsigned(v)); }

// Base-2 digits of the 32-bit pattern, so BinToInt reads back the same value.
string KELPCore::Bin(int v) {
    char* slot = NextSlot(this);
    uint32_t u = uint32_t(v);
    char digits[33];
    int n = 0;
    do {
        digits[n++] = char('0' + (u & 1u));
        u >>= 1;
    } while (u != 0);
    for (int i = 0; i < n; i++) slot[i] = digits[n - 1 - i];
    slot[n] = 0;
    return slot;
}

int KELPCore::HexToInt(string s) { return int(strtol(s.c_str(), nullptr, 16)); }
int KELPCore::BinToInt(string s) { return int(strtol(s.c_str(), nullptr, 2)); }
int KELPCore::StrToInt(string s) { return atoi(s.c_str()); }
int KELPCore::ToInt(string s) { return atoi(s.c_str()); }

// ---- Substrings -------------------------------------------------------------------

string KELPCore::iniLeft(string s) {
    size_t eq = s.find('=');
    if (eq == string::npos) return fstr("%s", kNotFound);
    return fstr("%.*s", FitSlot(eq), s.c_str());
}

string KELPCore::iniRight(string s) {
    size_t eq = s.find('=');
    if (eq == string::npos) return fstr("%s", kNotFound);
    return fstr("%.*s", FitSlot(s.size() - eq - 1), s.c_str() + eq + 1);
}

string KELPCore::Trim(string s) {
    const int64_t len = int64_t(s.size());
    int64_t first = -1, last = -1;
    for (int64_t i = 0; i < len; i++) {
        // Signed on purpose: bytes 128..255 count as blank.
        if (int8_t(s[size_t(i)]) > 32) {
            if (first < 0) first = i;
            last = i;
        }
    }
    if (first < 0) return fstr("%s", "");
    return fstr("%.*s", FitSlot(size_t(last - first + 1)), s.c_str() + first);
}

// The part of s in [start, start + count), clamped to the string.
string KELPCore::Mid(string s, int start, int count) {
    int64_t len = int64_t(s.size());
    int64_t from = start, to = int64_t(start) + int64_t(count);
    if (from < 0) from = 0;
    if (to > len) to = len;
    if (count <= 0 || from >= to) return fstr("%s", "");
    return fstr("%.*s", FitSlot(size_t(to - from)), s.c_str() + from);
}

string KELPCore::Left(string s, int count) {
    if (count <= 0) return fstr("%s", "");
    size_t n = size_t(count) < s.size() ? size_t(count) : s.size();
    return fstr("%.*s", FitSlot(n), s.c_str());
}

string KELPCore::Right(string s, int count) {
    if (count <= 0) return fstr("%s", "");
    size_t n = size_t(count) < s.size() ? size_t(count) : s.size();
    return fstr("%.*s", FitSlot(n), s.c_str() + (s.size() - n));
}

// ---- Fill to width -------------------------------------------------------------------

// Builds a run of `width` fill bytes in the next slot; the width is first
// limited so that text and run together stay within 1023 bytes.
static const char* PadRun(KELPCore* core, const string& s, unsigned& width, char fill) {
    unsigned room = 1023u - unsigned(s.size());
    if (room < width) width = room;
    if (width > unsigned(kSlotBytes - 1)) width = kSlotBytes - 1;  // text longer than 1023
    char* run = NextSlot(core);
    memset(run, fill, width);
    run[width] = 0;
    return run;
}

string KELPCore::LeftPad(string s, unsigned width, char fill) {
    const char* run = PadRun(this, s, width, fill);
    const char* both = fstr("%s%s", s.c_str(), run);
    size_t have = strlen(both);
    size_t n = width < have ? width : have;
    return fstr("%.*s", FitSlot(n), both);
}

string KELPCore::RightPad(string s, unsigned width, char fill) {
    const char* run = PadRun(this, s, width, fill);
    const char* both = fstr("%s%s", run, s.c_str());
    size_t have = strlen(both);
    size_t n = width < have ? width : have;
    return fstr("%.*s", FitSlot(n), both + (have - n));
}

string KELPCore::Strip(string s) {
    char* slot = NextSlot(this);
    int n = 0;
    for (size_t i = 0; i < s.size() && s[i] != 0 && n < kSlotBytes - 1; i++)
        if (s[i] != ' ') slot[n++] = s[i];
    slot[n] = 0;
    return slot;
}

// ---- Letter codes ------------------------------------------------------------------------

int KELPCore::SixDigitString(string s) {
    int32_t packed = 0;
    for (size_t i = 0; i < 6 && i < s.size(); i++) {
        int v = int(int8_t(s[i])) - 64;
        if (v > 26) v -= 32;  // lower case reads as upper case
        if (v > 26 || v <= 0) v = 0;
        packed += v << (25 - 5 * int(i));
    }
    return packed;
}

static void UnpackSix(long a, char* out) {
    for (int i = 0; i < 6; i++) {
        int c = int((a >> (25 - 5 * i)) & 31) + 64;
        if (c <= 64 || c > 90) c = ' ';
        out[i] = char(c);
    }
}

string KELPCore::SixDigitString(long a) {
    char* slot = NextSlot(this);
    UnpackSix(a, slot);
    slot[6] = 0;
    return slot;
}

string KELPCore::SixDigitString(long a, long b) {
    char* slot = NextSlot(this);
    UnpackSix(a, slot);
    UnpackSix(b, slot + 6);
    slot[12] = 0;
    return slot;
}

string KELPCore::SixDigitString(long a, long b, long c) {
    char* slot = NextSlot(this);
    UnpackSix(a, slot);
    UnpackSix(b, slot + 6);
    UnpackSix(c, slot + 12);
    slot[18] = 0;
    return slot;
}

// ---- Run-length packing ---------------------------------------------------------------------

// Counts 1..26 are A..Z, 27..52 are a..z.
static char CountLetter(int run) { return char(run <= 26 ? 64 + run : 70 + run); }

// Output pairs are (count letter, byte), with a space after every tenth
// pair. The result is built in the returned string, not the ring, so long
// texts pack whole. An empty text packs to an empty text.
string KELPCore::JNKrunch(string s) {
    string out;
    if (s.empty()) return out;
    out.reserve(s.size() / 2 + 8);
    int run = 1, pairs = 0;
    char prev = s[0];
    auto emit = [&](char letter, char byte) {
        out += letter;
        out += byte;
        if (++pairs == 10) {
            out += ' ';
            pairs = 0;
        }
    };
    for (size_t i = 1; i < s.size(); i++) {
        char cur = s[i];
        char letter = CountLetter(run);
        if (cur == prev) {
            if (++run > 52) {
                emit(letter, prev);
                run = 1;
            }
        } else {
            emit(letter, prev);
            run = 1;
            prev = cur;
        }
    }
    out += CountLetter(run);
    out += prev;
    return out;
}

// A count letter with no byte after it (a cut-off text) adds nothing.
string KELPCore::JuNKrunch(string s) {
    string out;
    size_t i = 0;
    while (i < s.size()) {
        int code = int(uint8_t(s[i]));
        if (code >= 65 && code <= 122) {
            if (i + 1 >= s.size()) break;
            int n = code <= 90 ? code - 64 : code - 70;
            out.append(size_t(n), s[i + 1]);
            i += 2;
        } else {
            i++;
        }
    }
    return out;
}

// ---- Fields -------------------------------------------------------------------------------------

string KELPCore::Split(string s, char delimiter, int n) {
    const size_t len = s.size();
    size_t start = 0;
    int field = 0;
    for (size_t i = 0; i < len; i++) {
        bool last = (i + 1 == len);
        if (s[i] != delimiter && !last) continue;
        field++;
        // The last byte always belongs to the final field, even a delimiter.
        size_t end = last ? len : i;
        if (field == n) return fstr("%.*s", FitSlot(end - start), s.c_str() + start);
        start = i + 1;
    }
    return fstr("%s", kNotFound);
}

int KELPCore::SplitCount(string s, char delimiter) {
    int count = 1;
    for (char c : s)
        if (c == delimiter) count++;
    return count;
}

// ---- Checksum and ordinals ---------------------------------------------------------------------

unsigned KELPCore::Checksum(string s, int key) {
    uint32_t sum = 0;
    const uint32_t k = uint32_t(key);
    for (size_t idx = 0; idx < s.size(); idx++) {
        uint32_t i = uint32_t(idx);
        uint32_t c = uint32_t(int32_t(int8_t(s[idx])));
        sum = (sum + (i + (i + 73u) / 7u + k * (i + 1u) + 1u) * c) % 3717u;
    }
    return sum;
}

unsigned KELPCore::Checksum(string s) { return Checksum(s, gameNumber); }

const char* KELPCore::nth(int n) {
    int r = n % 10;  // signed: negative numbers take "th"
    if (n == 1 || (n > 20 && r == 1)) return fstr("%dst", n);
    if (n == 2 || (n > 20 && r == 2)) return fstr("%dnd", n);
    if (n == 3 || (n > 20 && r == 3)) return fstr("%drd", n);
    return fstr("%dth", n);
}
