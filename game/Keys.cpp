#include "MyGame.h"

// TODO: not built yet.
void MyGame::KeyDefaults() {}
