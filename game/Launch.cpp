#include "MyGame.h"

// TODO: not built yet.
void MyGame::Launch(const char* programPath) {}
void MyGame::GameLoop() {}
void MyGame::KeepAlive() {}
void MyGame::Update() {}
void MyGame::Render() {}
void MyGame::Loader() {}
