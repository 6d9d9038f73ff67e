// KELPSys - the platform layer: window and canvas, renderer, image and sound
// loading, device polling, music streaming, raw file access and sockets.
//
// Everything lives in fixed-size arrays inside the one global object `ASys`
// and in named globals beside it. Game code never reaches this layer
// directly; KELPCore forwards to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct GLFWwindow;
struct GLFWgamepadstate;

namespace kelp {

struct WebAnswer;

// ---- Sizes ----------------------------------------------------------------
enum {
    CMD_SLOTS = 30,          // doubles per draw command
    DRAW_LIST_MAX = 16666,   // write list (filled during an update)
    RENDER_LIST_MAX = 50000, // render list (drawn by the renderer)
    IMAGE_SLOTS = 105,
    SFX_SLOTS = 105,
    AL_SOURCES = 32,
    KEY_NAMES = 350,
};

// Draw command kinds.
enum {
    CMD_RECT = 1, CMD_QUAD = 2, CMD_OVAL = 3, CMD_LINE = 4, CMD_FAN = 5, CMD_TRI = 6,
    CMD_IMAGE = 11, CMD_QUADIMAGE = 12, CMD_BLUR = 13, CMD_BLEND = 50,
    CMD_KINDS = 51,          // kinds are below this
};

// One draw command: 30 values in this order, the kind first. Positions are
// canvas units relative to the window's centre. Box kinds (rectangle, oval,
// fan, image, blurred image) are a centre (x, y) and a scaled size (w, h);
// point kinds (quadrilateral, line, triangle, textured quadrilateral) are
// up to four points: (x, y), (w, h), (x3, y3), (x4, y4). alpha1 .. pad23
// are the drawing state when the command was made. A draw call writes its
// own fields only: the others keep what the list held before.
struct DrawCommand {
    double kind;
    double x, y, w, h, x3, y3, x4, y4;
    double pad9;                                      // always 0
    double alpha1, red1, green1, blue1;               // colour 1, 0..255
    double alpha2, red2, green2, blue2;               // colour 2
    double rot;                                       // degrees
    double lineHalf;                                  // half the line thickness (carried)
    double pad20;                                     // always 0
    double sizeX, sizeY;                              // the state's scale (carried)
    double pad23[5];                                  // always 0
    double image, frame;                              // image kinds: slot and frame

