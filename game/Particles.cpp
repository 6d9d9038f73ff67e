#include "MyGame.h"

// TODO: not built yet.
void MyGame::ThrowParticle(float x, float y, float hue, int colourRow, int kind, float direction, float speed) {}
void MyGame::Gimme(int points, float x, float y, float hue) {}
void MyGame::Gimme(int points, float x, float y) {}
void MyGame::DoParticles() {}
