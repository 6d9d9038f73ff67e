#include "MyGame.h"

// TODO: not built yet.
void MyGame::DefaultScoreDisplay(int showLives) {}
void MyGame::HandleDefaultScoreboards() {}
void MyGame::DisplayScoreboard() {}
