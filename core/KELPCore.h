// KELPCore - the API a game calls: drawing, text, input, sound, files,
// strings, maths, time and web access. This header is the manual: every
// call says what it does, its units and ranges, and what a bad argument does.
//
// A game is one global object of a class deriving from KELPCore (its state
// is large: make it global, never a local). Its start-up calls SetDataRoot
// and Begin, binds its inputs and loads its assets; then it loops through
// RunLoop, and every 16 ms polls the input, draws and renders. The template
// (templates/new-game/game.cpp) and docs/writing-a-game.md walk through it.
//
// Conventions for every call below:
// - Positions are canvas units: origin at the top-left of the canvas, x to
//   the right, y downwards. The canvas is 800 units wide in a landscape (or
//   square) window, 512 in a portrait one; its height follows the window's
//   shape (screenW x screenH, refreshed by RenderGame).
// - Angles are degrees, turning clockwise on screen.
// - Colour components are 0..255 and alpha 0..1; both are clamped.
// - Bad numbers in drawing and sound calls (each call below says which of
//   its arguments this covers): a value out of its range is clamped into
//   it, infinities too; a NaN, which no range holds, and an infinity where
//   a finite number is needed (a position, a size, an angle) make the call
//   do nothing: the log says so once for that call ("Rect: an argument is
//   NaN or infinite; nothing drawn (said once)"). A setter that does
//   nothing keeps the drawing state as it was.
// - Slots: image slots 0..99 (a pixel buffer may also be 100), sound slots
//   0..104. A slot outside its range is refused with a log line.
// - Nothing throws. A failure is logged as a numbered line on standard
//   output, and the call does nothing or returns 0 (or the stated marker).
// - Everything runs on the one main thread (RequestURL's exchange runs off
//   it, touching nothing of the game's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

// ---- Actions --------------------------------------------------------------------
// Sixteen virtual inputs, read with Joy(action) as 0 (idle) .. 1 (fully
// pressed). Keys and pad buttons are bound to them with SetKey; every pad's
// left stick also drives the four directions and its right stick the second
// four, without any binding.
enum {
    KELP_UP = 0, KELP_RIGHT = 1, KELP_DOWN = 2, KELP_LEFT = 3,           // left stick, d-pad, arrows
    KELP_UP2 = 4, KELP_RIGHT2 = 5, KELP_DOWN2 = 6, KELP_LEFT2 = 7,       // the second (right) stick
    KELP_START = 8, KELP_BACK = 9,                                       // Start; Back/Select
    KELP_BUTTON1 = 10, KELP_BUTTON2 = 11, KELP_BUTTON3 = 12, KELP_BUTTON4 = 13,
    KELP_SHOULDER_L = 14, KELP_SHOULDER_R = 15,
    KELP_ACTIONS = 16,
};

// ---- Key codes ------------------------------------------------------------------
// Input codes of keyboard keys for SetKey (they are GLFW's key codes, which
// settings files store, so they never change). Letters and digits are their
// ASCII capitals and digits: KELP_KEY_A is 'A' (65), KELP_KEY_0 is '0' (48).
enum {
    KELP_KEY_SPACE = 32, KELP_KEY_APOSTROPHE = 39, KELP_KEY_COMMA = 44, KELP_KEY_MINUS = 45,
    KELP_KEY_PERIOD = 46, KELP_KEY_SLASH = 47,
    KELP_KEY_0 = 48, KELP_KEY_1, KELP_KEY_2, KELP_KEY_3, KELP_KEY_4,
    KELP_KEY_5, KELP_KEY_6, KELP_KEY_7, KELP_KEY_8, KELP_KEY_9,
    KELP_KEY_SEMICOLON = 59, KELP_KEY_EQUAL = 61,
    KELP_KEY_A = 65, KELP_KEY_B, KELP_KEY_C, KELP_KEY_D, KELP_KEY_E, KELP_KEY_F, KELP_KEY_G,
    KELP_KEY_H, KELP_KEY_I, KELP_KEY_J, KELP_KEY_K, KELP_KEY_L, KELP_KEY_M, KELP_KEY_N,
    KELP_KEY_O, KELP_KEY_P, KELP_KEY_Q, KELP_KEY_R, KELP_KEY_S, KELP_KEY_T, KELP_KEY_U,
    KELP_KEY_V, KELP_KEY_W, KELP_KEY_X, KELP_KEY_Y, KELP_KEY_Z,
    KELP_KEY_LEFT_BRACKET = 91, KELP_KEY_BACKSLASH = 92, KELP_KEY_RIGHT_BRACKET = 93, KELP_KEY_GRAVE = 96,
    KELP_KEY_ESCAPE = 256, KELP_KEY_RETURN = 257, KELP_KEY_TAB = 258, KELP_KEY_BACKSPACE = 259,
    KELP_KEY_INSERT = 260, KELP_KEY_DELETE = 261,
    KELP_KEY_RIGHT = 262, KELP_KEY_LEFT = 263, KELP_KEY_DOWN = 264, KELP_KEY_UP = 265,
    KELP_KEY_PAGE_UP = 266, KELP_KEY_PAGE_DOWN = 267, KELP_KEY_HOME = 268, KELP_KEY_END = 269,
    KELP_KEY_CAPS_LOCK = 280, KELP_KEY_SCROLL_LOCK = 281, KELP_KEY_NUM_LOCK = 282,
    KELP_KEY_PRINT_SCREEN = 283, KELP_KEY_PAUSE = 284,
    KELP_KEY_F1 = 290, KELP_KEY_F2, KELP_KEY_F3, KELP_KEY_F4, KELP_KEY_F5, KELP_KEY_F6,
    KELP_KEY_F7, KELP_KEY_F8, KELP_KEY_F9, KELP_KEY_F10, KELP_KEY_F11, KELP_KEY_F12,
    KELP_KEY_KP_0 = 320, KELP_KEY_KP_1, KELP_KEY_KP_2, KELP_KEY_KP_3, KELP_KEY_KP_4,
    KELP_KEY_KP_5, KELP_KEY_KP_6, KELP_KEY_KP_7, KELP_KEY_KP_8, KELP_KEY_KP_9,
    KELP_KEY_KP_DECIMAL = 330, KELP_KEY_KP_DIVIDE = 331, KELP_KEY_KP_MULTIPLY = 332,
    KELP_KEY_KP_SUBTRACT = 333, KELP_KEY_KP_ADD = 334, KELP_KEY_KP_ENTER = 335, KELP_KEY_KP_EQUAL = 336,
    KELP_KEY_LEFT_SHIFT = 340, KELP_KEY_LEFT_CTRL = 341, KELP_KEY_LEFT_ALT = 342, KELP_KEY_LEFT_SUPER = 343,
    KELP_KEY_RIGHT_SHIFT = 344, KELP_KEY_RIGHT_CTRL = 345, KELP_KEY_RIGHT_ALT = 346,
    KELP_KEY_RIGHT_SUPER = 347, KELP_KEY_MENU = 348,
};

