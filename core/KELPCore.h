// KELPCore - the API that game code calls: drawing, text, input, sound,
// files, strings, maths, time and web access.
//
// A game derives its one global object from KELPCore. All state is in plain
// public fields with fixed capacities; operations report failure through
// their result and a log line, never by throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include <kelp/KELPSys.h>

using std::string;

class KELPCore {
public:
    // ---- Fields, in memory order ---------------------------------------------
    char gameTitle[1024];
    int32_t gameNumber;
    int32_t gameVersion;
    char scrambleKeyword[1024];
    int8_t scrambleTable[64];
    float sfxVolume, musicVolume;
    char Tempstr[30][16384];           // the temporary-string ring
    int32_t updateSec, updateFps, renderSec, renderFps, polysShown;
    int32_t focusState;
    int32_t nextUpdate, nextRender;
    int32_t quitRequested;
    int32_t loadStep;
    int32_t showStats;
    int32_t padKeysEnabled;
    int32_t realWidth, realHeight;
    char dataRoot[4100];
    float overscan;
    float LastColPointX, LastColPointY;
    float screenW, screenH;

    // ---- Life cycle -------------------------------------------------------------
    void Begin(int gameNumber, string title);
    void Terminate();
    void SetTitle(string title);
    string GetTitle();
    string MyName();
    clock_t StartTick();
    int Mills();
    void Rest(int ms);
    // The main loop: pass() until it returns false, then done() once. On the
    // desktop it returns after done(); in a browser each pass is one frame
    // and it never returns, so whatever follows the loop belongs in done().
    void RunLoop(std::function<bool()> pass, std::function<void()> done);
    // The rate shown for `count` events in a sample that lasted elapsedMs
    // (normally just over a second): scaled to one second, so that a stall
    // never shows as a higher rate than was really run.
    static int RatePerSecond(int count, int elapsedMs);
    void RenderGame(float& w, float& h);
    void BufferGame();
    // Sets dataRoot from a program path (directory part, or "."); returns 0
    // when the directory part did not fit and "." was used instead. When
    // that folder holds no Data/ folder, the running program's own folder
    // is taken if it holds one, and else, for a game installed as
    // <prefix>/games/<name> (or <prefix>/bin/<name>), the folder
    // <prefix>/share/games/<name>/ if it holds Data/.
    int SetDataRoot(const char* programPath);
    void FlipFullscreen();
    // Sets a block of the program's own memory (a global or heap array) to
    // zero; large blocks cheaply, without making them resident.
    void Zero(void* block, size_t bytes);

    // Logs the keys down and the focus when they differ from the last
    // poll's (test builds).
    void TraceKeys();

    // ---- Drawing state -------------------------------------------------------------
    void ResetDraw();
    void SetSize(float s);
    void SetSize(float sx, float sy);
    void SetRot(float degrees);
    void SetLineThickness(float t);
    void Width(float t);
    void Thick(float t);
    void SetLineWidth(float t);
    void SetLineThick(float t);
    void SetCol(float r, float g, float b);
    void SetCol(float r, float g, float b, float a);
    void SetGradient(float r1, float g1, float b1, float a1, float r2, float g2, float b2, float a2);
    void SetAlpha(float a);
    void Alpha(float a);
    void Ink(int n);
    void InkRot(float hue);
    void InkRot(float hue, float s);
    void InkRot(float hue, float s, float v);
    void HSV2RGB(double h, double s, double v);
    void SetBlend(int mode);
    void Smooth(int n);
    void SetSmooth(int n);
    void SetFont(int slot);
    void SetCLS(float r, float g, float b);
    void CLS(float r, float g, float b);
    void FadeCLS(float r, float g, float b, float speed);
    void SetCLSRot(float angle, float lo, float hi);

    // ---- Shapes ----------------------------------------------------------------------
    void Rect(float x, float y, float w, float h);
    void Rect(float x, float y, float s);
    void Plot(float x, float y);
    void Rect_UL(float x, float y, float s);
    void Rect_UL(float x, float y, float w, float h);
    void Oval(float x, float y, float w, float h);
    void Oval(float x, float y, float r);
    void Circle(float x, float y, float r);
    void Oval_UL(float x, float y, float w, float h);
    void Oval_UL(float x, float y, float r);
    void Circle_UL(float x, float y, float r);
    void Fan(float x, float y, float r);
    void Quad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
    void FullTri(float x1, float y1, float x2, float y2, float x3, float y3);
    void Tri(float x, float y, float w, float h);
    void Tri_Fix(float x, float y, float w, float h, float e);
    void Line(float x1, float y1, float x2, float y2);

