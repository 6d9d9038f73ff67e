// The credits: the list of lines, the defaults, and the rolling screen with
// its web of lines and the corner read-outs.
#include <climits>
#include <cmath>

#include "MyGame.h"

namespace {

const int kCreditCapacity = 1024;

// 72 lines in sections: "-=-=-" ends a section, an empty line is a spacer.
const char* const kDefaultCredits[] = {
    "Another game by", "", "The KELP team", "No web site yet", "-=-=-",

    "Coded In", "C++", "using the KELP team's", "KELPFrame", "Framework", "-=-=-",

    "Graphics", "", "Mostly by", "our image generator", "", "using", "",
    "FreeType", "on Linux", "", "LodePNG", "on Linux", "-=-=-",

    "Font", "", "DejaVu Sans Bold", "by", "Bitstream / DejaVu fonts team", "-=-=-",

    "Audio", "", "Sound Effects", "created with", "our sound synthesiser", "",
    "Tweaked with", "a text editor", "-=-=-",

    "Music", "", "Created with", "our synthesiser and libvorbis", "on Linux", "-=-=-",

    "Special Thanks", "",
    "The Debian Project", "debian.org", "",
    "and", "",
    "The Mesa developers", "mesa3d.org", "",
    "Thanks for all the Feedback!", "",
    "The Xvfb developers", "x.org", "",
    "Thanks for the many", "GLFW and OpenAL Soft,", "libvorbisfile, GCC and CMake", "",
    "And a great big hello", "to everyone at", "the Debian community", "",
    "Thanks for sticking around", "and putting up with", "all my ranting!", "-=-=-",
};
static_assert(sizeof kDefaultCredits / sizeof kDefaultCredits[0] == 72,
              "the default credits have 72 lines");

}  // namespace

void MyGame::AddCredits(std::string line) {
    // The count goes on past the capacity (callers may read it) but stops
    // short of overflowing.
    if (creditLast < -1) creditLast = -1;
    if (creditLast < INT_MAX) creditLast += 1;
    creditScroll = 0;
    if (creditLast < kCreditCapacity) creditLines[creditLast] = line;
}

void MyGame::AddDefaultCredits() {
    creditLast = -1;
    for (const char* line : kDefaultCredits) AddCredits(line);
}

void MyGame::Credits() {
    const float W = screenW, H = screenH;

    AddPlatBG();
    ResetDraw();

    bool close = false;
    if (ActionUp(KELP_START) && ActionUp(KELP_BUTTON1) && ActionUp(KELP_BACK) &&
        ActionUp(KELP_BUTTON2)) {
        keyLatch[LATCH_CLOSE] = 0;
    }
    if ((ActionDown(KELP_START) || ActionDown(KELP_BUTTON1) || ActionDown(KELP_BACK) ||
         ActionDown(KELP_BUTTON2)) &&
        keyLatch[LATCH_CLOSE] == 0) {
        close = true;
    }
    for (int i = 0; i < TOUCH_RECORDS; i++) {
        if (TouchDown(i) == 0) {
            touchLatch[TOUCH_RECORD + i] = 0;
        } else if (touchLatch[TOUCH_RECORD + i] == 0) {
            close = true;
        }
    }
    if (close) {
        subScreen = 0;
        LockKeys();
        PlaySFX(98);
    }

    // Only stored lines are shown, and the loop restarts after the last of them.
    int last = creditLast;
    if (last > kCreditCapacity - 1) last = kCreditCapacity - 1;
    if (last < -1) last = -1;

    creditScroll -= 0.75f;
    if (ActionDown(KELP_UP) || ActionDown(KELP_RIGHT) || ActionDown(KELP_DOWN) ||
        ActionDown(KELP_LEFT)) {
        creditScroll -= 1.5f;
    }
    if (creditScroll < -36.0f * last - 288) creditScroll = 0;

    // The web: forty lines whose ends wander at different rates.
    SetSize(1.4f);
    Thick(2);
    const float k = 0.025f;
    const float m = (float)Mills();
    for (int p = 0; p < 80; p += 2) {
        InkRot(5.0f * p);
        Line(W / 2 + 400 * Sin((30 * p + m) * k), H / 2 + 400 * Cos((30 * p + m) * 1.6f * k),
             W / 2 + 400 * Sin((120 * p + 2 * m) * k), H / 2 + 400 * Cos((60 * p + m) * 1.3f * k));
    }

    for (int p = 0; p <= last; p++) {
        const float y = 36.0f * (p + 4) + creditScroll;
        float a = (y < 0) ? 3 + 0.0225f * y : 3 - 0.0225f * y;
        if (a > 1) a = 1;
        if (a <= 0) continue;
        // Lines are pulled apart away from the centre, like a receding plane.
        float z = std::fabs(y) / 100;
        if (z < 0.5f) z = 0.5f;
        const float yy = 2 * y * z;
        SetGradient(190 + 150 * Sin(20.0f * p), 190 + 150 * Sin(20.0f * p + 120),
                    190 + 150 * Sin(20.0f * p + 240), a,
                    255 + 150 * Sin(30.0f * p), 255 + 150 * Sin(30.0f * p + 120),
                    255 + 150 * Sin(30.0f * p + 240), a);
        Text(W / 2, H / 2 + yy, creditLines[p], 1, 1);
    }

    ResetDraw();
    SetSize(0.75f);
    Text(W - 24, 24, fstr("Plays %i", saveData[SAVE_PLAYS]), 2);
    Text(W - 24, H - 48, fstr("Real %ix%i", realWidth, realHeight), 2);
    Text(W - 24, H - 24, fstr("Virtual %ix%i", (int)W, (int)H), 2);
    ResetDraw();
}
