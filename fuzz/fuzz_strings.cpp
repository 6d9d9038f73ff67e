// String utilities on arbitrary bytes: nothing may read or write outside its
// buffers, and run-length packing must round-trip.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "game/MyGame.h"

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
    return 0;
}