// ---- Pads -----------------------------------------------------------------------
// Up to four pads, numbered 0..3. A pad that GLFW's mapping database knows
// (most current pads) reads in this standard layout; any other keeps its own
// numbering. Axes read -1..1; a released trigger reads -1.
enum {
    KELP_PAD_A = 0, KELP_PAD_B = 1, KELP_PAD_X = 2, KELP_PAD_Y = 3,        // face buttons
    KELP_PAD_LB = 4, KELP_PAD_RB = 5,                                      // bumpers
    KELP_PAD_BACK = 6, KELP_PAD_START = 7, KELP_PAD_GUIDE = 8,
    KELP_PAD_LEFT_THUMB = 9,                                               // stick presses
    KELP_PAD_DPAD_UP = 10, KELP_PAD_DPAD_RIGHT = 11, KELP_PAD_DPAD_DOWN = 12, KELP_PAD_DPAD_LEFT = 13,
    KELP_PAD_RIGHT_THUMB = 14,
};
enum {
    KELP_PAD_LEFT_X = 0, KELP_PAD_LEFT_Y = 1, KELP_PAD_RIGHT_X = 2, KELP_PAD_RIGHT_Y = 3,
    KELP_PAD_LEFT_TRIGGER = 4, KELP_PAD_RIGHT_TRIGGER = 5,
};
// Input codes of pad inputs for SetKey: button b (0..49) or axis a (0..47) of
// pad p (0..3), as 500 + 100 p + b and 550 + 100 p + a. Out of range: 0,
// which binds nothing.
constexpr int KelpPadButton(int pad, int button) {
    return pad >= 0 && pad <= 3 && button >= 0 && button <= 49 ? 500 + 100 * pad + button : 0;
}
constexpr int KelpPadAxis(int pad, int axis) {
    return pad >= 0 && pad <= 3 && axis >= 0 && axis <= 47 ? 550 + 100 * pad + axis : 0;
}

// ---- Hot keys -------------------------------------------------------------------
// Keys the framework itself acts on in every poll, all on by default; a
// game chooses them with SetHotKeys (any sum of these).
enum {
    KELP_HOTKEY_F1 = 1,        // statistics line on/off
    KELP_HOTKEY_F4 = 2,        // quit (closing the window always quits)
    KELP_HOTKEY_F9 = 4,        // wire frame while held
    KELP_HOTKEY_F10 = 8,       // a screenshot into the data root
    KELP_HOTKEY_F11 = 16,      // full screen on/off
    KELP_HOTKEY_PRESETS = 32,  // Q + 1..7: window-size presets
    KELP_HOTKEYS_ALL = 63,
    KELP_HOTKEYS_NONE = 0,
};

class KELPCore;
namespace kelp {
// The framework's own state of a game object: out of a game's view.
struct CoreState;
CoreState& StateOf(KELPCore& game);
}  // namespace kelp

class KELPCore {
public:
    KELPCore();
    ~KELPCore();
    KELPCore(const KELPCore&) = delete;
    KELPCore& operator=(const KELPCore&) = delete;

    // ---- Fields ---------------------------------------------------------------------------
    // What a game reads (and, where said, sets); all start at 0 but the
    // volumes. The framework keeps its own bookkeeping out of sight.
    char gameTitle[1024] = {};         // the title given to Begin (SetTitle)
    int32_t gameNumber = 0;            // given to Begin: assets are in Data/<gameNumber>/
    int32_t gameVersion = 0;           // free for the game (the demo: 1)
    // Master volumes, 0..1, multiplied into every effect and the music. Both
    // start at 1 (full); set them from the player's options if you have any.
    float sfxVolume = 1, musicVolume = 1;
    // The statistics line's figures: input polls and renders in the last
    // second, and the triangles of the last render.
    int32_t updateFps = 0, renderFps = 0, polysShown = 0;
    int32_t focusState = 0;            // 1 while the window has the input focus, else -1 (PollInput)
    // Due times (Mills) for a loop that paces itself with StepDue: the next
    // update and the next render.
    int32_t nextUpdate = 0, nextRender = 0;
    int32_t quitRequested = 0;         // non-zero ends the loop: F4, closing the window, or the game
    int32_t loadStep = 0;              // free for a staged loader (the demo's)
    int32_t showStats = 0;             // 1 draws the statistics line; Begin sets 1, F1 flips it
    int32_t padKeysEnabled = 0;        // 1 (Begin): PlayKey consults the pads too
    int32_t realWidth = 0, realHeight = 0;   // the window's framebuffer, pixels (RenderGame)
    char dataRoot[4100] = {};          // the folder of assets and files (SetDataRoot)
    float overscan = 0;                // 0, or a margin of overscan x width / 4 on every side (a TV's border)
    float LastColPointX = 0, LastColPointY = 0;   // contact point of the last collision test (Maths)
    float screenW = 0, screenH = 0;    // the canvas size in canvas units (RenderGame)

