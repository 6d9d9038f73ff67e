// The demo scene: a steered marker and a chaser circling the centre,
// collision displays, particles and points on fire, and a test score record
// sent online while Button 4 is held.
#include <cstdio>
#include <string>

#include "MyGame.h"

namespace {

// The answer comes from outside: its line breaks and other control bytes
// are shown as escapes, so it stays on its one log line and cannot pass for
// lines of the game's own.
std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 32 || c == 127) {
            char code[8];
            snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        } else {
            out += char(c);
        }
    }
    return out;
}

}  // namespace

void MyGame::LoadGame() {
    FlushGame();
    saveData[SAVE_PLAYS] += 1;
    demoAngleA = 0;
    demoAngleB = 180;
    lives = 3;
    PlayMusic("Internet.ogg");
    gameMode = 10;
}

void MyGame::DoGame() {
    float W = screenW, H = screenH;

    FadeCLS(0, 0, 80, 8);
    SetGradient(255, 255, 255, 0.4f, 0, 0, 0, 0.4f);
    Rect(W / 2, H / 2, W + 256, H + 256);
    ResetDraw();

    demoAngleA += (Joy(KELP_RIGHT) - Joy(KELP_LEFT)) * 10;
    // The chaser turns towards the steered marker, at most 3 degrees a frame.
    float turn = WhichWayDoIGo(demoAngleB, demoAngleA);
    if (turn < -3) turn = -3;
    if (turn > 3) turn = 3;
    demoAngleB += turn;

    float ax = W / 2 + 128 * Sin(demoAngleA), ay = H / 2 - 128 * Cos(demoAngleA);
    float bx = W / 2 + 98 * Sin(demoAngleB), by = H / 2 - 98 * Cos(demoAngleB);

    if (Collide_Circle_Circle(ax, ay, 16, bx, by, 16)) SetCol(255, 0, 0);
    Circle(ax, ay, 16);
    Circle(bx, by, 16);
    SetCol(255, 255, 255);

    if (Collide_Line_Line(0, 0, W, H, W, 0, ax, ay)) {
        SetCol(255, 0, 0);
        Circle(LastColPointX, LastColPointY, 8);
    }
    Line(0, 0, W, H);
    Line(W, 0, ax, ay);

    int fire = 0;
    if (pointerDown > 0) {
        fire = 1;
        // The pointer's coordinates steer both markers directly.
        demoAngleA = MouseX();
        demoAngleB = MouseY();
    }
    if (Joy(KELP_BUTTON1) != 0) fire = 1;

    if (fire) {
        float speed = Rnd(3, 7);
        float direction = Rnd(0, 360);
        float hue = Rnd(0, 360);
        ThrowParticle(ax, ay, hue, 0, 1, direction, speed);
        ThrowParticle(ax, ay, hue, 2, 2, direction, speed);
        ThrowParticle(bx, by, hue, 4, 3, direction, speed);
        if (Rnd(0, 30) < 1) Gimme(5 * Rand(1, 10), bx, by);
    }

    if (Joy(KELP_BUTTON4) != 0) SubmitTestScore();

    DefaultScoreDisplay(1);
}

void MyGame::SubmitTestScore() {
    const int32_t* id = &saveData[SAVE_USER_ID];
    std::string rec = fstr("%i%i%i%i{%s{%04d{%04d{%04d{", (int)id[0], (int)id[1], (int)id[2],
                           (int)saveData[SAVE_USER_CHECK], "Tam C++", (int)gameNumber, (int)gameVersion, 0);
    for (int i = 0; i < 3; i++) rec += fstr("%i{%i{", 10 + 5 * i, i + 1);
    rec += "KELP{";
    const char* scrambled = fstr("%s", ScrambleTxt(rec).c_str());
    std::string answer = GetURL("localhost", "Scores.php?Game=550&Score=", scrambled);
    // A failed request has no answer, and the web log has said why.
    if (!answer.empty()) Debuglog(fstr("%s", Escaped(answer).c_str()));
}
