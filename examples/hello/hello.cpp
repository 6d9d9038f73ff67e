// Hello KELP - the smallest complete game on the framework: a ball you
// steer, a sound, text, and a saved best. To start a game of your own, copy
// templates/new-game instead (docs/writing-a-game.md).
//
// Controls: arrow keys or WASD move, Z or Space scores a point, F4 quits.
#include <kelp/KELPCore.h>

class Hello : public KELPCore {
public:
    float ballX = 400, ballY = 300;
    int points = 0, best = 0;

    void Run(const char* programPath) {
        SetDataRoot(programPath);   // assets are read from <dir>/Data/1/
        Begin(1, "Hello KELP");
        showStats = 0;

        // Bind the actions this game reads.
        SetKey(KELP_UP, KELP_KEY_UP);
        SetKey(KELP_UP, KELP_KEY_W);
        SetKey(KELP_RIGHT, KELP_KEY_RIGHT);
        SetKey(KELP_RIGHT, KELP_KEY_D);
        SetKey(KELP_DOWN, KELP_KEY_DOWN);
        SetKey(KELP_DOWN, KELP_KEY_S);
        SetKey(KELP_LEFT, KELP_KEY_LEFT);
        SetKey(KELP_LEFT, KELP_KEY_A);
        SetKey(KELP_BUTTON1, KELP_KEY_Z);
        SetKey(KELP_BUTTON1, KELP_KEY_SPACE);

        LoadFont(0, "entplain.png");
        LoadSFX(1, "blip");
        if (ReadFile("hello.sav")) {
            int v = ReadInt();
            if (v >= 0) best = v;   // -37171 marks a short file
            CloseFile();
        }

        // A fixed 16 ms step for logic and drawing. RunLoop calls the pass
        // until it returns false, then the end: in a plain loop on the
        // desktop, once a frame in a browser.
        RunLoop([this] { return Pass(); }, [this] { End(); });
    }

    bool Pass() {
        if (quitRequested || WindowFailed()) return false;
        int due = UpdatesDue(16);   // sleeps until due; in a browser a frame may have 0..4
        for (int i = 0; i < due; i++) {
            PollInput(0);
            ResetDraw();
            Frame();
            BufferGame();
        }
        if (due > 0) RenderGame(screenW, screenH);
        return true;
    }

    void End() {
        if (WriteFile("hello.sav")) {
            WriteInt(best);
            CloseFile();
        }
        Terminate();
    }

    void Frame() {
        ballX = Clamp(ballX + (Joy(KELP_RIGHT) - Joy(KELP_LEFT)) * 5, 24, screenW - 24);
        ballY = Clamp(ballY + (Joy(KELP_DOWN) - Joy(KELP_UP)) * 5, 24, screenH - 24);

        if (JoyPressed(KELP_BUTTON1)) {
            points++;
            if (points > best) best = points;
            PlaySFX(1, 1.0f + points % 5 * 0.1f);
        }

        SetCLS(16, 24, 48);
        SetGradient(40, 60, 120, 1, 10, 15, 30, 1);
        Rect(screenW / 2, screenH / 2, screenW, screenH);
        ResetDraw();
        InkRot(Mills() / 8.0f);
        Circle(ballX, ballY, 24);
        ResetDraw();
        Text(screenW / 2, 40, "Hello KELP", 1);
        SetSize(0.75f);
        Text(screenW / 2, 80, fstr("Points %i   Best %i", points, best), 1);
        Text(screenW / 2, screenH - 30, "Arrows move - Z scores - F4 quits", 1);
    }
};

Hello game;

int main(int argc, char** argv) {
    game.Run(argc > 0 ? argv[0] : ".");
    return game.WindowFailed() ? 1 : 0;
}