    // ---- Life cycle and the loop -------------------------------------------------------
    // Sets dataRoot to the directory part of the program path (argv[0]), or
    // "." when it has none or is null. Returns 0 (and keeps ".") when the
    // directory does not fit in dataRoot, else 1. Call it before Begin.
    // When that folder holds no Data/ folder, the running program's own
    // folder is taken if it holds one, and else, for a game installed as
    // <prefix>/games/<name> (or <prefix>/bin/<name>), the folder
    // <prefix>/share/games/<name>/ if it holds Data/.
    int SetDataRoot(const char* programPath);
    // Starts the framework: the log's start banner, the clock, an 800 x 600
    // window titled `title`, the audio device, and the random generator's
    // seed. `gameNumber` names the assets folder Data/<gameNumber>/. Without
    // a display it logs why and goes on: check WindowFailed().
    void Begin(int gameNumber, std::string title);
    // 1 when no window could be opened (no display), or a re-created window
    // failed; the game should then end. 0 otherwise.
    int WindowFailed();
    // Shuts the window and audio down and prints the farewell lines. Call it
    // once, at the very end (in RunLoop's `done`).
    void Terminate();
    // The loop: calls pass() until it returns false, then done() once. On the
    // desktop it returns after done(); in a browser each pass is one frame
    // and it never returns, so whatever follows the loop belongs in done().
    void RunLoop(std::function<bool()> pass, std::function<void()> done);
    // The fixed-step clock for a pass of the loop: how many updates of
    // stepMs milliseconds (1..1000; out-of-range values are clamped) are due
    // now, 0..4. Run that many updates (PollInput, ResetDraw, your update,
    // BufferGame), then one RenderGame if any ran. Updates stay stepMs apart
    // on average whatever the display's rate: on the desktop it sleeps until
    // the next is due (usually 1), in a browser a frame may have 0, 1 or a
    // few. Time lost to a stall longer than four steps is dropped. The first
    // call after Begin returns 1.
    int UpdatesDue(int stepMs);
    // The same clock for a loop that keeps its own due times (the demo's
    // steps by 32 ms under its pause menu and by 150 ms without the focus).
    // StepDue returns 1 when a step of stepMs (1..1000; out-of-range values
    // are clamped) is due at `now` (a Mills() time) on the timer `due`,
    // which then moves on, and 0 when none is due yet.
    // - catchUp 0: one step a pass at most, and the next falls stepMs after
    //   now: a late step is not made up (a loop that sleeps until the next
    //   is due, as on the desktop).
    // - catchUp 1: the next falls stepMs after this one was due, so the steps
    //   a late pass missed come due one call after another, as a pass a
    //   display frame needs; `ran` counts the steps this pass has run. A pass
    //   runs 4 at most, and one over 4 steps late drops the time it missed.
    // Either way a due time over 10 s ahead (the clock set back) is due at once.
    static int StepDue(int32_t& due, int now, int stepMs, int catchUp, int ran);
    // 1 where RunLoop runs one pass a display frame (a browser): a pass
    // cannot wait for a due time and runs what fell due since the last
    // (catchUp 1); 0 where passes run back to back (the desktop).
    int PassPerFrame();
    // Sleeps until a millisecond before `due` (a Mills() time), mostMs at
    // most; not at all when it is over 10 s ahead, or in a browser.
    void RestUntil(int due, int mostMs);
    // Milliseconds since Begin (32-bit: wraps after 24.8 days).
    int Mills();
    // Sleeps ms milliseconds; 0 or less returns at once, as does a browser.
    // On the desktop the window's events that came meanwhile (keys, focus,
    // closing) are taken in as it ends, for the next PollInput to see.
    void Rest(int ms);
    // One update's input: reads the keyboard, mouse and pads, acts on the
    // hot keys, and computes the actions (Joy, JoyPressed...). Call it once
    // per update, before reading input. invertY 1 turns the sticks' up and
    // down over (an "invert Y" option); otherwise pass 0.
    void PollInput(int invertY);
    // Ends an update's drawing: draws the statistics line while showStats is
    // 1, then hands the update's draw list to the renderer.
    void BufferGame();
    // Draws the last finished update's list, shows it, and reads the window
    // events; then writes the canvas size into w and h: pass screenW, screenH.
    void RenderGame(float& w, float& h);
    // Keeps the music playing: call it once per loop pass. Without it a track
    // stops after its first fraction of a second (to hold it while the game
    // is paused, PauseMusic and ResumeMusic).
    void MusicHandler();
    // Full screen on the primary monitor, or back to an 800 x 600 window.
    void FlipFullscreen();
    // The title used for save names and score records (not the caption).
    void SetTitle(std::string title);
    std::string GetTitle();
    // A placeholder player name: "Enter Your Name".
    std::string MyName();
    // The processor clock (clock()) when Begin ran.
    clock_t StartTick();

