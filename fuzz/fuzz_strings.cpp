// String utilities on arbitrary bytes: nothing may read or write outside its
// buffers, run-length packing and the text scramble must round-trip, and the
// query escaping must leave nothing a URL would misread.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game/MyGame.h"
#include "core/CoreState.h"

using namespace kelp;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    KELPCore& k = ThisGame;
    char delim = (char)data[0];
    int n = (int8_t)data[1];
    unsigned width = data[2] * 5u;
    std::string s((const char*)data + 3, size - 3);

    k.Split(s, delim, n);
    k.SplitCount(s, delim);
    k.Trim(s);
    k.Strip(s);
    k.EscapeValue(s);
    k.Mid(s, n, n * 3);
    k.Left(s, n);
    k.Right(s, n * 7);
    k.LeftPad(s, width, delim);
    k.RightPad(s, width, delim);
    k.iniLeft(s);
    k.iniRight(s);
    k.SixDigitString(s);
    k.Checksum(s, n);
    k.JuNKrunch(s);

    std::string text = s.substr(0, s.find('\0'));
    if (!text.empty() && k.JuNKrunch(k.JNKrunch(text)) != text) abort();

    // Escaping stops at the first NUL and leaves printable ASCII with none
    // of the characters that have a code; a '%' only starts the escape of a
    // control byte or DEL.
    std::string escaped = k.EscapeValue(s);
    if (escaped != k.EscapeValue(text)) abort();
    for (size_t i = 0; i < escaped.size(); i++) {
        unsigned char c = (unsigned char)escaped[i];
        if (c == '%') {
            const char* hex = "0123456789ABCDEF";
            if (i + 2 >= escaped.size()) abort();
            const char* hi = strchr(hex, escaped[i + 1]);
            const char* lo = strchr(hex, escaped[i + 2]);
            if (!escaped[i + 1] || !escaped[i + 2] || !hi || !lo) abort();
            unsigned v = unsigned(hi - hex) * 16 + unsigned(lo - hex);
            if (v >= 32 && v != 127) abort();
            i += 2;
            continue;
        }
        if (c < 32 || c > 126 || strchr("&\\'`\"/>#^{}<|?+$, ", c)) abort();
    }

    // A key from the input; the scramble keeps to the 92-character range,
    // treats anything outside it as a space, and its inverse undoes it.
    // The table starts from zeros each time, since an empty keyword keeps it.
    memset(StateOf(k).scramble.scrambleTable, 0, sizeof StateOf(k).scramble.scrambleTable);
    k.gameNumber = 1 + data[2] * 7;
    k.SetKeyword(s.substr(0, (unsigned char)delim % 24));
    std::string spaced = s;
    for (char& c : spaced)
        if (c < 32 || c > 123) c = ' ';
    std::string scrambled = k.ScrambleTxt(s);
    if (scrambled.size() != s.size() || k.ScrambleTxt(spaced) != scrambled) abort();
    for (char c : scrambled)
        if (c < 32 || c > 123) abort();
    if (k.UnscrambleTxt(scrambled) != spaced) abort();
    return 0;
}
