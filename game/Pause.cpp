#include "MyGame.h"

// TODO: not built yet.
void MyGame::Ingame() {}
void MyGame::PauseMenu() {}
void MyGame::LoadingScreen() {}