    // ---- Drawing state --------------------------------------------------------------------
    // Every draw call copies the current state: set it, then draw. It lasts
    // until changed, except what ResetDraw resets.
    // Opaque white, no rotation, size 1, line thickness 1. Call it at the
    // start of every update (the loop in the template does).
    void ResetDraw();
    // Scale of shapes, images and text: 1 is natural size; negative mirrors.
    // NaN or infinite: ignored (said once).
    void SetSize(float s);
    void SetSize(float sx, float sy);
    // Rotation in degrees, clockwise, of rectangles, fans, triangles, images
    // and text (ovals, quads and lines do not turn). Any finite angle (720
    // is 0); NaN or infinite: ignored (said once).
    void SetRot(float degrees);
    // Line thickness in canvas units (below 0.05: 0.05); the scale does not
    // apply. NaN or infinite: ignored (said once).
    void SetLineThickness(float t);
    // Colour 0..255 per component (alpha 0..1 where given; otherwise kept);
    // values beyond, infinities too, are clamped; a NaN: ignored (said once).
    void SetCol(float r, float g, float b);
    void SetCol(float r, float g, float b, float a);
    // Two colours: the first along a rectangle's upper edge, the second along
    // its lower edge (an oval: rim and centre). Alphas 0..1. Clamped as
    // SetCol; a NaN: ignored (said once).
    void SetGradient(float r1, float g1, float b1, float a1, float r2, float g2, float b2, float a2);
    // Alpha 0 (invisible) .. 1 (opaque), keeping the colour; clamped; NaN:
    // ignored (said once).
    void SetAlpha(float a);
    // A palette colour, opaque: n modulo 10 of black, red, orange, yellow,
    // green, cyan, blue, purple, pink, white (negative n counts on round).
    void Ink(int n);
    // A colour by hue in degrees (0 red, 120 green, 240 blue; any finite
    // value wraps), saturation s and value v 0..1 (default 1; clamped),
    // opaque. HSV2RGB is the same with all three given. A NaN, or an
    // infinite hue: ignored (said once).
    void InkRot(float hue);
    void InkRot(float hue, float s);
    void InkRot(float hue, float s, float v);
    void HSV2RGB(double h, double s, double v);
    // 1 normal alpha blending, 2 additive, 3 colour-additive; other values
    // leave the blending as it was. Each update starts in mode 1.
    void SetBlend(int mode);
    // Texture filtering of images: 1 smooth (linear), anything else sharp
    // pixels (the default).
    void Smooth(int n);
    // The image slot that Text draws with (LoadFont sets it); a slot that
    // holds no image draws nothing, logged as DrawImg logs it.
    void SetFont(int slot);
    // The clear colour behind everything, 0..255 (clamped), at once. A NaN:
    // ignored (said once), as in the two below.
    void SetCLS(float r, float g, float b);
    // Fades the clear colour there: each render closes 1/speed of the gap
    // (speed 1 or less: at once; an infinite speed: ignored).
    void FadeCLS(float r, float g, float b, float speed);
    // A clear colour cycling with angle (degrees, finite) between lo and hi
    // (0..255, clamped).
    void SetCLSRot(float angle, float lo, float hi);

    // ---- Shapes -------------------------------------------------------------------------
    // Each queues one shape in the current colour, size and rotation. A NaN
    // or infinite argument: nothing is drawn (said once for that call), and
    // neither is a shape whose size at the current scale would overflow. A
    // negative size mirrors the shape: a rectangle, oval or circle looks the
    // same as with its absolute size, a _UL form then extends left of x (or
    // above y), Tri points its apex down.
    // Rectangle centred on (x, y), w x h (or s x s) before scaling. Plot is a
    // 1 x 1 rectangle. The _UL forms take the upper-left corner instead.
    void Rect(float x, float y, float w, float h);
    void Rect(float x, float y, float s);
    void Plot(float x, float y);
    void Rect_UL(float x, float y, float s);
    void Rect_UL(float x, float y, float w, float h);
    // Oval of full width w and height h centred on (x, y); Circle is one of
    // radius r. The _UL forms take the upper-left corner.
    void Oval(float x, float y, float w, float h);
    void Circle(float x, float y, float r);
    void Oval_UL(float x, float y, float w, float h);
    void Circle_UL(float x, float y, float r);
    // A circle of radius r in 36 sectors alternating the gradient's colours.
    void Fan(float x, float y, float r);
    // Four points in order; neither size nor rotation applies.
    void Quad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
    // Three points; neither size nor rotation applies.
    void FullTri(float x1, float y1, float x2, float y2, float x3, float y3);
    // A triangle inscribed in the ellipse of radii w, h around (x, y), its
    // apex up at rotation 0. Tri_Fix moves it down by e times half its
    // height (e = 0.5 centres it on y).
    void Tri(float x, float y, float w, float h);
    void Tri_Fix(float x, float y, float w, float h, float e);
    // A line of the current thickness with square ends.
    void Line(float x1, float y1, float x2, float y2);

    // ---- Images and text ------------------------------------------------------------------
    // Loads Data/<gameNumber>/<name> into slot 0..99: ".png" is added unless
    // the name ends in .png, .Png or .PNG; backslashes count as slashes. A
    // PNG no wider than `frameSize` is one image of frameSize x frameSize
    // pixels; a wider one is a sprite sheet cut into frameSize-pixel square
    // frames, numbered from 0 along each row, then row after row.
    // Transparent, whatever their alpha: magenta and cyan, the key colours,
    // and every pixel within 4 of one in each component: red and blue
    // 251..255 with green 0..4 (magenta), or red 0..4 with green and blue
    // 251..255 (cyan). A sprite meant to show cyan uses (0, 250, 255) or
    // further, as it does for magenta; other colours keep their alpha. A missing
    // or bad file logs "OMGERRORZ" and why, and leaves the slot empty; a slot
    // outside 0..99 logs "Image number out of bounds" and loads nothing.
    void LoadImg(int slot, std::string name, int frameSize);
    // LoadImg with 32-pixel frames, then SetFont(slot). A font is a sheet
    // whose frame n shows character 32 + n (space, !, " ... as in ASCII).
    void LoadFont(int slot, std::string name);
    // Draws frame `frame` of the slot centred on (x, y), in the current
    // colour (white draws it as it is), alpha, size and rotation; at size 1
    // a frame of N pixels covers N canvas units. A frame out of
    // range draws frame 0; an empty slot draws nothing and logs
    // "Missing Image <slot>" once (until the slot changes). A NaN or
    // infinite position here, in DrawBlur, QuadImg and Text (align too):
    // nothing drawn (said once for that call).
    void DrawImg(int slot, float x, float y, int frame = 0);
    // DrawImg of the frame's softened (blurred) copy; a pixel buffer has
    // none and draws nothing visible.
    void DrawBlur(int slot, float x, float y, int frame = 0);
    // The frame stretched over four points given clockwise from its top-left
    // corner: top-left, top-right, bottom-right, bottom-left.
    void QuadImg(int slot, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int frame);
    // Text in the current font, colour, size and rotation, its glyphs
    // centred on the line y. align 0 starts the text at x, 1 centres it on
    // x, 2 ends it at x (align moves it left by align x half its width).
    // `extra` is accepted and has no effect.
    void Text(float x, float y, std::string s, float align = 0, float extra = 1);
    // One character, centred on x by default (align 1).
    void Text(float x, float y, char c, float align = 1, float extra = 1);
    // Width in canvas units of a text (or one character) at the current size.
    float StringWidth(std::string s);
    float StringWidth(char c);
    float CharWidth(char c);

