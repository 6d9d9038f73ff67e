#include "KELPCore.h"

int32_t UpdateCountLive = 0, RenderCountLive = 0;
clock_t GameStartTime = 0;

// TODO: not built yet.
void KELPCore::Begin(int gameNumber, string title) {}
void KELPCore::Terminate() {}
void KELPCore::SetTitle(string title) {}
string KELPCore::GetTitle() { return string(); }
string KELPCore::MyName() { return string(); }
clock_t KELPCore::StartTick() { return 0; }
int KELPCore::Mills() { return 0; }
void KELPCore::Rest(int ms) {}
void KELPCore::RenderGame(float& w, float& h) {}
void KELPCore::BufferGame() {}
int KELPCore::SetDataRoot(const char* programPath) { return 0; }
