#include "KELPCore.h"

int32_t TempstrUse = 0;

// TODO: not built yet.
const char* KELPCore::fstr(const char* format, ...) { return ""; }
void KELPCore::tstr(const char* format, ...) {}
int KELPCore::Print(const char* text) { return 0; }
int KELPCore::Debuglog(const char* text) { return 0; }
int KELPCore::DebugLog(const char* text) { return 0; }
int KELPCore::Debug(const char* text) { return 0; }
string KELPCore::Hex(int v) { return string(); }
string KELPCore::Bin(int v) { return string(); }
int KELPCore::HexToInt(string s) { return 0; }
int KELPCore::BinToInt(string s) { return 0; }
int KELPCore::StrToInt(string s) { return 0; }
int KELPCore::ToInt(string s) { return 0; }
string KELPCore::iniLeft(string s) { return string(); }
string KELPCore::iniRight(string s) { return string(); }
string KELPCore::Trim(string s) { return string(); }
string KELPCore::Mid(string s, int start, int count) { return string(); }
string KELPCore::Left(string s, int count) { return string(); }
string KELPCore::Right(string s, int count) { return string(); }
string KELPCore::LeftPad(string s, unsigned width, char fill) { return string(); }
string KELPCore::RightPad(string s, unsigned width, char fill) { return string(); }
string KELPCore::Strip(string s) { return string(); }
int KELPCore::SixDigitString(string s) { return 0; }
string KELPCore::SixDigitString(long a) { return string(); }
string KELPCore::SixDigitString(long a, long b) { return string(); }
string KELPCore::SixDigitString(long a, long b, long c) { return string(); }
string KELPCore::JNKrunch(string s) { return string(); }
string KELPCore::JuNKrunch(string s) { return string(); }
string KELPCore::Split(string s, char delimiter, int n) { return string(); }
int KELPCore::SplitCount(string s, char delimiter) { return 0; }
unsigned KELPCore::Checksum(string s, int key) { return 0; }
unsigned KELPCore::Checksum(string s) { return 0; }
const char* KELPCore::nth(int n) { return ""; }
