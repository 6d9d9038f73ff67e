// The demo's default key bindings: the framework's standard keyboard and pad
// layouts, in that order (the order within an action is the order the
// redefine screen lists them in).
#include "MyGame.h"

void MyGame::KeyDefaults() {
    BindKeys();
    BindPads();
}
