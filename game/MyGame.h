// MyGame - the demo game "Test Game" (game 550): launch and loop, game flow,
// front-end screens, settings and saves, scoreboards, the demo scene and its
// particles. Every screen is an immediate-mode method that draws and reads
// input in the same call and keeps its state in the fields below.
#pragma once

#include <string>

#include "../core/KELPCore.h"

class MyGame : public KELPCore {
public:
    MyGame();
    ~MyGame();

    // ---- Per-game arrays (zeroed together by FlushGame) ---------------------------
    int32_t gameWordsA[10250];
    int32_t gameWordsB[12100000];
    union {
        int32_t gameValues[1024];
        struct {
            float demoAngleA, demoAngleB;    // the two markers of the demo scene
            float score, shownScore, lives;  // score line
        };
    };
    int32_t gameWordsD[2600];
    union {
        int32_t particleBlock[2600];
        float particles[256][10];            // 256 records; the rest is padding
    };

    // ---- Persistent data -----------------------------------------------------------
    // The entries of saveData. Players' files keep them at these numbers:
    // they never change.
    enum SaveEntry {
        // Entries 0..99 go to the settings file.
        SAVE_SETTINGS_FIRST = 0, SAVE_SETTINGS_END = 100,
        SAVE_SFX_VOLUME = 0,        // 0..10, tenths of full volume
        SAVE_MUSIC_VOLUME = 1,      // 0..10, tenths of full volume
        SAVE_INVERT_Y = 10,         // 1: the sticks' up and down swapped
        SAVE_SWAP_BUTTONS = 13,     // 1: on the start page Button 2 confirms, Button 1 and Start go back
        SAVE_OVERSCAN = 20,         // 0..10; the overscan field is a fiftieth of it
        SAVE_SHOW_STATS = 22,       // showStats as saved, and as the options row sets it
        SAVE_REDUCE_MOTION = 23,    // 1: the logo, scoreboard panel and end banner keep still
        SAVE_USER_ID = 24,          // 24..26: this installation's user ID (the date and time
                                    // it was made, yyyymmdd and hhmmss, and a random number)
        SAVE_USER_CHECK = 27,       // the user ID's check, which a damaged file fails
        // Entries 100..199 go to the save file.
        SAVE_GAME_FIRST = 100, SAVE_GAME_END = 200,
        SAVE_PLAYS = 100,           // games started
        SAVE_LEVEL = 101,           // the level row chosen, from 1
        SAVE_USER_ID_COPY = 124,    // 124..126: the user ID the save file was written for
        SAVE_USER_CHECK_COPY = 127, // its check
        SAVE_ENTRIES = 200,
    };
    int32_t scoreData[22000];
    int32_t saveData[SAVE_ENTRIES];

    // ---- Latches and pointer ---------------------------------------------------------
    // A screen acts on an input while the input's latch is 0 and clears the
    // latch once the input is released; LockKeys sets every latch of both
    // tables, so what is held then acts only after it has been let go.
    enum KeyLatch {
        LATCH_NAVIGATE = 0,      // the options' up and down; the redefine screen's fixed keys
        LATCH_PAUSE_SELECT = 1,  // the pause menu's left and right
        LATCH_OPTION_ROW = 2,    // an options row's confirm or click
        LATCH_STEP = 5,          // left and right on the start page and the options rows; in
                                 // the level list, the countdown to the next repeated step
                                 // (the end banner holds it at 50)
        LATCH_STEP_DELAY = 6,    // the level list's next repeat delay: 24, 18, 12, 6, then 3
        LATCH_CONFIRM = 10,      // confirm on the menus and the pause menu
        LATCH_BACK = 11,         // back on the level list
        LATCH_BOARD_PAGE = 13,   // paging the scoreboard panel
        LATCH_CLOSE = 15,        // closing the credits or the options
        LATCH_CAPTURE = 66,      // 2 while the redefine screen captures a key
        LATCH_PAUSE = 98,        // pausing the game
        LATCH_QUIT = 99,         // Escape (or a pad's Back) on the start page, which quits
        LATCH_COUNT = 100,
    };
    // touchLatch: the pointer records' latches.
    enum TouchLatch {
        TOUCH_ANY = 0,           // any pointer, on the level list and its back arrow
        TOUCH_RECORD = 1,        // 1..10: pointer record 0..9 (TouchDown(i))
        TOUCH_RECORDS = 10,      // the number of pointer records
    };
    int32_t keyLatch[LATCH_COUNT];
    int32_t touchLatch[LATCH_COUNT];
    int32_t pointerDown;

    // ---- Frame timing -------------------------------------------------------------------
    int32_t prevUpdateTick, updateTick;
    float frameDelta;
    float stickDX, stickDY;

    // ---- Credits -------------------------------------------------------------------------
    std::string creditLines[1024];
    int32_t creditLast;
    float creditScroll;

    // ---- Menu ---------------------------------------------------------------------------
    int32_t menuPage, startSelection, spinAngle;
    float menuListY, logoZoom;
    int32_t chosenLevel, touchStarted;

    // ---- Options ------------------------------------------------------------------------
    int32_t optY, optScroll, optSelected, optCount, optSelectedY;

    // ---- Pause ----------------------------------------------------------------------------
    int32_t pauseSelection, pauseSlide, pauseIdle;