    // ---- Pixel buffers and screenshots ------------------------------------------------------
    // Makes slot 0..100 a transparent size x size image (size 1..8192) that
    // the game paints on the CPU and draws with DrawImg (slot 100 cannot be
    // drawn). A slot or size out of range logs why once per slot and makes
    // nothing. The calls below ignore slots that are not buffers.
    void CreateBuffer(int slot, int size);
    // Clears to transparent; fills with one colour, 0..255 each.
    void BufferCLS(int slot);
    void BufferFill(int slot, int r, int g, int b, int a);
    // Sets the pixel at (x, y), pixels from the buffer's top-left, in the
    // current colour (SetCol); outside the buffer nothing happens. A NaN or
    // infinite coordinate here, in BufferLine and in BufferTile: nothing
    // painted (said once for that call). BufferFill's values are clamped to
    // 0..255.
    void BufferPlot(int slot, float x, float y);
    void BufferLine(int slot, float x1, float y1, float x2, float y2);
    // Copies frame `frame` of slot src onto buffer dst with its top-left at
    // (x, y); transparent pixels leave dst as it was.
    void BufferTile(int dst, int src, float x, float y, int frame);
    // Saves the window now as "Screenshot_<number>_<day>-<month>-<year>_
    // <h>-<m>-<s>.png" in SaveFolder() (F10 does the same while held; in a
    // browser it is offered as a download).
    void TakeScreenshot();
    // Grabs the window into image slot 102; DrawBuffer draws the grab over
    // the whole canvas (nothing, and a log line, before the first grab).
    void CopyBuffer();
    void DrawBuffer();

    // ---- Loading ahead ------------------------------------------------------------------------
    // For a staged loader that must not stall its screen. A queued load is
    // prepared on a worker thread (`prepare`, which must touch no shared
    // state) and collected on this thread (`commit`), strictly in the order
    // the loads were queued: the image table, the sound slots and the log see
    // the loads in that order and nothing of a load before its commit.
    // `due` is the caller's turn number (a loader step, say): CollectLoads(turn)
    // commits the loads due by `turn` that are prepared, and waits only for a
    // due load that fills `waitForSlot` (and those queued before it).
    // QueueImg and QueueFont are LoadImg and LoadFont split that way.
    void QueueImg(int due, int slot, std::string name, int size);
    void QueueFont(int due, int slot, std::string name);
    void QueueLoad(int due, int slot, std::function<void()> prepare, std::function<void()> commit);
    int CollectLoads(int turn, int waitForSlot = -1);   // returns the number committed
    void FinishLoads();   // waits for every queued load and commits it
    int LoadsQueued();    // queued and not committed yet
    void DropLoads();     // forgets every load not committed yet

    // ---- Input: actions -------------------------------------------------------------------------
    // The value of an action (KELP_UP .. KELP_SHOULDER_R): 0 idle .. 1 fully
    // pressed, the largest of its bound inputs and sticks (a bound pad axis
    // gives its signed value). Out of range: 0.
    float Joy(int action);
    // An action counts as pressed while its value is above KELP_PRESSED and
    // as released once it falls below KELP_RELEASED; JoyPressed and
    // JoyReleased use them, and a game comparing Joy itself can too.
    static constexpr float KELP_PRESSED = 0.5f;
    static constexpr float KELP_RELEASED = 0.3f;
    // 1 in the update whose poll first saw the action pressed (above 0.5),
    // and 1 in the update whose poll first saw it released (below 0.3) after
    // that; 0 otherwise, and for an action out of range. A press is reported
    // once however long it is held; the gap between 0.3 and 0.5 keeps a
    // wavering stick from reporting presses.
    int JoyPressed(int action);
    int JoyReleased(int action);
    // Binds an input to an action (KELP_UP ..): a key (KELP_KEY_...), a pad
    // button or axis (KelpPadButton, KelpPadAxis), or 0 for an empty entry.
    // The input leaves any action that had it; an action keeps its 16 newest
    // inputs, and one input per pad. An action out of range changes nothing.
    void SetKey(int action, int code);
    // The keyboard layout the demo uses: arrows, WASD and keypad 8/4/6/5
    // move; Z, K, Space, Return, keypad Enter are button 1; X, L, Ctrls 2;
    // C, J, Alts 3; V, I, Shifts 4; B, U and N, O the shoulders; Escape is
    // Start and Backspace Back. Added to what is bound already.
    void BindKeys();
    // The standard pad layout on all four pads: d-pad moves (the left stick
    // always does), A B X Y are buttons 1..4, the bumpers the shoulders,
    // Start is Start and Back is Back. Added to what is bound already.
    void BindPads();
    // Input code bound to `action` in binding slot 48..63 (63 the newest);
    // 0 for none or out of range.
    int KeyValue(int action, int slot);
    // Removes every binding of every action.
    void FlushKeys();
    // A code's name for the player: "[ Space ]", "Joy 1 Button 10" (pads
    // while connected), or "N/A".
    std::string KeyName(int code);
    // Key capture for a redefine screen: LockForGet makes every input held
    // now wait for its release; GetKey then returns the next newly pressed
    // key or pad button code, or -1.
    void LockForGet();
    int GetKey();