    // A blend change (CMD_BLEND) carries its mode where others have x.
    double BlendMode() const { return x; }
    void SetBlendMode(int mode) { x = mode; }
    // Point 2 of the point kinds is where box kinds keep their size.
    double X2() const { return w; }
    double Y2() const { return h; }
};
static_assert(sizeof(DrawCommand) == CMD_SLOTS * sizeof(double), "a command is 30 values");
static_assert(offsetof(DrawCommand, x) == 1 * sizeof(double) && offsetof(DrawCommand, x4) == 7 * sizeof(double) &&
                  offsetof(DrawCommand, alpha1) == 10 * sizeof(double) &&
                  offsetof(DrawCommand, rot) == 18 * sizeof(double) &&
                  offsetof(DrawCommand, sizeX) == 21 * sizeof(double) &&
                  offsetof(DrawCommand, image) == 28 * sizeof(double) &&
                  offsetof(DrawCommand, frame) == 29 * sizeof(double),
              "the values keep their places");

// An image decoded and laid out as a slot holds it, with the log lines its
// load writes, but not yet in any slot. PrepareImage makes one and touches
// no shared state, so it may run on any thread; KELPSys::CommitImage puts it
// into a slot on the main thread. GetPNG does both at once.
struct PreparedImage {
    int32_t frames = -1;          // -1: the load failed, nothing to put in
    int32_t framesW = 0, edge = 0, frameSize = 0;
    float framesWz = 0;
    int32_t unitEdge = 0;         // cell (or image) edge: the slot's unit is this / virtualW
    std::vector<unsigned char> plane, blur;
    std::vector<std::string> log;
    double decodeMs = 0, packMs = 0, fringeMs = 0, blurMs = 0;   // where the time went
};
PreparedImage PrepareImage(const char* path, unsigned size);
// The edge of the plane PrepareImage(path, size) will make, read from the
// file's header alone; 0 when that cannot be told or the load would be
// refused. Touches no shared state.
unsigned PlannedPlaneEdge(const char* path, unsigned size);

// The PNG codec behind PrepareImage and the screenshots, 8-bit RGBA: LodePNG
// (sys/PNG.cpp), or in a browser stb_image (sys/web/PNG.cpp). Each returns 0
// or an error code that PngErrorText describes; none touches shared state
// but the codec's own, so loads may be prepared on another thread.
unsigned PngLoadFile(std::vector<unsigned char>& file, const char* path);
unsigned PngInspect(const std::vector<unsigned char>& file, unsigned& width, unsigned& height);
unsigned PngDecode(std::vector<unsigned char>& rgba, unsigned& width, unsigned& height,
                   const std::vector<unsigned char>& file);
const char* PngErrorText(unsigned err);
unsigned PngSave(const char* path, const std::vector<unsigned char>& rgba, unsigned width, unsigned height);

// The main loop: pass(arg) runs until it returns 0, then done(arg) once.
// On the desktop this loops and returns after done (sys/Loop.cpp); in a
// browser each pass is one frame and the call never returns (sys/web/Loop.cpp).
void SysRunLoop(int (*pass)(void*), void (*done)(void*), void* arg);
// 1 where SysRunLoop runs one pass a display frame (a browser), 0 where it
// runs passes back to back (the desktop). A pass a frame cannot wait for a
// due time: it runs whatever has fallen due since the frame before.
extern const int SysPassPerFrame;

class KELPSys {
public:
    KELPSys();
    ~KELPSys();

    // ---- Draw list and drawing state -------------------------------------
    // drawList is the first member: it is filled during an update and
    // copied to DrawR at the commit.
    DrawCommand drawList[DRAW_LIST_MAX];
    int32_t drawCount;
    // The 16 state values copied into alpha1 .. pad23 of every command.
    float alpha1, red1, green1, blue1, alpha2, red2, green2, blue2;
    float rot, lineHalf, stateReserved0, sizeX, sizeY, stateReserved1, stateReserved2, stateReserved3;
    float clsCurrent[3], clsTarget[3], clsSpeed, smooth;
    int32_t curBlend, curFont;
    int32_t droppedCommands;   // commands refused this update because the list was full

    // Returns the next free command of drawList, or null when the list is
    // full (the drop is counted and reported once per update).
    DrawCommand* NewCommand();
    // Copies the drawing state into the command and advances drawCount.
    void CopyState(DrawCommand& cmd);
    // The copy step of the commit: drawList -> DrawR.
    void RenderBuffer();

    // ---- Window and canvas -------------------------------------------------
    GLFWwindow* window;
    char GameTitleSys[1024];
    int32_t isFullscreen;
    int32_t fbWidth, fbHeight;
    float aspect;
    float virtualW, imageScale;
    float centreX, centreY;
    int32_t rw2, rh2, iBump;
    float ViewScale, OverscanScaleX, OverscanScaleY;
    int32_t polyCount;        // triangles drawn by the last render
    int32_t windowFailed;     // 1 when no window could be created at all

    void SysInit(const char* title);
    void SetScreen(int width, int height);
    void FlipFull();
    void Close();
    void HiResRender();
    void Force1920();
    // The canvas computation that follows every render: screenW/screenH
    // are the game's canvas size; the rest is this object's state.
    void ComputeCanvas(float& screenW, float& screenH);

