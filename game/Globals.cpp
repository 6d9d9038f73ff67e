// The game's global objects, constructed before main in this order:
// ScrollText, ThisGame, then the platform object kelp::ASys (sys/KELPSys.cpp).
#include "MyGame.h"

std::string ScrollText __attribute__((init_priority(1001))) =
    "Hello World! This scrolling message was brought to you by Tam's new C++ Framework.  "
    "This test is a scroller.  Look how it scrolls.  It's amazing.  Well, maybe not amazing, "
    "but it's certainly not much worse than Tam's usual standards of Pebblecraft gubbins.  "
    "Watch in awe as the scrolling message repeats itself.";

MyGame ThisGame __attribute__((init_priority(1002)));
int32_t TraceScreens = 0;

// Only the credit lines are constructed; every other field starts zeroed.
MyGame::MyGame() {}
MyGame::~MyGame() {}

void Heartbeat() { ThisGame.KeepAlive(); }
