// Key material for score records, the text scramble, the query-value
// escaping, and the game's side of the web request and the browser launcher.
//
// The scramble, its inverse and the escaping build their results directly in
// the returned strings (not the temporary ring), so a server may call them
// from several threads on one shared object.
#include <cstring>

#include "KELPCore.h"
#include "../sys/KELPSys.h"

using std::string;

namespace {

const int kRange = 92;  // the scramble works on codes 32 ('space') .. 123 ('{')

// The codes used in a query value for characters that mean something in a
// URL or to the server's scripts. N and O are left out. Control bytes are
// percent-escaped instead (EscapeValue).
struct Escape { char c; const char* code; };
const Escape kEscapes[] = {
    {'&', "*!A!*"}, {'\\', "*!B!*"}, {'\'', "*!C!*"}, {'`', "*!D!*"}, {'"', "*!E!*"},
    {'/', "*!F!*"}, {'>', "*!G!*"},  {'#', "*!H!*"},  {'^', "*!I!*"}, {'{', "*!J!*"},
    {'}', "*!K!*"}, {'<', "*!L!*"},  {'|', "*!M!*"},  {'%', "*!P!*"}, {'?', "*!Q!*"},
    {'+', "*!R!*"}, {'$', "*!S!*"},  {',', "*!T!*"},  {' ', "*!U!*"},
};

int FoldRange(int64_t v) {
    int r = int(v % kRange);
    return r < 0 ? r + kRange : r;
}

}  // namespace

void KELPCore::SetKeyword(string keyword) {
    size_t n = strnlen(keyword.c_str(), sizeof scrambleKeyword - 1);
    memcpy(scrambleKeyword, keyword.c_str(), n);
    scrambleKeyword[n] = 0;
    Rescramble();
}

void KELPCore::SetNum(int n) {
    GameStartTime = clock();
    gameNumber = n;
    Rescramble();
}

int KELPCore::GetNum() { return gameNumber; }

// Offsets are folded into 0..91 so that keyword bytes above 127 (negative
// as signed) cannot push scrambled text below the printable range.
void KELPCore::Rescramble() {
    size_t k = strnlen(scrambleKeyword, sizeof scrambleKeyword);
    if (k < 1 || gameNumber <= 0) return;
    for (int i = 0; i < 64; i++) {
        int c = int8_t(scrambleKeyword[size_t(i) % k]);
        scrambleTable[i] = int8_t(FoldRange(int64_t(i) + c + gameNumber));
    }
}

// Each character moves forward in the 92-character range by a running sum of
// the table; characters outside the range count as spaces.
string KELPCore::ScrambleTxt(string text) {
    string out(text.size(), ' ');
    int r = 0;
    for (size_t i = 0; i < text.size(); i++) {
        int a = int(int8_t(text[i])) - 32;
        if (a < 0 || a > kRange - 1) a = 0;
        r = FoldRange(int64_t(scrambleTable[i % 64]) + r);
        out[i] = char(FoldRange(a + r) + 32);
    }
    return out;
}

// The inverse of ScrambleTxt for text in the 92-character range.
string KELPCore::UnscrambleTxt(string text) {
    string out(text.size(), ' ');
    int r = 0;
    for (size_t i = 0; i < text.size(); i++) {
        int a = int(int8_t(text[i])) - 32;
        if (a < 0 || a > kRange - 1) a = 0;
        r = FoldRange(int64_t(scrambleTable[i % 64]) + r);
        out[i] = char(FoldRange(a - r) + 32);
    }
    return out;
}

string KELPCore::EscapeValue(string value) {
    string out;
    out.reserve(value.size() * 2);
    for (size_t i = 0; i < value.size() && value[i] != 0; i++) {
        char c = value[i];
        const char* code = nullptr;
        for (const Escape& e : kEscapes)
            if (e.c == c) code = e.code;
        unsigned char u = static_cast<unsigned char>(c);
        if (code) {
            out += code;
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

string KELPCore::GetURL(string host, string path, string value) {
    ASys.URLData(host, path + EscapeValue(value));
    return ASys.webResult;
}

// Up to the first NUL, as a C string.
void KELPCore::OpenBrowser(string url) { ASys.OpenBrowser_Sys(url.c_str()); }
