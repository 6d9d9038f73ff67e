// New Game - the starting point for a game on KELP: a ship you steer,
// stars to pick up with a sound, text, and the best run kept in a file.
//
// Controls: arrow keys or WASD move, F4 quits.
#include <kelp/KELPCore.h>

class NewGame : public KELPCore {
public:
    static const int kNumber = 100;   // assets are read from <dir>/Data/100/
    float shipX = 400, shipY = 300;
    float starX = 200, starY = 150;
    int stars = 0, best = 0;

    void Run(const char* programPath) {
        SetDataRoot(programPath);
        Begin(kNumber, "New Game");
        showStats = 0;

        // Bind the actions this game reads (key codes are GLFW's).
        SetKey(0, 265); SetKey(0, 87);   // up: Up, W
        SetKey(1, 262); SetKey(1, 68);   // right: Right, D
        SetKey(2, 264); SetKey(2, 83);   // down: Down, S
        SetKey(3, 263); SetKey(3, 65);   // left: Left, A

        LoadFont(0, "entplain.png");
        LoadImg(1, "sprites", 32);       // 32-pixel frames: 0 ship, 4 star
        LoadSFX(1, "pickup");            // audio/pickup.wav
        if (ReadFile("newgame.sav")) {
            int v = ReadInt();
            if (v >= 0) best = v;        // -37171 marks a short file
            CloseFile();
        }
        Debuglog("New Game ready");

        // One update every 16 ms: read the input, draw, commit, render.
        // RunLoop calls the pass until it returns false, then the end: in a
        // plain loop on the desktop, once a frame in a browser.
        RunLoop([this] { return Pass(); }, [this] { End(); });
    }

    int next = 0;
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
        if (WriteFile("newgame.sav")) {
            WriteInt(best);
            CloseFile();
        }
        Terminate();
    }

    void Frame() {
        shipX += (Joy(1) - Joy(3)) * 5;
        shipY += (Joy(2) - Joy(0)) * 5;
        if (shipX < 16) shipX = 16;
        if (shipX > screenW - 16) shipX = screenW - 16;
        if (shipY < 16) shipY = 16;
        if (shipY > screenH - 16) shipY = screenH - 16;

        if (Collide_Circle_Circle(shipX, shipY, 14, starX, starY, 14)) {
            stars++;
            if (stars > best) best = stars;
            PlaySFX(1, 1.0f + stars % 5 * 0.1f);
            starX = Rnd(32, screenW - 32);
            starY = Rnd(96, screenH - 32);
        }

        SetCLS(20, 16, 40);
        DrawImg(1, starX, starY, 4);
        DrawImg(1, shipX, shipY, 0);
        Text(screenW / 2, 40, "New Game", 1);
        SetSize(0.75f);
        Text(screenW / 2, 80, fstr("Stars %i   Best %i", stars, best), 1);
        Text(screenW / 2, screenH - 30, "Arrows move - F4 quits", 1);
    }
};

NewGame game;

int main(int argc, char** argv) {
    game.Run(argc > 0 ? argv[0] : ".");
    return ASys.windowFailed ? 1 : 0;
}
