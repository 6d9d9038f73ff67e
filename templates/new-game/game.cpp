// New Game - the starting point for a game on KELP: a ship that picks up
// stars and dodges falling rocks, with music, sound, a pause and a best
// score kept across runs. kelp-new-game copies it for a game of your own;
// the guide, share/doc/kelp/writing-a-game.md where KELP is installed,
// walks through this file.
//
// Controls: arrows, WASD or a pad move; Escape, P or the pad's Start pauses;
// Z, Space or the pad's A starts again after a crash; F4 quits.
#include <kelp/KELPCore.h>

class NewGame : public KELPCore {
public:
    static const int kNumber = 100;               // assets are read from Data/100/ beside the program
    enum { kFont = 0, kSprites = 1 };             // image slots
    enum { kShip = 0, kStar = 4, kRock = 7 };     // frames of sprites.png
    enum { kPickup = 1 };                         // sound slots

    float shipX = 400, shipY = 400;
    float starX = 0, starY = 0;
    float rockX = 0, rockY = 0, rockSpin = 0;
    int score = 0, best = 0;
    bool paused = false, crashed = false;
    bool flying = false;                          // the rock waits for the first move

    void Start(const char* programPath) {
        SetDataRoot(programPath);                 // the folder of the program holds Data/
        Begin(kNumber, "New Game");
        showStats = 0;                            // F1 shows the frame rates

        BindKeys();                               // arrows, WASD, Z, Space, Escape...
        BindPads();                               // four pads: d-pad, A B X Y, Start, Back
        SetKey(KELP_START, KELP_KEY_P);           // a key of our own: P pauses too

        LoadFont(kFont, "entplain.png");
        LoadImg(kSprites, "sprites", 32);         // a sheet of 32 x 32 frames
        LoadSFX(kPickup, "pickup");               // audio/pickup.wav
        if (ReadFile("newgame.sav")) {
            int v = ReadInt();
            if (v >= 0) best = v;                 // -37171 marks a short file
            CloseFile();
        }
        NewRun();
        PlayMusic("music.ogg");                   // loops until StopMusic
        Debuglog("New Game ready");

        // RunLoop calls Pass until it returns false, then End: on the desktop
        // in a plain loop, in a browser once a frame.
        RunLoop([this] { return Pass(); }, [this] { End(); });
    }

    // One pass of the loop: the updates due (one every 16 ms), then a render.
    bool Pass() {
        if (quitRequested || WindowFailed()) return false;
        int due = UpdatesDue(16);                 // sleeps until one is due; a browser frame: 0..4
        for (int i = 0; i < due; i++) {
            PollInput(0);
            ResetDraw();
            Update();
            BufferGame();
        }
        if (due > 0) RenderGame(screenW, screenH);
        MusicHandler();                           // keeps the music streaming
        return true;
    }

    void End() {
        SaveBest();
        Terminate();
    }

    void NewRun() {
        score = 0;
        crashed = false;
        flying = false;
        shipX = screenW / 2;
        shipY = screenH - 80;
        PlaceStar();
        DropRock();
    }

    void PlaceStar() {
        do {                                      // never on the ship: a star is flown to
            starX = Rnd(32, screenW - 32);
            starY = Rnd(96, screenH - 32);
        } while (Dist(starX, starY, shipX, shipY) < 96);
    }

    void DropRock() {
        rockX = Rnd(32, screenW - 32);
        rockY = -32;
    }

    void SaveBest() {
        if (WriteFile("newgame.sav")) {
            WriteInt(best);
            CloseFile();
        }
    }

    void Update() {
        if (JoyPressed(KELP_START) && !crashed) {
            paused = !paused;
            if (paused) PauseMusic();             // held where it is...
            else ResumeMusic();                   // ...and on from there
        }
        if (crashed && JoyPressed(KELP_BUTTON1)) NewRun();
        if (!paused && !crashed) Play();
        Draw();
    }

    void Play() {
        // Actions are 0..1: a stick pushed halfway moves at half speed.
        shipX = Clamp(shipX + (Joy(KELP_RIGHT) - Joy(KELP_LEFT)) * 5, 16, screenW - 16);
        shipY = Clamp(shipY + (Joy(KELP_DOWN) - Joy(KELP_UP)) * 5, 16, screenH - 16);
        if (Joy(KELP_RIGHT) + Joy(KELP_LEFT) + Joy(KELP_DOWN) + Joy(KELP_UP) > 0.5f) flying = true;
        if (!flying) return;

        if (Collide_Circle_Circle(shipX, shipY, 14, starX, starY, 14)) {
            score++;
            PlaySFX(kPickup, 1.0f + score % 5 * 0.1f);
            PlaceStar();
        }

        rockY += 3 + score * 0.25f;               // faster with every star
        rockSpin += 4;
        if (rockY > screenH + 32) DropRock();
        if (Collide_Circle_Circle(shipX, shipY, 12, rockX, rockY, 14)) {
            crashed = true;
            PlaySFX(kPickup, 0.4f);               // the same sound, low: a thud
            if (score > best) {
                best = score;
                SaveBest();                       // kept at once, whatever happens next
            }
        }
    }

    void Draw() {
        SetCLS(20, 16, 40);
        DrawImg(kSprites, starX, starY, kStar);
        SetRot(rockSpin);
        DrawImg(kSprites, rockX, rockY, kRock);
        SetRot(0);
        if (crashed) SetAlpha(0.4f);
        DrawImg(kSprites, shipX, shipY, kShip);
        SetAlpha(1);

        Text(screenW / 2, 40, "New Game", 1);     // align 1: centred on x
        SetSize(0.75f);
        Text(screenW / 2, 80, fstr("Stars %i   Best %i", score, best), 1);
        if (paused) Text(screenW / 2, screenH / 2, "Paused - Escape to go on", 1);
        if (crashed) Text(screenW / 2, screenH / 2, "Crashed - Z to fly again", 1);
        Text(screenW / 2, screenH - 30, "Arrows move - Escape pauses - F4 quits", 1);
    }
};

NewGame game;   // one global object: the framework's state is large

int main(int argc, char** argv) {
    game.Start(argc > 0 ? argv[0] : ".");
    return game.WindowFailed() ? 1 : 0;
}
