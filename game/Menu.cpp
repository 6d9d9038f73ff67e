#include "MyGame.h"

// TODO: not built yet.
void MyGame::DoMenu() {}
void MyGame::Menu_Start() {}
void MyGame::Menu_Default(std::string items, std::string descriptions) {}
void MyGame::Menu_Background() {}
void MyGame::AddPlatBG() {}
void MyGame::LoadMenu() {}
