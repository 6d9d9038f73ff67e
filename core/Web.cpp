// The game's side of score records (the scramble and the escaping live in
// the records library the score server links too), the web request and the
// browser launcher.
#include <cstring>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using std::string;
using namespace kelp;

void KELPCore::SetKeyword(string keyword) { StateOf(*this).scramble.SetKeyword(keyword, gameNumber); }

void KELPCore::SetNum(int n) {
    GameStartTime = clock();
    gameNumber = n;
    Rescramble(*this);
}

int KELPCore::GetNum() { return gameNumber; }

void kelp::Rescramble(KELPCore& game) { StateOf(game).scramble.Rescramble(game.gameNumber); }

string KELPCore::ScrambleTxt(string text) { return StateOf(*this).scramble.ScrambleTxt(text); }

string KELPCore::UnscrambleTxt(string text) { return StateOf(*this).scramble.UnscrambleTxt(text); }

string KELPCore::EscapeValue(string value) { return records::EscapeValue(value); }

string KELPCore::GetURL(string host, string path, string value) {
    ASys.URLData(host, path + EscapeValue(value));
    return ASys.webResult;
}

int KELPCore::RequestURL(string host, string path, string value) {
    return ASys.StartURLData(host, path + EscapeValue(value));
}

int KELPCore::URLPending() { return ASys.URLUnderWay(); }

string KELPCore::URLAnswer() { return ASys.URLUnderWay() ? string() : ASys.urlAnswer; }

// Up to the first NUL, as a C string.
void KELPCore::OpenBrowser(string url) { ASys.OpenBrowser_Sys(url.c_str()); }