    // ---- Renderer ------------------------------------------------------------
    void RenderSys(float overscan);
    // One function a kind, called through a table by kind; image kinds
    // repair an out-of-range frame in the command itself (it draws frame 0).
    void RenderRect(DrawCommand& c);
    void RenderQuad(DrawCommand& c);
    void RenderTri(DrawCommand& c);
    void RenderOval(DrawCommand& c);
    void RenderFan(DrawCommand& c);
    void RenderLine(DrawCommand& c);
    void RenderImage(DrawCommand& c);
    void RenderQuadImage(DrawCommand& c);
    void RenderImageBlur(DrawCommand& c);
    void RenderBlend(DrawCommand& c);
    // The GL context is gone (window re-created or closed), and every texture
    // object with it: the next render makes and uploads them again.
    void ForgetTextures();
    // Draws (off screen, on the window about to be shown) what makes the GL
    // driver prepare each state the renderer uses, so that the first frames
    // do not pay for it.
    void WarmRenderer();
    // A load queued for a slot will bring an edge x edge pixel plane: the
    // next render makes its texture storage, and once the load has arrived
    // the renders after it upload the plane ahead of its first draw, a band
    // a frame. Slots 0..99; an edge of 0 or less withdraws the promise.
    void ReserveTexture(int slot, int edge);

    // ---- Images, pixel buffers, screenshots ---------------------------------
    // Marks every image slot empty; called once at platform start-up.
    void ResetImageTable();
    void GetPNG(int slot, const char* path, unsigned size);
    // Logs a prepared load's lines and moves its planes into the slot.
    void CommitImage(int slot, PreparedImage& img);
    void Buffer_Create(int slot, int size);
    void Buffer_Fill(int slot, int r, int g, int b, int a);
    void Buffer_Plot(int slot, float x, float y, float r, float g, float b, float a);
    void Buffer_Line(int slot, float x1, float y1, float x2, float y2, float r, float g, float b, float a);
    void Buffer_Tile(int dst, int src, float x, float y, int frame);
    char ScreenshotName[4200];   // large enough for any data root
    void Screenshot();
    void GrabBuffer();
    void SavePNG(const char* name, int slot, unsigned width, unsigned height);

    // ---- Input ---------------------------------------------------------------
    int32_t Button[128];
    float Touch[10][10];
    float Joy[4][100];
    int32_t redef[64][16];
    float Keyv[128];

    void PollInputB(int invertY);
    void PollRedef();
    int AnyKey();
    void LockAll();
    void DefineKey(int action, int code);
    void ClearKeys();
    std::string ButtonName(int code);
    void FlushKeys();
    void FillKeyNames();
    int IsBut(int i) { return Button[i]; }
    float vKey(int i) { return Keyv[i]; }
    float vKey(int i, int group) { return Keyv[i + 16 * group]; }
    // Stores one joystick's state into Joy[j] with the seen-at-rest gate;
    // PollInputB calls it with what GLFW reports, tests call it directly.
    // gamepad 1: the state is in the standard gamepad layout (triggers on
    // axes 4 and 5); 0: GLFW's raw numbering of an unknown device.
    void StoreJoystick(int j, int present, const char* name, const float* axes, int axisCount,
                       const unsigned char* buttons, int buttonCount, int invertY, int gamepad = 0);

    // ---- Audio ---------------------------------------------------------------
    int32_t musicMode;        // 0 none, 1 WAV stream, 2 Ogg stream, MUSIC_WAITING for its file
    int32_t musicLoop;
    int32_t musicNextBuffer;
    float trackPitch, trackVolume, trackPan;
    float musicMaster;
    int32_t musicPaused;      // 1 between PauseMusicSys and ResumeMusicSys (or a new track)