    // ---- Images, fonts and text ----------------------------------------------------
    void LoadImg(int slot, string name, int size);
    void LoadFont(int slot, string name);
    void DrawImg(int slot, float x, float y, int frame = 0);
    void DrawBlur(int slot, float x, float y, int frame = 0);
    void QuadImg(int slot, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int frame);
    void DrawBuffer();
    void Text(float x, float y, string s, float align = 0, float extra = 1);
    void Text(float x, float y, char c, float align = 1, float extra = 1);
    float StringWidth(string s);
    float StringWidth(char c);
    float CharWidth(char c);

    // ---- Loading ahead ---------------------------------------------------------------
    // For a staged loader that must not stall its screen. A queued load is
    // prepared on a worker thread (`prepare`, which must touch no shared
    // state) and collected on this thread (`commit`), strictly in the order
    // the loads were queued: the image table, the sound slots and the log see
    // the loads in that order and nothing of a load before its commit.
    // `due` is the caller's turn number (a loader step, say): CollectLoads(turn)
    // commits the loads due by `turn` that are prepared, and waits only for a
    // due load that fills `waitForSlot` (and those queued before it).
    // QueueImg and QueueFont are LoadImg and LoadFont split that way.
    void QueueImg(int due, int slot, string name, int size);
    void QueueFont(int due, int slot, string name);
    void QueueLoad(int due, int slot, std::function<void()> prepare, std::function<void()> commit);
    int CollectLoads(int turn, int waitForSlot = -1);   // returns the number committed
    void FinishLoads();   // waits for every queued load and commits it
    int LoadsQueued();    // queued and not committed yet
    void DropLoads();     // forgets every load not committed yet

    // ---- Pixel buffers and screenshots ---------------------------------------------
    void CreateBuffer(int slot, int size);
    void BufferCLS(int slot);
    void BufferFill(int slot, int r, int g, int b, int a);
    void BufferPlot(int slot, float x, float y);
    void BufferLine(int slot, float x1, float y1, float x2, float y2);
    void BufferTile(int dst, int src, float x, float y, int frame);
    void TakeScreenshot();
    void CopyBuffer();
    // Formats the next screenshot's file name into ASys.ScreenshotName; the
    // input poll calls it at the end of every update.
    void PrepareScreenshotName();

    // ---- Input ---------------------------------------------------------------------
    void PollInput(int invertY);
    int PlayKey(int type);
    int PlayKeyAll(int type);
    float Joy(int n);
    int JoyDown(int button);
    int JoyDown(int button, int pad);
    float JoyAxis(int axis);
    float JoyAxis(int axis, int pad);
    float MouseX();
    float MouseY();
    float TouchX();
    float TouchY();
    float MouseX(int i);
    float MouseY(int i);
    float TouchX(int i);
    float TouchY(int i);
    int MouseDown();
    int TouchDown();
    int MouseDown_Alt();
    int TouchDown_Alt();
    int MouseHeld();
    int TouchHeld();
    int MouseDown(int i);
    int TouchDown(int i);
    int MouseDown_Alt(int i);
    int TouchDown_Alt(int i);
    int MouseHeld(int i);
    int TouchHeld(int i);
    int mdall();
    int MouseIn(float x, float y, float w, float h);
    int MouseIn_Centered(float cx, float cy, float w, float h);
    int MouseIn_Radius(float x, float y, float r);
    int Button(int image, float x, float y, int frame);
    void LockForGet();
    int GetKey();
    void SetKey(int action, int code);
    int KeyValue(int action, int slot);
    void FlushKeys();
    string KeyName(int code);

    // ---- Sound and music -------------------------------------------------------------
    void LoadSFX(int n);
    void LoadSFX(int slot, string name);
    void PlaySFX(int n);
    void PlaySFX(int n, float pitch);
    void PlaySFX(int n, float pitch, float volume);
    void PlaySFX(int n, float pitch, float volume, float pan);
    void PlaySFX(int n, float pitch, float volume, float pan, int loop);
    void PlayMusic(string name);
    void PlayMusic(string name, int loop);
    void StopMusic();
    void MusicVolume(float v);
    void MusicPitch(float p);
    void MusicPan(float p);
    void MusicHandler();