    // ---- Input: hot keys ---------------------------------------------------------------------------
    // Chooses the hot keys the framework handles (a sum of KELP_HOTKEY_...;
    // all by default). A hot key that is off does nothing and reads as up
    // in PlayKey; bind its key to an action to use it in the game.
    void SetHotKeys(int keys);
    int HotKeys();   // the current choice

    // ---- Input: keys, pads and pointer ---------------------------------------------------------------
    // A fixed table of keys, no binding needed, 1 while held: 0 up (Up, W,
    // keypad 8), 3 left (Left, A, keypad 4), 5 right (Right, D, keypad 6),
    // 8 down (Down, S, keypad 5 or 2), 10 (Z, J, Space, Return, keypad 7),
    // 11 (X, K, Ctrls, keypad 9), 12 (C, L, Shifts), 13 (V, I, Alts),
    // 14 (B, U), 15 (N, O), 64 F2, 65 F11, 66 F10, 67 F9, 68 F1, 99 Escape,
    // 100 quit (F4 or closing the window); 63 is 1 with the input focus and
    // -1 without. Types 0, 3, 5, 8 and 10..15 also read the pads' d-pads,
    // left sticks and buttons 0..5, 98 a pad's Start and 99 its Back. Out of
    // range 0..127: 0.
    int PlayKey(int type);
    // Pad `pad` (0..3, default 0): 1 while button 0..49 (KELP_PAD_A ..) is
    // down; an axis 0..47 (KELP_PAD_LEFT_X ..) as -1..1. A pad reads 0 until
    // it has once been seen at rest; absent pads and bad numbers read 0.
    int JoyDown(int button);
    int JoyDown(int button, int pad);
    float JoyAxis(int axis);
    float JoyAxis(int axis, int pad);
    // The pointer (the mouse) in canvas units. The forms with an index read
    // pointer record i (0..9; others read 0). On a touch screen (a browser)
    // record 0 is the first finger down, as the mouse, and records 1..9
    // further fingers; a record without a finger reads as up.
    float MouseX();
    float MouseY();
    float MouseX(int i);
    float MouseY(int i);
    // 1 while the left (Down) or right (Down_Alt) button is held; Held
    // counts the updates since the left button went down (0 while up).
    int MouseDown();
    int MouseDown_Alt();
    int MouseHeld();
    int MouseDown(int i);
    int MouseDown_Alt(int i);
    int MouseHeld(int i);
    // 1 while any pointer is down.
    int mdall();
    // 1 + the index of the first pointer inside the box (upper-left x, y,
    // size w x h, edges included; the _Centered form takes its centre) or
    // the circle of radius r, or 0 if none.
    int MouseIn(float x, float y, float w, float h);
    int MouseIn_Centered(float cx, float cy, float w, float h);
    int MouseIn_Radius(float x, float y, float r);
    // Draws the image frame at (x, y) as DrawImg does, and returns 1 + the
    // index of a pointer held down on it, or 0. Slots outside 0..99: 0.
    int Button(int image, float x, float y, int frame);

    // ---- Sound and music ---------------------------------------------------------------------------------
    // Loads an effect into slot 0..104: LoadSFX(n) reads
    // Data/<gameNumber>/audio/<nn>.wav (two digits), LoadSFX(slot, name)
    // audio/<name>, adding ".wav" unless it ends in .wav, .Wav or .WAV.
    // WAV files of 8- or 16-bit PCM, mono or stereo, play (plain or
    // WAVE_FORMAT_EXTENSIBLE headers). A missing or
    // refused file, or a slot out of range, is logged and leaves the slot
    // empty.
    void LoadSFX(int n);
    void LoadSFX(int slot, std::string name);
    // Plays effect slot n once, at pitch 0.25..16 (1 as recorded; default a
    // random 0.8..1.2), volume 0..1 times sfxVolume (0..1), pan -1 (left) ..
    // 1 (right). Each is clamped into its range, infinities too; a NaN in
    // any of them, sfxVolume included, plays nothing (said once). loop 1
    // repeats it until its source is reused: effects share 31 sources in
    // turn, so the 31st effect after it cuts it off. An empty slot plays
    // nothing; a slot out of range also logs it once.
    void PlaySFX(int n);
    void PlaySFX(int n, float pitch);
    void PlaySFX(int n, float pitch, float volume);
    void PlaySFX(int n, float pitch, float volume, float pan);
    void PlaySFX(int n, float pitch, float volume, float pan, int loop);
    // Streams Data/<gameNumber>/audio/<name> in place of the track playing;
    // the name must end in .ogg or .wav (also .Ogg, .OGG, .Wav, .WAV). loop 1
    // (the default) starts it again at its end. A name with another ending
    // is logged and changes nothing; a missing or refused file is logged and
    // leaves no track playing. Call MusicHandler once per loop pass.
    void PlayMusic(std::string name);
    void PlayMusic(std::string name, int loop);
    // Ends the track: what is queued (well under a second) plays out; a
    // paused track ends at once, silent.
    void StopMusic();
    // Pauses the track where it is, at once; MusicHandler then keeps it
    // paused (call it as always). ResumeMusic goes on with the very next
    // sample. A new track (PlayMusic) starts playing, paused or not. Without
    // a track, or twice in a row, nothing more happens.
    void PauseMusic();
    void ResumeMusic();
    // The track's own volume 0..1, pitch 0.25..4 and pan -1..1; each new
    // track starts at 1, 1 and 0, so set them after PlayMusic. Values out of
    // range (infinities too) are clamped; a NaN keeps the setting (said
    // once). musicVolume is clamped to 0..1 too, and a NaN there keeps the
    // last volume heard (said once).
    void MusicVolume(float v);
    void MusicPitch(float p);
    void MusicPan(float p);