    // ---- Redefine keys --------------------------------------------------------------------
    int32_t redefRow, redefCol, captureLock, testTimer, captureTimer;

    // ---- Scoreboard panel -------------------------------------------------------------------
    int32_t boardSlide, boardTimer, boardPage, boardSpare;

    // ---- Game flow and end banner -----------------------------------------------------------
    int32_t gameMode, subScreen, paused;
    int32_t endPending, endReason, endTimer;
    float camX, camY, camSpare1, camSpare2;

    // ---- Launch and loop --------------------------------------------------------------------
    void Launch(const char* programPath);
    void GameLoop();
    // One pass of the main loop; false once the game is to end.
    bool LoopPass();
    // The end of a run: the platform shut down and everything saved.
    void Finish();
    void KeepAlive();
    // The loop's step: 16 ms, or 32 under the pause menu; and its pace
    // without the input focus.
    int StepMs() const;
    static const int kUnfocusedMs = 150;
    // In a browser (a pass a display frame), the focused part of a pass:
    // the updates due since the last frame, then one render if any ran.
    void FrameSteps();
    void Update();
    // One update that the loop ran for the due time `tick` (a Mills value);
    // its frame delta is measured from the last one's. Update() runs one now.
    void UpdateAt(int tick);
    void Render();
    void Loader();
    // The screen this update ran, as the screen trace names it.
    const char* ScreenName() const;
    // Elapsed milliseconds between two updates as 60 Hz frames, clamped.
    static float FrameDelta(int elapsedMs);

    // ---- Input ------------------------------------------------------------------------------
    // An action held or let go, at the thresholds of JoyPressed and
    // JoyReleased. The screens act on a press while their latch is 0 and
    // re-arm it on a release, rather than on JoyPressed's edges, because
    // LockKeys (after every menu action, and on every frame of the end
    // banner) has to hold a press back until it is released.
    bool ActionDown(int action) { return Joy(action) > KELP_PRESSED; }
    bool ActionUp(int action) { return Joy(action) < KELP_RELEASED; }
    // The types of PlayKey's fixed table (KELPCore.h) that the demo reads:
    // keys that need no binding, for what must work whatever the bindings.
    enum PlayKeyType {
        PLAYKEY_UP = 0, PLAYKEY_LEFT = 3, PLAYKEY_RIGHT = 5, PLAYKEY_DOWN = 8,
        PLAYKEY_BUTTON1 = 10,    // Z, J, Space, Return, keypad 7; a pad's A
        PLAYKEY_PAD_START = 98,  // a pad's Start
        PLAYKEY_ESCAPE = 99,     // Escape, or a pad's Back
    };

    // ---- Game flow ------------------------------------------------------------------------
    void LoopTarget();
    void EndBanner();
    void EndGame(int reason);
    void FlushGame();
    void LockKeys();
    // The banner's two words for an end reason (which 0 or 1).
    static const char* EndWords(int reason, int which);
    // The screens LoopTarget dispatches to, called through this table so
    // that the dispatch can be exercised without running the screens.
    enum FlowScreen {
        FLOW_MENU, FLOW_LOADMENU, FLOW_GAME, FLOW_INGAME, FLOW_PAUSE, FLOW_LOADGAME,
        FLOW_OPTIONS, FLOW_CREDITS, FLOW_REDEFINE, FLOW_PARTICLES, FLOW_COUNT
    };
    static void (*flowScreens[FLOW_COUNT])(MyGame& game);

    // ---- Key bindings ---------------------------------------------------------------------
    void KeyDefaults();
    void RedefineKeys();

    // ---- Menus ------------------------------------------------------------------------------
    void DoMenu();
    void Menu_Start();
    void Menu_Default(std::string items, std::string descriptions);
    void Menu_Background();
    void AddPlatBG();
    void LoadMenu();

    // ---- Options --------------------------------------------------------------------------
    void Options();
    void OptionsList();
    void AddOptionLabel(std::string label);
    int AddLinearOption(int entry, int icon, std::string label, int steps);
    int AddToggleOption(int entry, int icon, std::string label, std::string textOff, std::string textOn);

    // ---- Pause and loading screens ----------------------------------------------------------
    void Ingame();
    void PauseMenu();
    void LoadingScreen();

    // ---- Credits ------------------------------------------------------------------------------
    void AddCredits(std::string line);
    void AddDefaultCredits();
    void Credits();

    // ---- Settings and saves -------------------------------------------------------------------
    void Save();
    void Load();

    // ---- Scoreboards ---------------------------------------------------------------------------
    void DefaultScoreDisplay(int showLives);
    void HandleDefaultScoreboards();
    void DisplayScoreboard();

    // ---- Demo game and particles ---------------------------------------------------------------
    void LoadGame();
    void DoGame();
    void SubmitTestScore();
    void ThrowParticle(float x, float y, float hue, int colourRow, int kind, float direction, float speed);
    void Gimme(int points, float x, float y, float hue);
    void Gimme(int points, float x, float y);
    void DoParticles();
};

extern std::string ScrollText;
extern MyGame ThisGame;
// Set by the test build: every update that runs a different screen than the
// last logs its name ("Trace screen: level"), and a change of the game's
// score ("Trace score: 25"), so that a test can wait for a screen or a score
// instead of guessing how long the machine takes to get there.
extern int32_t TraceScreens;

// One pass of the main loop on ThisGame.
void Heartbeat();
