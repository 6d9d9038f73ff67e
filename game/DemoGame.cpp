#include "MyGame.h"

// TODO: not built yet.
void MyGame::LoadGame() {}
void MyGame::DoGame() {}
void MyGame::SubmitTestScore() {}
