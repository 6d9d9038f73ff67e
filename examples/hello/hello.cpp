// Hello KELP - the smallest complete game on the framework, and the template
// to copy for a new one: a ball you steer, a sound, text, and a saved best.
//
// Controls: arrow keys or WASD move, Z or Space scores a point, F4 quits.
#include <kelp/KELPCore.h>

class Hello : public KELPCore {
public:
    float ballX = 400, ballY = 300;
    int points = 0, best = 0, fireLatch = 0, next = 0;

    void Run(const char* programPath) {
        SetDataRoot(programPath);   // assets are read from <dir>/Data/1/
        Begin(1, "Hello KELP");
        showStats = 0;

        // Bind the actions this game reads (key codes are GLFW's).
        SetKey(0, 265); SetKey(0, 87);   // up: Up, W
        SetKey(1, 262); SetKey(1, 68);   // right: Right, D
        SetKey(2, 264); SetKey(2, 83);   // down: Down, S
        SetKey(3, 263); SetKey(3, 65);   // left: Left, A
        SetKey(10, 90); SetKey(10, 32);  // button 1: Z, Space

        LoadFont(0, "entplain.png");
        LoadSFX(1, "blip");
        if (ReadFile("hello.sav")) {
            int v = ReadInt();
            if (v >= 0) best = v;   // -37171 marks a short file
            CloseFile();
        }

        // A fixed 16 ms step for logic and drawing; the framework commits
        // each update's draw list and renders it. RunLoop calls the pass
        // until it returns false, then the end: in a plain loop on the
        // desktop, once a frame in a browser.
        RunLoop([this] { return Pass(); }, [this] { End(); });
    }

    bool Pass() {
        if (quitRequested || ASys.windowFailed) return false;
        if (Mills() < next) {
            Rest(1);
            return true;
        }
        next = Mills() + 16;
        PollInput(0);
        ResetDraw();
        Frame();
        BufferGame();
        RenderGame(screenW, screenH);
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
        ballX += (Joy(1) - Joy(3)) * 5;
        ballY += (Joy(2) - Joy(0)) * 5;
        if (ballX < 24) ballX = 24;
        if (ballX > screenW - 24) ballX = screenW - 24;
        if (ballY < 24) ballY = 24;
        if (ballY > screenH - 24) ballY = screenH - 24;

        if (Joy(10) < 0.3f) fireLatch = 0;
        if (Joy(10) > 0.5f && !fireLatch) {
            fireLatch = 1;
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
    return ASys.windowFailed ? 1 : 0;
}
