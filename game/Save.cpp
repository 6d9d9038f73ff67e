#include "MyGame.h"

// TODO: not built yet.
void MyGame::Save() {}
void MyGame::Load() {}
