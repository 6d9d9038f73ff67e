#include "MyGame.h"

// TODO: not built yet.
void MyGame::Options() {}
void MyGame::OptionsList() {}
void MyGame::AddOptionLabel(std::string label) {}
int MyGame::AddLinearOption(int entry, int icon, std::string label, int steps) { return 0; }
int MyGame::AddToggleOption(int entry, int icon, std::string label, std::string textOff, std::string textOn) { return 0; }