    // ---- Files --------------------------------------------------------------------------------------------
    // The folder that WriteFile, ReadFile and screenshots use: the data root,
    // unless it exists and cannot be written (a game installed under
    // /usr/games, a read-only copy). Then it is the player's data folder,
    // named after the program's file and made when first needed: the first
    // that can be written of $XDG_DATA_HOME/<program>/, ~/.local/share/
    // <program>/ and, as a last resort, <program>/ in a folder of the user's
    // own in the system's temporary folder ($TMPDIR or /tmp: kelp-<user
    // id>/), which a restart may empty. The log says once which, and why
    // each one before it could not be used. When none can, it stays the data
    // root and saves fail (the log says so). Assets are always read from
    // the data root, and ReadFile reads there a file the player's folder
    // does not hold yet. Chosen again whenever dataRoot changes; the text
    // stays valid until then.
    const char* SaveFolder();
    // One file at a time, named relative to SaveFolder() (no folders are
    // made); opening another closes the first. WriteFile returns 1 when the
    // file is open for writing: it is written under a name of its own
    // ("<name>.<process id>.tmp") and renamed over `name` at CloseFile, so an
    // interrupted save never leaves half a file; something at `name` that is
    // not a regular file (a folder, a FIFO, a device) is moved aside first,
    // as MoveAside does. ReadFile opens regular files only and returns 1
    // when open for reading; when it fails (0) it prints "Error Reading File"
    // and logs why: no save yet (not found), a file that is not a regular
    // file and was skipped, or the system's reason.
    int WriteFile(std::string name);
    int ReadFile(std::string name);
    // Items in order: an int is 4 bytes, little-endian; a line is its text
    // and a line feed. Writes and reads with no file open do nothing and
    // read 0 (ReadLine: an empty text).
    void WriteInt(int v);
    void WriteByte(char c);
    void WriteLine(std::string s);
    void WriteString(std::string s);
    // -37171 when fewer than 4 bytes are left: accept values of -37170 up.
    int ReadInt();
    // A byte 0..255, or -1 at the end of the file.
    int ReadByte();
    // The next line without its line feed.
    std::string ReadLine();
    // The next line into the next buffer of fstr's ring; returns its index
    // 0..29 (the text is TempText(index)).
    int ReadString();
    // Closes (and, for a written file, puts it in place). A file still open
    // at Terminate is closed and kept.
    void CloseFile();
    // Moves the file (or whatever is) at `name` in SaveFolder() aside, to
    // keep a save the game cannot use: to the first free name of
    // "<name>.bad", "<name>.2.bad", "<name>.3.bad" ... "<name>.999.bad",
    // never over anything already there. Returns the path it now has, or ""
    // (nothing there, no free name, the system's refusal), which the log
    // explains.
    std::string MoveAside(std::string name);

