// Entry point of the demo: the program path is the only input.
#include "MyGame.h"

int main(int argc, char** argv) {
    ThisGame.Launch(argc > 0 ? argv[0] : ".");
    // A run that could not open any window must not report success.
    return ASys.windowFailed ? 1 : 0;
}
