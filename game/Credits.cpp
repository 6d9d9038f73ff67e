#include "MyGame.h"

// TODO: not built yet.
void MyGame::AddCredits(std::string line) {}
void MyGame::AddDefaultCredits() {}
void MyGame::Credits() {}