    // ---- Strings and the log ----------------------------------------------------------------------------------
    // printf into the next of 30 buffers of 16 KB (longer text is cut): the
    // result stays valid until 30 more fstr-style calls. tstr formats the
    // same way and returns nothing: its text is TempText(-1).
    const char* fstr(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void tstr(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The text in buffer `slot` (0..29) of that ring; -1: the one written
    // last. Any other number reads "".
    const char* TempText(int slot);
    // One numbered line on standard output ("      12> text"); return 1.
    int Debuglog(const char* text);
    // Hex "%X"; Bin base-2 digits; and back (0 for no digits). StrToInt
    // reads a decimal number (atoi).
    std::string Hex(int v);
    std::string Bin(int v);
    int HexToInt(std::string s);
    int BinToInt(std::string s);
    int StrToInt(std::string s);
    // The parts before and after the first '='; "-=+=-" without one.
    std::string iniLeft(std::string s);
    std::string iniRight(std::string s);
    // Without leading and trailing blanks (bytes 0..32 and 128..255).
    std::string Trim(std::string s);
    // count bytes from byte `start` (0-based), the first or last count bytes;
    // clamped to the text.
    std::string Mid(std::string s, int start, int count);
    std::string Left(std::string s, int count);
    std::string Right(std::string s, int count);
    // Padded with `fill` to `width` bytes: LeftPad puts s on the left,
    // RightPad on the right; a longer s is cut to its first (LeftPad) or
    // last (RightPad) width bytes. The result stays under 1024 bytes.
    std::string LeftPad(std::string s, unsigned width, char fill);
    std::string RightPad(std::string s, unsigned width, char fill);
    // Without spaces.
    std::string Strip(std::string s);
    // Up to six letters packed into one int (case ignored; others as 0), and
    // back to 6, 12 or 18 characters.
    int SixDigitString(std::string s);
    std::string SixDigitString(long a);
    std::string SixDigitString(long a, long b);
    std::string SixDigitString(long a, long b, long c);
    // Run-length packing of text and its inverse.
    std::string JNKrunch(std::string s);
    std::string JuNKrunch(std::string s);
    // Field n (from 1) of s cut at `delimiter`, "-=+=-" past the last;
    // SplitCount is the number of fields.
    std::string Split(std::string s, char delimiter, int n);
    int SplitCount(std::string s, char delimiter);
    // A checksum 0..3716 of the text with a key (default: gameNumber).
    unsigned Checksum(std::string s, int key);
    unsigned Checksum(std::string s);
    // "1st", "2nd", "3rd", "4th" ... in the fstr ring.
    const char* nth(int n);

    // ---- Maths, random numbers, collisions ------------------------------------------------------------------
    float Sin(float degrees);
    float Cos(float degrees);
    // Remainder of a / b with the sign of a (NaN for b = 0).
    float Mod(float a, float b);
    float Abs(float v);
    int Abs(int v);
    // v kept within lo..hi (lo when v is NaN or lo > hi).
    float Clamp(float v, float lo, float hi);
    // a + (b - a) t: a at t = 0, b at t = 1 (t is not clamped).
    float Lerp(float a, float b, float t);
    // Distance between two points; the length of (a, b).
    float Dist(float x1, float y1, float x2, float y2);
    float Pyth(float a, float b);
    // The signed turn from angle `from` to `to` on a circle of lo..hi
    // (degrees 0..359 by default): positive is clockwise.
    float WhichWayDoIGo(float from, float to, float lo = 0, float hi = 359);
    // The seeded generator: the same seed (and game number) gives the same
    // sequence. Begin seeds it from the clock.
    void SeedRnd();
    void SeedRnd(int seed);
    // A float in [lo, hi) (lo 0 when not given), and an int in lo..hi with
    // both ends included.
    float Rnd(float hi);
    float Rnd(float lo, float hi);
    int Rand(float hi);
    int Rand(float lo, float hi);
    // The same from the clock, leaving the seeded sequence alone.
    float tRnd(float hi);
    float tRnd(float lo, float hi);
    int tRand(float hi);
    int tRand(float lo, float hi);
    // 1 on a hit, touching included, else 0. Rectangles are centre and size.
    // Collide_Line_Line puts the crossing point in LastColPointX/Y (the
    // point and circle tests set it to -3717). The _Complex form misses a
    // cross-shaped overlap, where neither has a corner inside the other.
    int Collide_Point_Circle(float px, float py, float cx, float cy, float r);
    int Collide_Circle_Circle(float x1, float y1, float r1, float x2, float y2, float r2);
    int Collide_Line_Line(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
    int Collide_Rect_Rect(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2);
    int Collide_Rect_Rect_Complex(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2);

    // ---- Date and time ------------------------------------------------------------------------------------------
    // Local time: day 1..31, month 1..12, year (2026), hour 0..23, minute
    // 0..59, second 0..60; as text "06/12/2026", "23:05:09",
    // "06/12/2026 23:05:09" and, for file names, "06-12-2026_23-05-09".
    int Date_Day();
    int Date_Month();
    int Date_Year();
    int Time_Hour();
    int Time_Minute();
    int Time_Second();
    std::string Date_str();
    std::string Time_str();
    std::string DateTime_str();
    std::string DateTime_file();

    // ---- Web and score records -----------------------------------------------------------------------------------
    // GET http://<host><path><value> on port 80, with the value escaped, and
    // return what the answer holds between "[-\r\nData-]" and "[-\r\nEnd-]"
    // ("" when no whole answer arrived: an unknown or empty host, no
    // connection, a cut or late answer; the log says why). It blocks the
    // loop: 3 s at most to connect, to send, for the first part of the
    // answer and for each further one, 10 s for the whole answer. In a
    // browser it never blocks: it returns the last answer that has arrived.
    std::string GetURL(std::string host, std::string path, std::string value);
    // The same request without ever holding the game: RequestURL starts it
    // and returns at once, 1 when it started, 0 when one is still under way
    // (then nothing is sent: one at a time; in a browser GetURL's request
    // counts too, as a page has one at a time). It runs on a thread of its
    // own on the desktop (in a browser as GetURL's does), with GetURL's
    // bounds, escaping and reading of the answer. URLPending is 1
    // while it is under way, 0 once it has ended (or none was started); the
    // log then says why it failed, if it did. URLAnswer is "" while it is
    // under way, then its answer: the data between the markers, or "" when
    // none came whole. Check them once an update; a request still under way
    // at Terminate is stopped.
    int RequestURL(std::string host, std::string path, std::string value);
    int URLPending();
    std::string URLAnswer();
    // Opens a web page in the player's browser.
    void OpenBrowser(std::string url);
    // The scramble of score records: a keyword and the game number set it;
    // UnscrambleTxt undoes ScrambleTxt for printable text.
    void SetKeyword(std::string keyword);
    void SetNum(int n);
    int GetNum();
    std::string ScrambleTxt(std::string text);
    std::string UnscrambleTxt(std::string text);
    std::string EscapeValue(std::string value);   // GetURL's escaping of the value

    // ---- Other names --------------------------------------------------------------------------
    // Calls known by two names: each is the same call as the one it names.
    void Width(float t);                      // SetLineThickness
    void Thick(float t);                      // SetLineThickness
    void SetLineWidth(float t);               // SetLineThickness
    void SetLineThick(float t);               // SetLineThickness
    void Alpha(float a);                      // SetAlpha
    void SetSmooth(int n);                    // Smooth
    void CLS(float r, float g, float b);      // SetCLS
    void Oval(float x, float y, float r);     // Circle
    void Oval_UL(float x, float y, float r);  // Circle_UL
    int PlayKeyAll(int type);                 // PlayKey
    float TouchX();                           // MouseX
    float TouchY();                           // MouseY
    float TouchX(int i);                      // MouseX
    float TouchY(int i);                      // MouseY
    int TouchDown();                          // MouseDown
    int TouchDown_Alt();                      // MouseDown_Alt
    int TouchHeld();                          // MouseHeld
    int TouchDown(int i);                     // MouseDown
    int TouchDown_Alt(int i);                 // MouseDown_Alt
    int TouchHeld(int i);                     // MouseHeld
    int Print(const char* text);              // Debuglog
    int DebugLog(const char* text);           // Debuglog
    int Debug(const char* text);              // Debuglog
    int ToInt(std::string s);                 // StrToInt

private:
    // The framework's own bookkeeping of this object: the temporary-string
    // ring, the scramble key, the rate samples.
    kelp::CoreState* state_;
    friend kelp::CoreState& kelp::StateOf(KELPCore& game);
};