    // Device, context, 32 sources, 4 music buffers, listener (start-up), and
    // their release (shut-down); called by SysInit and Close.
    void AudioStart();
    void AudioClose();
    void GetWAV(int slot, const char* path);
    void PlayWAV(int slot, float pitch, float gain, float pan, int loop);
    void PlayMusic_Wav_Sys(const char* path, int loop);
    void PlayMusic_Ogg_Sys(const char* path, int loop);
    void BufferMusic_Wav_Sys();
    void BufferMusic_Ogg_Sys();
    void HandleMusicSys();
    void StopMusicSys();
    // The track held where it is, silent, and taken up again from there; a
    // paused track is neither refilled nor restarted by HandleMusicSys.
    void PauseMusicSys();
    void ResumeMusicSys();
    // StopMusic's end of the stream: no more buffers; what is queued plays
    // out, unless the track was paused, which ends it at once.
    void EndMusicSys();

    // ---- Record files ----------------------------------------------------------
    int WriteFile_Sys(const char* path);
    int ReadFile_Sys(const char* path);
    void WriteInt_Sys(int v);
    void WriteByte_Sys(char c);
    void WriteString_Sys(const char* s);
    int ReadInt_Sys();
    int ReadByte_Sys();
    const char* ReadString_Sys();
    void CloseFile_Sys();

    // ---- Where files are ------------------------------------------------------
    // The running program's own file, links resolved (/proc/self/exe); ""
    // where the system does not say (a browser).
    static std::string ProgramFile();
    // 1 when `path` names a folder (or a link to one).
    static int IsFolder(const std::string& path);
    // 1 when something (a file, a folder, anything a link leads to) is at `path`.
    static int PathExists(const std::string& path);
    // 1 when the folder exists but this process may not create files in it
    // (a read-only copy, a system folder); 0 when it may, or when there is
    // no such folder.
    static int FolderReadOnly(const char* folder);
    // The player's data folder of a game: the first of these that can be
    // made (with any missing parents, private to the player: mode 0700) and
    // written: $XDG_DATA_HOME/<game> when that variable holds an absolute
    // path; $HOME/.local/share/<game> (the home from the password database
    // when HOME is unset); and, as a last resort, <tmp>/kelp-<uid>/<game> in
    // the system's temporary folder ($TMPDIR when absolute, else /tmp), a
    // folder of this user's own. Each one passed over adds a line to
    // `refused` ("<folder>: <why>"); `temporary` says the last was taken.
    // "" when none could be.
    static std::string PlayerDataFolder(const std::string& game, std::vector<std::string>& refused,
                                        bool& temporary);
    // Moves what is at `path` aside to the first free name of "<path>.bad",
    // "<path>.2.bad", "<path>.3.bad" ... (up to .999.bad), never replacing
    // anything there. Returns the name it took, or "" with the reason in
    // `why`.
    static std::string MoveAside(const std::string& path, std::string& why);

    // ---- Web -------------------------------------------------------------------
    std::string webResult;
    int32_t webPort;          // 80; a test build may point the game elsewhere
    void URLData(const std::string& host, const std::string& pathAndQuery);
    // Hands a URL to the system's browser.
    void OpenBrowser_Sys(const char* url);
    // The data block of an answer is at most this long; a longer one is a
    // failure (a flooding server could otherwise fill the memory).
    static const size_t kWebAnswerMax = 65536;
    // How an exchange ended, said on the log (through the failure log below)
    // and, for a whole answer, its data put in webResult; webResult is
    // emptied by any failure. nowMs is the exchange's clock.
    void EndWebExchange(const std::string& host, int result, const WebAnswer& answer, int64_t nowMs);
    // The same, with the answer put in `into` instead of webResult.
    void EndWebExchange(const std::string& host, int result, const WebAnswer& answer, int64_t nowMs,
                        std::string& into);
    // A request that never holds the game (RequestURL): the same exchange,
    // the same bounds and the same answer, on a thread of its own on the
    // desktop (the page's own request in a browser). StartURLData returns 1
    // when it started one, 0 when one is still under way (nothing is sent).
    // URLUnderWay is 1 while it is; once it has ended, its outcome is said
    // on the log there, on the main thread, and its answer is in urlAnswer
    // (empty for a failure). EndURLData stops one under way (Close).
    int StartURLData(const std::string& host, const std::string& pathAndQuery);
    int URLUnderWay();
    void EndURLData();
    std::string urlAnswer;
    // A request that keeps failing (the server down while the game sends on
    // every update) is logged once a second at most: the first failure at
    // once, the ones within the next second folded as a count into the next
    // line. `plain` lines are printed as they are, others as log lines.
    void WebFailed(int64_t nowMs, const std::string& text, bool plain = false);
    int64_t webLastFailureLine = 0;
    int webFailuresUnsaid = 0;
    bool webFailureSaid = false;