    // ---- Record files -------------------------------------------------------------------
    // The folder that WriteFile, ReadFile and screenshots use: the data root,
    // unless it exists and cannot be written (a game installed under
    // /usr/games, a read-only copy). Then it is the player's data folder,
    // $XDG_DATA_HOME/<program>/ or by default ~/.local/share/<program>/,
    // named after the program's file and made when first needed; the log
    // says so once. Assets are always read from the data root, and ReadFile
    // reads there a file the player's folder does not hold yet. Chosen again
    // whenever dataRoot changes; the text stays valid until then.
    const char* SaveFolder();
    // Names are relative to SaveFolder(). A file is written under a name of
    // its own ("<name>.<process id>.tmp") and renamed over `name` when it is
    // closed whole; something at `name` that is not a regular file (a
    // folder, a FIFO, a device) is moved aside to "<name>.bad" first. ReadFile
    // opens regular files only; when it fails (0) it prints "Error Reading
    // File" and logs why: no save yet (not found), a file that is not a
    // regular file and was skipped, or the system's reason.
    int WriteFile(string name);
    int ReadFile(string name);
    void WriteInt(int v);
    void WriteByte(char c);
    void WriteLine(string s);
    void WriteString(string s);
    int ReadInt();
    int ReadByte();
    string ReadLine();
    int ReadString();
    void CloseFile();

    // ---- Web and score records --------------------------------------------------------
    void SetKeyword(string keyword);
    void SetNum(int n);
    int GetNum();
    void Rescramble();
    string ScrambleTxt(string text);
    string UnscrambleTxt(string text);
    string EscapeValue(string value);   // the query-value escaping of GetURL
    string GetURL(string host, string path, string value);
    void OpenBrowser(string url);

    // ---- Strings and the log ------------------------------------------------------------
    const char* fstr(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void tstr(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int Print(const char* text);
    int Debuglog(const char* text);
    int DebugLog(const char* text);
    int Debug(const char* text);
    string Hex(int v);
    string Bin(int v);
    int HexToInt(string s);
    int BinToInt(string s);
    int StrToInt(string s);
    int ToInt(string s);
    string iniLeft(string s);
    string iniRight(string s);
    string Trim(string s);
    string Mid(string s, int start, int count);
    string Left(string s, int count);
    string Right(string s, int count);
    string LeftPad(string s, unsigned width, char fill);
    string RightPad(string s, unsigned width, char fill);
    string Strip(string s);
    int SixDigitString(string s);
    string SixDigitString(long a);
    string SixDigitString(long a, long b);
    string SixDigitString(long a, long b, long c);
    string JNKrunch(string s);
    string JuNKrunch(string s);
    string Split(string s, char delimiter, int n);
    int SplitCount(string s, char delimiter);
    unsigned Checksum(string s, int key);
    unsigned Checksum(string s);
    const char* nth(int n);

    // ---- Maths, random numbers, collisions ------------------------------------------------
    float Sin(float degrees);
    float Cos(float degrees);
    float Mod(float a, float b);
    float Abs(float v);
    int Abs(int v);
    float Dist(float x1, float y1, float x2, float y2);
    float Pyth(float a, float b);
    float WhichWayDoIGo(float from, float to, float lo = 0, float hi = 359);
    void SeedRnd();
    void SeedRnd(int seed);
    float Rnd(float hi);
    float Rnd(float lo, float hi);
    int Rand(float hi);
    int Rand(float lo, float hi);
    float tRnd(float hi);
    float tRnd(float lo, float hi);
    int tRand(float hi);
    int tRand(float lo, float hi);
    int Collide_Point_Circle(float px, float py, float cx, float cy, float r);
    int Collide_Circle_Circle(float x1, float y1, float r1, float x2, float y2, float r2);
    int Collide_Line_Line(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
    int Collide_Rect_Rect(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2);
    int Collide_Rect_Rect_Complex(float x1, float y1, float w1, float h1, float x2, float y2, float w2, float h2);

    // ---- Date and time -------------------------------------------------------------------
    int Date_Day();
    int Date_Month();
    int Date_Year();
    int Time_Hour();
    int Time_Minute();
    int Time_Second();
    string Date_str();
    string Time_str();
    string DateTime_str();
    string DateTime_file();
};

// ---- Globals of the core ------------------------------------------------------------------
extern int32_t TempstrUse;
extern int32_t UpdateCountLive, RenderCountLive;
extern clock_t GameStartTime;

extern int32_t jRand_Seed, jRand_Count, jRand_Bit, jRand_Plus, jRand_Out, jRand_tSeed;
extern const char jRand_Txt[257];
