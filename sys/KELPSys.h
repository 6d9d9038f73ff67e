// KELPSys - the platform layer: window and canvas, renderer, image and sound
// loading, device polling, music streaming, raw file access and sockets.
//
// Everything lives in fixed-size arrays inside the one global object `ASys`
// and in named globals beside it. Game code never reaches this layer
// directly; KELPCore forwards to it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct GLFWwindow;

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
};

class KELPSys {
public:
    KELPSys();
    ~KELPSys();

    // ---- Draw list and drawing state -------------------------------------
    // drawList is the first member: it is filled during an update and
    // copied to DrawR at the commit.
    double drawList[DRAW_LIST_MAX][CMD_SLOTS];
    int32_t drawCount;
    // The 16 state values copied into slots 10..25 of every command.
    float alpha1, red1, green1, blue1, alpha2, red2, green2, blue2;
    float rot, lineHalf, stateReserved0, sizeX, sizeY, stateReserved1, stateReserved2, stateReserved3;
    float clsCurrent[3], clsTarget[3], clsSpeed, smooth;
    int32_t curBlend, curFont;
    int32_t droppedCommands;   // commands refused this update because the list was full

    // Returns the next free command of drawList, or null when the list is
    // full (the drop is counted and reported once per update).
    double* NewCommand();
    // Copies the drawing state into slots 10..25 and advances drawCount.
    void CopyState(double* cmd);
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
    void RenderRect(int base);
    void RenderQuad(int base);
    void RenderTri(int base);
    void RenderOval(int base);
    void RenderFan(int base);
    void RenderLine(int base);
    void RenderImage(int base);
    void RenderQuadImage(int base);
    void RenderImageBlur(int base);

    // ---- Images, pixel buffers, screenshots ---------------------------------
    // Marks every image slot empty; called once at platform start-up.
    void ResetImageTable();
    void GetPNG(int slot, const char* path, unsigned size);
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
    // Stores one joystick's raw state into Joy[j] with the seen-at-rest gate;
    // PollInputB calls it with what GLFW reports, tests call it directly.
    void StoreJoystick(int j, int present, const char* name, const float* axes, int axisCount,
                       const unsigned char* buttons, int buttonCount, int invertY);

    // ---- Audio ---------------------------------------------------------------
    int32_t musicMode;        // 0 none, 1 WAV stream, 2 Ogg stream
    int32_t musicLoop;
    int32_t musicNextBuffer;
    float trackPitch, trackVolume, trackPan;
    float musicMaster;

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

    // ---- Web -------------------------------------------------------------------
    std::string webResult;
    int32_t webPort;          // 80; a test build may point the game elsewhere
    void URLData(const std::string& host, const std::string& pathAndQuery);
    // Scans one received chunk of n bytes on its own and appends its payload
    // (between the start and end markers, filtered) to result.
    static void ScanWebChunk(std::string& result, const char* chunk, int n);

    // ---- Log and text ------------------------------------------------------------
    static void Debuglog(const char* text);
    static const char* fstrSys(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static std::string SystemUsername();
};

extern KELPSys ASys;

// ---- Globals of the platform layer ----------------------------------------
// Render list and render-time state.
extern double DrawR[RENDER_LIST_MAX][CMD_SLOTS];
extern int32_t DrawToRT;
extern int32_t TexUse, TriCount, RenderMode, Wireframe;
extern unsigned char WhiteBlock[256];
extern int32_t TexUploads;    // glTexImage2D calls in the last render (statistics, tests)
// Source keys (TexUse values) of the first TEX_UPLOAD_LOG uploads of the last render.
enum { TEX_UPLOAD_LOG = 64 };
extern int32_t TexUploadKeys[TEX_UPLOAD_LOG];

// Image table (slots 0..104).
extern std::vector<unsigned char> Image[IMAGE_SLOTS];
extern std::vector<unsigned char> ImageBlur[IMAGE_SLOTS];
extern int32_t imageFrames[IMAGE_SLOTS];
extern int32_t iFramesW[IMAGE_SLOTS];
extern float iFramesWz[IMAGE_SLOTS];
extern int32_t iSize[IMAGE_SLOTS];
extern int32_t imageFrameSize[IMAGE_SLOTS];
extern float imageUnit[IMAGE_SLOTS];
extern int32_t imageMissingLogged[IMAGE_SLOTS];   // 1: "Missing Image" said since the slot last changed
extern int32_t MaxTextureEdge;   // GL's largest texture edge, read when a window opens; 0 until then
extern int32_t fontw[132];

// Input.
extern int32_t ignorePress[1024];
extern int32_t UpdateFrames;
extern int32_t DebugToggle;
extern std::string KeyName[KEY_NAMES];
// Where the poll reads the keyboard and the mouse: GLFW's state of the
// window (nothing while there is none). Tests point them at their own state.
extern int (*InputKeyDown)(int key);
extern int (*InputPointer)(double* x, double* y, int* left, int* right);  // 0: nothing to read

// Audio.
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
extern void* OggFile;         // OggVorbis_File*

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
extern char TempstrSys[1024];

// Web.
extern char webBuffer[10000];
extern std::string website_HTML;
// The clock (milliseconds) of the web exchange's waits and deadlines: a
// monotonic one; tests drive their own.
extern int64_t (*WebClockMs)();

// Log.
extern int32_t DebugMessages;

void error_callback(int code, const char* text);