    // ---- Log and text ------------------------------------------------------------
    static void Debuglog(const char* text);
    // Debuglog of a printf text, once for each (topic, number): for a fault
    // that a game may repeat on every frame, such as a slot out of range.
    // The text is formatted only when it is said.
    static void DebuglogOnce(const char* topic, int number, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    // True the first time it is asked about (topic, number), for a report
    // that is more than one Debuglog line.
    static bool FirstReport(const char* topic, int number);
    // The next DebuglogOnce of that topic is said again, whatever its number.
    static void ForgetLogged(const char* topic);
    static const char* fstrSys(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static std::string SystemUsername();
};

extern KELPSys ASys;

// ---- Globals of the platform layer ----------------------------------------
// Render list and render-time state.
extern DrawCommand DrawR[RENDER_LIST_MAX];
extern int32_t DrawToRT;
extern int32_t TexUse, TriCount, RenderMode, Wireframe;
extern unsigned char WhiteBlock[256];
extern int32_t TexUploads;    // texture uploads in the last render (statistics, tests)
// The window's framebuffer size as its events last reported it, so that a
// render need not ask the display server (a round trip, a wait while the
// server is busy with the last frame) every time; -1 while nothing keeps it,
// and the render then asks.
extern int32_t FramebufferSeenW, FramebufferSeenH;
extern int32_t TexBatches;    // triangle batches started in the last render
// Source keys (TexUse values) of the first TEX_UPLOAD_LOG uploads and batch
// starts of the last render.
enum { TEX_UPLOAD_LOG = 64 };
extern int32_t TexUploadKeys[TEX_UPLOAD_LOG];
extern int32_t TexBatchKeys[TEX_UPLOAD_LOG];

// Image table (slots 0..104).
extern std::vector<unsigned char> Image[IMAGE_SLOTS];
extern std::vector<unsigned char> ImageBlur[IMAGE_SLOTS];
extern int32_t imageFrames[IMAGE_SLOTS];
extern int32_t iFramesW[IMAGE_SLOTS];
extern float iFramesWz[IMAGE_SLOTS];
extern int32_t iSize[IMAGE_SLOTS];
extern int32_t imageFrameSize[IMAGE_SLOTS];
extern float imageUnit[IMAGE_SLOTS];
// Moves on whenever a slot's pixel or blur plane changes; the renderer
// uploads a slot's planes again when their version is not the one it last
// uploaded. Whatever writes a plane calls ImageChanged afterwards.
extern uint32_t imageVersion[IMAGE_SLOTS];
void ImageChanged(int slot);
extern int32_t imageMissingLogged[IMAGE_SLOTS];   // 1: "Missing Image" said since the slot last changed
// Storage promised to a slot's pixel plane by a load queued for it
// (ReserveTexture): the plane's edge (0: none), and the slot's version when
// it was promised, so that the load's arrival shows as a new version. The
// renderer makes the storage and withdraws the promise once it is kept.
extern int32_t ReservedEdge[IMAGE_SLOTS];
extern uint32_t ReservedAt[IMAGE_SLOTS];
// GL's largest texture edge, read when a window opens; 0 until then. Atomic:
// the loading thread reads it while preparing planes.
extern std::atomic<int32_t> MaxTextureEdge;
extern int32_t fontw[132];

// Clock. The millisecond clock behind Mills and the sleep behind Rest: a
// monotonic clock and a real sleep. Tests point them at a clock they drive,
// so that what the loop decides about time holds at any machine speed.
extern int64_t (*ClockNowMs)();
extern void (*ClockSleepMs)(int ms);

// Input.
extern int32_t ignorePress[1024];
extern int32_t UpdateFrames;
extern int32_t DebugToggle;
extern std::string KeyName[KEY_NAMES];
// The hot keys the poll acts on, a sum of the bits below (all by default).
// A hot key whose bit is clear does nothing, and its Button entry stays 0.
enum {
    HOTKEY_F1 = 1, HOTKEY_F4 = 2, HOTKEY_F9 = 4, HOTKEY_F10 = 8, HOTKEY_F11 = 16, HOTKEY_PRESETS = 32,
    HOTKEY_ALL = 63,
};
extern int32_t HotKeysOn;
// Where the poll reads the keyboard and the mouse: GLFW's state of the
// window (nothing while there is none). Tests point them at their own state.
extern int (*InputKeyDown)(int key);
extern int (*InputPointer)(double* x, double* y, int* left, int* right);  // 0: nothing to read
extern int (*InputFocused)();  // 1 while the window has the input focus
// Touch points beyond the first, for pointer records 1..9 (the first drives
// record 0 through InputPointer): 1 with the point's position in framebuffer
// pixels and whether it is down (a lifted finger reports its release once),
// 0 when no finger is on record i. Null where there are no touch points:
// those records are left alone.
extern int (*InputTouch)(int i, double* x, double* y, int* down);
// Set by test builds: every poll that sees a different set of keys down logs
// it ("Trace keys: 90 265"), and a change of focus too ("Trace focus: 0"),
// so that a test can hold a key exactly until the game has read it, and
// release it once the release has been read too.
extern int32_t TraceInput;
// Where the poll reads the joysticks: GLFW's joystick functions, called only
// while GLFW runs (a window implies it). Tests put their own devices in
// their place; every member has the signature of the GLFW function it
// stands for.
struct JoystickReader {
    int (*present)(int jid);                                 // glfwJoystickPresent
    const char* (*name)(int jid);                            // glfwGetJoystickName
    const float* (*axes)(int jid, int* count);               // glfwGetJoystickAxes
    const unsigned char* (*buttons)(int jid, int* count);    // glfwGetJoystickButtons
    int (*isGamepad)(int jid);                               // glfwJoystickIsGamepad
    int (*gamepadState)(int jid, GLFWgamepadstate* state);   // glfwGetGamepadState
};
extern JoystickReader InputJoystick;

// Audio.
// Where the start-up gets its device (an ALCdevice*) and the attributes of
// its context: the default output device with its own settings. Tests open
// a loopback device instead and render its output themselves, so what they
// hear does not depend on how busy the machine is.
extern void* (*AudioOpenDevice)();
extern const int* AudioContextAttributes;
extern void* ALdev;           // ALCdevice*
extern void* ALctx;           // ALCcontext*
extern int32_t AudioEnabled;
extern uint32_t ALsource[AL_SOURCES];
extern int32_t ALsourcebuffer[AL_SOURCES];
extern int32_t ALChannel;
extern uint32_t ALbuffer[SFX_SLOTS];
extern int32_t ALbufferActive[SFX_SLOTS];
extern uint32_t MusicBuffer[4];
extern int32_t MusicBufferTick;
extern int32_t MusicBufferStats[10];
extern FILE* MusicFile;
extern long MusicFileBegin;
extern void* OggFile;         // OggStream* (sys/Ogg.h)
// Whether a file that is missing now is still on its way: a page fetches its
// music after its start, and a track that asks for it before it has come
// waits for it (musicMode MUSIC_WAITING) instead of failing. Null where every
// file is there from the start.
extern int (*FileArriving)(const char* path);
enum { MUSIC_WAITING = 3 };

// What the WAV reader found in a file: the sound effect loader and the music
// stream both go through ParseWAV, so a file is judged the same way by both.
struct WavInfo {
    int32_t format;           // AL_FORMAT_MONO8 .. AL_FORMAT_STEREO16
    int32_t channels, rate, bits;
    long dataOffset;          // first byte of the last "data" chunk's samples
    long dataSize;            // bytes of whole sample frames in that chunk
};
// Reads the RIFF/WAVE header and the chunk list of f. Returns 1 with info
// filled for 8/16-bit PCM, mono or stereo; otherwise logs why, naming `name`,
// and returns 0. Chunk sizes are checked against the file's real size, so
// nothing past the end of the file is ever read. The file position is left
// anywhere.
int ParseWAV(FILE* f, const char* name, WavInfo* info);

// Record files.
extern FILE* MyOpenFile;
extern int32_t FileOpen;
// Called with the target's path once a written file has been put in place;
// null on the desktop. A browser keeps its saves in storage of its own and
// copies them there from this call.
extern void (*FileSaved)(const char* path);
extern char TempstrSys[1024];

// Web.
extern char webBuffer[10000];

// An HTTP answer read as it arrives (sys/WebAnswer.cpp): the status line and
// headers, then a body of known length, in chunks, or up to the connection's
// end, and in that body the data block between "[-\r\nData-]" and
// "[-\r\nEnd-]". Of the body only bytes that count (printable ASCII, CR,
// LF) are looked at; the block is found wherever the network cut the
// answer. An answer that does not begin with a status line is taken whole
// as the body. The desktop feeds it the socket's bytes; a browser, which
// reads the status and headers itself, feeds it the body alone.
struct WebAnswer {
    enum Result {
        kMore,      // more bytes wanted
        kDone,      // the data block is whole (in `data`)
        kNoData,    // the body ended with no data block in it
        kNoEnd,     // the body ended before the block's end marker
        kCut,       // the connection ended before the body did
        kRedirect,  // a redirect (status 3xx), not followed
        kBroken,    // not HTTP that can be read (status line, headers, chunks)
        kTooLong,   // a block over KELPSys::kWebAnswerMax bytes
    };
    explicit WebAnswer(bool http = true) : rawChecked_(!http), phase_(http ? kHead : kBody) {}
    // Takes received bytes; kMore while more are wanted, else the result.
    Result Take(const char* bytes, size_t n);
    // The connection ended, cleanly or not (a reset, a read error).
    Result End(bool cleanly);

    int status = 0;         // 0 until a status line is read
    std::string location;   // of a redirect
    std::string data;       // the data block so far; whole once kDone

private:
    enum Phase { kHead, kBody, kChunkSize, kChunkData, kChunkEnd, kTrailers, kFinished };
    Result Head(const char** bytes, size_t* n);
    Result ParseHead();
    Result Body(const char* bytes, size_t n);
    Result BodyEnded();
    Result Scan(const char* bytes, size_t n);

    bool rawChecked_;
    Phase phase_;
    std::string head_;      // the head, or a chunk's size line, as it comes
    uint64_t left_ = 0;     // of a body of known length, or of a chunk
    bool known_ = false;    // the body's length is known
    bool chunked_ = false;
    int scan_ = 0;          // 0 before the start marker, 1 in the block, 2 after it
    std::string kept_;      // the last bytes that counted (enough for a marker)
    Result result_ = kMore;
};
// The clock (milliseconds) of the web exchange's waits and deadlines: a
// monotonic one; tests drive their own.
extern int64_t (*WebClockMs)();

// Log.
extern int32_t DebugMessages;

void error_callback(int code, const char* text);
// 0 while start-up opens its first window, which only bridges the audio
// start: a window opened while it is 1 warms its GL pipeline before showing.
extern bool WarmOnOpen;

}  // namespace kelp
