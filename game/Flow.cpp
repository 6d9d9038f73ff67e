#include "MyGame.h"

// TODO: not built yet.
void MyGame::LoopTarget() {}
void MyGame::EndBanner() {}
void MyGame::EndGame(int reason) {}
void MyGame::FlushGame() {}
void MyGame::LockKeys() {}
