#include "KELPCore.h"

// TODO: not built yet.
void KELPCore::SetKeyword(string keyword) {}
void KELPCore::SetNum(int n) {}
int KELPCore::GetNum() { return 0; }
void KELPCore::Rescramble() {}
string KELPCore::ScrambleTxt(string text) { return string(); }
string KELPCore::UnscrambleTxt(string text) { return string(); }
string KELPCore::GetURL(string host, string path, string value) { return string(); }
void KELPCore::OpenBrowser(string url) {}
