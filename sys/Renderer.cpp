// The frame renderer: draws the committed list DrawR as textured triangles in
// immediate mode, each kind of command by its own function. Consecutive commands on the same source (the white block
// for shapes, a slot's pixel or blur plane for images) share one glBegin
// batch. Each source has its own GL texture object, made on first use and
// uploaded again only when its slot's pixels have changed since, so a batch
// switch is a bind.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <GLFW/glfw3.h>

#include "KELPSys.h"

namespace kelp {

int32_t TexUse = -1, TriCount = 0, RenderMode = 0, Wireframe = 0;
unsigned char WhiteBlock[256];
// Shapes are drawn from an opaque white block, white from the start.
static const bool kWhiteBlockFilled = [] {
    memset(WhiteBlock, 255, sizeof WhiteBlock);
    return true;
}();
int32_t FramebufferSeenW = -1, FramebufferSeenH = -1;
int32_t TexUploads = 0;
int32_t TexUploadKeys[TEX_UPLOAD_LOG];
int32_t TexBatches = 0;
int32_t TexBatchKeys[TEX_UPLOAD_LOG];

namespace {

const int BATCH_UNITS = 50000;   // a batch restarts once it holds more than this
const int WHITE_BLOCK_KEY = -2;
const int BLUR_KEY_OFFSET = 200;
const double DEG = 0.017453;

// Low 8 bits of the truncated value; out-of-range doubles (never produced
// by the state operations) give 0 instead of undefined behaviour.
GLubyte Low8(double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return (GLubyte)((int32_t)v & 255);
}

struct Colours {
    GLubyte c1[4], c2[4];   // red, green, blue, alpha
};

Colours ReadColours(const DrawCommand& c) {
    Colours k;
    k.c1[0] = Low8(c.red1); k.c1[1] = Low8(c.green1); k.c1[2] = Low8(c.blue1); k.c1[3] = Low8(c.alpha1);
    k.c2[0] = Low8(c.red2); k.c2[1] = Low8(c.green2); k.c2[2] = Low8(c.blue2); k.c2[3] = Low8(c.alpha2);
    return k;
}

// Texture coordinates go to GL as floats, which is what it keeps of them.
inline void Vertex(double s, double t, const GLubyte* col, float x, float y) {
    glTexCoord2f((float)s, (float)t);
    glColor4ub(col[0], col[1], col[2], col[3]);
    glVertex2f(x, y);
}

// A source's texture object and what it holds: its storage's edge, the
// plane version it holds and how many of its rows (all of them once the
// upload is complete; fewer while it is being uploaded ahead, a band a
// frame), and the filter last set on it. Name 0 means not made yet in the
// current context.
struct Texture {
    GLuint name;
    int32_t edge;
    GLint filter;
    uint32_t version;
    int32_t rows;
};

Texture PlaneTex[IMAGE_SLOTS], BlurTex[IMAGE_SLOTS], WhiteTex;

// What one frame uploads ahead at most, after its swap.
const size_t AHEAD_BYTES_PER_FRAME = 1 << 20;

void Log(int32_t& count, int32_t* keys, int key) {
    if (count >= 0 && count < TEX_UPLOAD_LOG) keys[count] = key;
    count++;
}

void MakeTexture(Texture& t) {
    glGenTextures(1, &t.name);
    t.edge = 0;
    t.filter = 0;
    t.rows = 0;
}

// Gives a bound texture storage for an edge x edge plane; its texels are
// undefined until uploaded.
void MakeStorage(Texture& t, int edge, uint32_t version) {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, edge, edge, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    t.edge = edge;
    t.version = version;
    t.rows = 0;
}

// Binds a source's texture object, first making it, setting the frame's
// filter on it, and uploading whatever it does not hold yet of the plane.
void Bind(Texture& t, int key, int edge, const unsigned char* pixels, uint32_t version) {
    if (t.name == 0) MakeTexture(t);
    glBindTexture(GL_TEXTURE_2D, t.name);
    if (t.filter != RenderMode) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, RenderMode);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, RenderMode);
        t.filter = RenderMode;
    }
    if (t.edge != edge) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, edge, edge, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    } else if (t.version != version) {
        // Same size: the storage stays, only the texels are replaced.
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, edge, edge, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    } else if (t.rows < edge) {
        // The rows not uploaded ahead yet.
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, t.rows, edge, edge - t.rows, GL_RGBA, GL_UNSIGNED_BYTE,
                        pixels + (size_t)t.rows * edge * 4);
    } else {
        return;
    }
    t.edge = edge;
    t.version = version;
    t.rows = edge;
    Log(TexUploads, TexUploadKeys, key);
}

// A slot whose reserved storage can take its plane now: the load promised
// for it has arrived with the edge promised. A slot whose load brought
// something else, or failed, loses its reservation.
bool ReadyAhead(int m) {
    if (ReservedEdge[m] <= 0 || imageVersion[m] == ReservedAt[m]) return false;
    const int edge = ReservedEdge[m];
    if (imageFrames[m] < 0 || iSize[m] != edge || Image[m].size() < (size_t)edge * edge * 4) {
        ReservedEdge[m] = 0;
        return false;
    }
    return true;
}

// Makes the storage promised to slots, so that the loads' first uploads
// write into memory the driver already has: a large texture's first
// storage is slow to make (page faults in a software driver, 10 to 40 ms
// for 4 MiB on a busy machine here) where writing into it is not.
void MakeReservedStorage() {
    for (int m = 0; m < IMAGE_SLOTS; m++) {
        if (ReservedEdge[m] <= 0 || PlaneTex[m].edge == ReservedEdge[m]) continue;
        // A plane of another size that the slot still draws would take its
        // own storage back at every draw: the storage waits for the load.
        if (imageFrames[m] >= 0 && iSize[m] != ReservedEdge[m] && imageVersion[m] == ReservedAt[m]) continue;
        Texture& t = PlaneTex[m];
        if (t.name == 0) MakeTexture(t);
        glBindTexture(GL_TEXTURE_2D, t.name);
        // Until its load arrives the slot keeps drawing what it holds now:
        // the storage holds none of that version's rows.
        MakeStorage(t, ReservedEdge[m], imageVersion[m]);
    }
}

// Uploads a band of the planes whose promised loads have arrived, so that
// their first draw finds them on the GL side. A frame's band is small
// enough not to lengthen it, and the loader's idle frames are many.
void UploadAhead() {
    size_t budget = AHEAD_BYTES_PER_FRAME;
    for (int m = 0; m < IMAGE_SLOTS && budget > 0; m++) {
        if (!ReadyAhead(m)) continue;
        Texture& t = PlaneTex[m];
        const int edge = ReservedEdge[m];
        if (t.name == 0 || t.edge != edge) continue;   // made again at its first draw
        if (t.version != imageVersion[m]) {
            t.version = imageVersion[m];
            t.rows = 0;
        }
        if (t.rows >= edge) {   // a draw got there first
            ReservedEdge[m] = 0;
            continue;
        }
        const size_t rowBytes = (size_t)edge * 4;
        int rows = (int)std::min<size_t>((size_t)(edge - t.rows), std::max<size_t>(1, budget / rowBytes));
        glBindTexture(GL_TEXTURE_2D, t.name);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, t.rows, edge, rows, GL_RGBA, GL_UNSIGNED_BYTE,
                        Image[m].data() + (size_t)t.rows * rowBytes);
        t.rows += rows;
        budget -= std::min(budget, rows * rowBytes);
        Log(TexUploads, TexUploadKeys, m);
        if (t.rows >= edge) ReservedEdge[m] = 0;
    }
}

// Opens a batch on the given source unless one is open on it already.
void UseSource(Texture& t, int key, int edge, const unsigned char* pixels, uint32_t version) {
    if (key == TexUse && TriCount <= BATCH_UNITS) return;
    if (TexUse != -1) glEnd();
    TexUse = key;
    Bind(t, key, edge, pixels, version);
    Log(TexBatches, TexBatchKeys, key);
    glBegin(GL_TRIANGLES);
    TriCount = 0;
}

// The white block never changes: version 0 is the only one it has.
void ShapeBatch() { UseSource(WhiteTex, WHITE_BLOCK_KEY, 8, WhiteBlock, 0); }

// Sine and cosine of the ten-degree rim steps of ovals, computed once.
struct RimTable {
    double s[37], c[37];
    RimTable() {
        for (int i = 0; i <= 36; i++) {
            s[i] = sin(10.0 * i * DEG);
            c[i] = cos(10.0 * i * DEG);
        }
    }
};

// Checks an image command against the image table, repairs its frame and
// opens the batch on its source. Returns the slot, or -1 to skip.
int ImageSource(DrawCommand& c, bool blur, bool quad) {
    double ms = c.image;
    if (!(ms >= 0 && ms < 103)) return -1;
    int m = (int)ms;
    if (!(m <= 99 || (m == 102 && !quad))) return -1;
    if (imageFrames[m] < 0) return -1;
    if (!(c.frame >= 0 && c.frame <= imageFrames[m] - 1)) c.frame = 0;
    const std::vector<unsigned char>& plane = blur ? ImageBlur[m] : Image[m];
    int edge = iSize[m];
    // A plane smaller than its stated edge would be read past its end.
    if (edge <= 0 || plane.size() < (size_t)edge * (size_t)edge * 4) return -1;
    UseSource(blur ? BlurTex[m] : PlaneTex[m], blur ? m + BLUR_KEY_OFFSET : m, edge, plane.data(), imageVersion[m]);
    return m;
}

struct TexRect {
    double s0, s1, t0, t1;
};

TexRect FrameCoords(int m, double frame) {
    int f = (int)frame;
    int n = iFramesW[m] > 0 ? iFramesW[m] : 1;
    double z = iFramesWz[m];
    TexRect r;
    r.s0 = z * (f % n);
    r.s1 = r.s0 + z;
    r.t0 = z * (f / n);
    r.t1 = r.t0 + z;
    return r;
}

void DrawImageCommand(DrawCommand& c, bool blur) {
    int m = ImageSource(c, blur, false);
    if (m < 0) return;
    TexRect tr = FrameCoords(m, c.frame);
    Colours k = ReadColours(c);
    float D = (float)(c.w * imageUnit[m]);
    float F = (float)(c.h * imageUnit[m]);
    float cx = (float)c.x, cy = (float)c.y;
    const float off[6][2] = {{-D, -F}, {D, -F}, {D, F}, {-D, -F}, {D, F}, {-D, F}};
    const double tex[6][2] = {{tr.s0, tr.t1}, {tr.s1, tr.t1}, {tr.s1, tr.t0},
                              {tr.s0, tr.t1}, {tr.s1, tr.t0}, {tr.s0, tr.t0}};
    const GLubyte* col[6] = {k.c1, k.c1, k.c2, k.c1, k.c2, k.c2};
    double rot = c.rot;
    if (rot == 0) {
        for (int v = 0; v < 6; v++) Vertex(tex[v][0], tex[v][1], col[v], cx + off[v][0], cy + off[v][1]);
    } else {
        float th = (float)(rot * DEG);
        float cs = (float)cos(th), sn = (float)sin(th);
        for (int v = 0; v < 6; v++) {
            float dx = off[v][0], dy = off[v][1];
            Vertex(tex[v][0], tex[v][1], col[v], cx + dx * cs - dy * sn, cy + dx * sn + dy * cs);
        }
    }
    TriCount += 1;
    ASys.polyCount += 2;
}

// Kinds 2 and 4: (P1, P2, P3) and (P1, P3, P4); colour 1 on P1 and P2.
void DrawQuadCommand(const DrawCommand& c) {
    ShapeBatch();
    Colours k = ReadColours(c);
    float x1 = (float)c.x, y1 = (float)c.y, x2 = (float)c.X2(), y2 = (float)c.Y2();
    float x3 = (float)c.x3, y3 = (float)c.y3, x4 = (float)c.x4, y4 = (float)c.y4;
    Vertex(0, 0, k.c1, x1, y1);
    Vertex(1, 0, k.c1, x2, y2);
    Vertex(1, 1, k.c2, x3, y3);
    Vertex(0, 0, k.c1, x1, y1);
    Vertex(1, 1, k.c2, x3, y3);
    Vertex(0, 1, k.c2, x4, y4);
    TriCount += 1;
    ASys.polyCount += 2;
}

// One step of the clear colour towards its target. Speeds below 1 would
// overshoot (and 0 would divide by zero), so they reach the target at once.
void FadeClearColour(float* cur, const float* target, float speed) {
    for (int i = 0; i < 3; i++) {
        if (speed >= 1)
            cur[i] = cur[i] - (cur[i] - target[i]) / speed;
        else
            cur[i] = target[i];
        float diff = cur[i] - target[i];
        if (!(fabsf(diff) < 2147483647.0f) || abs((int)diff) < 2) cur[i] = target[i];
    }
}

// The function that draws each kind; kinds without one draw nothing.
using DrawKindFn = void (KELPSys::*)(DrawCommand&);
struct DrawKinds {
    DrawKindFn fn[CMD_KINDS] = {};
    constexpr DrawKinds() {
        fn[CMD_RECT] = &KELPSys::RenderRect;
        fn[CMD_QUAD] = &KELPSys::RenderQuad;
        fn[CMD_OVAL] = &KELPSys::RenderOval;
        fn[CMD_LINE] = &KELPSys::RenderLine;
        fn[CMD_FAN] = &KELPSys::RenderFan;
        fn[CMD_TRI] = &KELPSys::RenderTri;
        fn[CMD_IMAGE] = &KELPSys::RenderImage;
        fn[CMD_QUADIMAGE] = &KELPSys::RenderQuadImage;
        fn[CMD_BLUR] = &KELPSys::RenderImageBlur;
        fn[CMD_BLEND] = &KELPSys::RenderBlend;
    }
};
constexpr DrawKinds kDrawKinds;

}  // namespace

void KELPSys::WarmRenderer() {
    // A software GL driver (llvmpipe) compiles the code for each new
    // combination of blend function and texture filter at the first draw
    // that uses it, tens of milliseconds each time on a new context. One
    // tiny triangle for each combination the renderer can use, finished
    // before the window is shown, does that work where nothing is watching.
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 8, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE, WhiteBlock);
    glViewport(0, 0, 8, 8);
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    const GLenum blends[3][2] = {
        {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}, {GL_SRC_ALPHA, GL_ONE}, {GL_SRC_COLOR, GL_ONE}};
    const GLubyte white[4] = {255, 255, 255, 255};
    for (GLint filter : {GL_NEAREST, GL_LINEAR}) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        for (const GLenum* b : blends) {
            glBlendFunc(b[0], b[1]);
            glBegin(GL_TRIANGLES);
            Vertex(0, 0, white, -1, -1);
            Vertex(1, 0, white, 1, -1);
            Vertex(1, 1, white, 1, 1);
            glEnd();
        }
    }
    glFinish();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &tex);
}

void KELPSys::ForgetTextures() {
    memset(PlaneTex, 0, sizeof PlaneTex);
    memset(BlurTex, 0, sizeof BlurTex);
    memset(&WhiteTex, 0, sizeof WhiteTex);
}

void KELPSys::RenderSys(float overscan) {
    TexUploads = 0;
    TexBatches = 0;
    polyCount = 0;
    RenderMode = smooth == 1 ? GL_LINEAR : GL_NEAREST;

    // Without a window there is no context to draw into: the game goes on
    // and only events are pumped.
    if (!window) {
        FadeClearColour(clsCurrent, clsTarget, clsSpeed);
        glfwPollEvents();
        return;
    }
    int w = FramebufferSeenW, h = FramebufferSeenH;
    if (w < 0) glfwGetFramebufferSize(window, &w, &h);
    fbWidth = w;
    fbHeight = h;
    // An iconified window has an empty framebuffer; its aspect would be
    // infinite, so there is nothing to draw this time.
    if (w <= 0 || h <= 0) {
        FadeClearColour(clsCurrent, clsTarget, clsSpeed);
        glfwPollEvents();
        return;
    }
    MakeReservedStorage();
    aspect = (1.0f / fbHeight) * fbWidth;
    glViewport(0, 0, fbWidth, fbHeight);

    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (Wireframe == 1) glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);

    FadeClearColour(clsCurrent, clsTarget, clsSpeed);
    glClearColor(clsCurrent[0] / 255, clsCurrent[1] / 255, clsCurrent[2] / 255, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    if (Wireframe == 1)
        glDisable(GL_TEXTURE_2D);
    else
        glEnable(GL_TEXTURE_2D);

    float o = overscan;
    glPushMatrix();
    glScalef((2 - o) / virtualW, -(2 - aspect * o) * aspect / virtualW, 1);
    OverscanScaleX = 1 / (1 - o / 2);
    OverscanScaleY = 1 / (1 - o * aspect / 2);

    TexUse = -1;
    TriCount = 0;
    polyCount = 0;

    int count = DrawToRT;
    if (count > RENDER_LIST_MAX) count = RENDER_LIST_MAX;
    for (int i = 0; i < count; i++) {
        DrawCommand& c = DrawR[i];
        // A kind no function draws (or no number at all) is skipped.
        if (!(c.kind >= 0 && c.kind < CMD_KINDS)) continue;
        if (DrawKindFn draw = kDrawKinds.fn[(int)c.kind]) (this->*draw)(c);
    }
    // glEnd outside a batch is a GL error; close only a batch that is open.
    if (TexUse != -1) glEnd();
    TexUse = -1;
    glPopMatrix();

    // The back buffer is not guaranteed after a swap, so the screenshot is
    // read from the frame just drawn, before it is shown.
    if (Button[66] == 1) Screenshot();
    glfwSwapInterval(1);
    glfwSwapBuffers(window);
    UploadAhead();
    glfwPollEvents();
}

void KELPSys::RenderBlend(DrawCommand& c) {
    if (TexUse != -1) glEnd();
    TexUse = -1;
    const double mode = c.BlendMode();
    switch (mode >= 0 && mode < 100 ? (int)mode : 0) {
    case 1: glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); break;
    case 2: glBlendFunc(GL_SRC_ALPHA, GL_ONE); break;
    case 3: glBlendFunc(GL_SRC_COLOR, GL_ONE); break;
    default: break;
    }
}

void KELPSys::RenderRect(DrawCommand& c) {
    ShapeBatch();
    Colours k = ReadColours(c);
    float X = (float)c.x, Y = (float)c.y;
    double d = c.w * 0.5, e = c.h * 0.5;
    // Corners A, B, C, D; e is negative with the default scale, so A and B
    // (colour 1) are the lower edge on screen.
    double off[4][2] = {{-d, -e}, {d, -e}, {d, e}, {-d, e}};
    float px[4], py[4];
    double r = c.rot;
    if (r == 0) {
        for (int i = 0; i < 4; i++) {
            px[i] = (float)(X + off[i][0]);
            py[i] = (float)(Y + off[i][1]);
        }
    } else {
        double a = r * DEG, ca = cos(a), sa = sin(a);
        for (int i = 0; i < 4; i++) {
            px[i] = (float)(X + off[i][0] * ca - off[i][1] * sa);
            py[i] = (float)(Y + off[i][1] * ca + off[i][0] * sa);
        }
    }
    Vertex(0, 0, k.c1, px[0], py[0]);
    Vertex(1, 0, k.c1, px[1], py[1]);
    Vertex(1, 1, k.c2, px[2], py[2]);
    Vertex(0, 0, k.c1, px[0], py[0]);
    Vertex(1, 1, k.c2, px[2], py[2]);
    Vertex(0, 1, k.c2, px[3], py[3]);
    TriCount += 1;
    polyCount += 2;
}

void KELPSys::RenderQuad(DrawCommand& c) { DrawQuadCommand(c); }

void KELPSys::RenderLine(DrawCommand& c) { DrawQuadCommand(c); }

void KELPSys::RenderTri(DrawCommand& c) {
    ShapeBatch();
    Colours k = ReadColours(c);
    Vertex(0, 0, k.c2, (float)c.x, (float)c.y);
    Vertex(1, 0, k.c1, (float)c.X2(), (float)c.Y2());
    Vertex(1, 1, k.c1, (float)c.x3, (float)c.y3);
    TriCount += 1;
    polyCount += 1;
}

void KELPSys::RenderOval(DrawCommand& c) {
    static const RimTable rim;
    ShapeBatch();
    Colours k = ReadColours(c);
    double X = c.x, Y = c.y, a = c.w * 0.5, b = c.h * 0.5;
    for (int i = 0; i < 36; i++) {
        Vertex(0, 0, k.c1, (float)X, (float)Y);
        Vertex(1, 0, k.c2, (float)(X + rim.s[i] * a), (float)(Y - rim.c[i] * b));
        Vertex(1, 1, k.c2, (float)(X + rim.s[i + 1] * a), (float)(Y - rim.c[i + 1] * b));
        TriCount += 1;
        polyCount += 1;
    }
}

void KELPSys::RenderFan(DrawCommand& c) {
    ShapeBatch();
    Colours k = ReadColours(c);
    double X = c.x, Y = c.y, a = c.w * 0.5, b = c.h * 0.5, r = c.rot;
    for (int i = 0; i < 36; i++) {
        const GLubyte* col = (i % 2 == 0) ? k.c2 : k.c1;
        double t0 = (10.0 * i - r) * DEG, t1 = (10.0 * i + 10 - r) * DEG;
        Vertex(0, 0, col, (float)X, (float)Y);
        Vertex(1, 0, col, (float)(X + sin(t0) * a), (float)(Y - cos(t0) * b));
        Vertex(1, 1, col, (float)(X + sin(t1) * a), (float)(Y - cos(t1) * b));
        TriCount += 1;
        polyCount += 1;
    }
}

void KELPSys::RenderImage(DrawCommand& c) { DrawImageCommand(c, false); }

void KELPSys::RenderImageBlur(DrawCommand& c) { DrawImageCommand(c, true); }

void KELPSys::RenderQuadImage(DrawCommand& c) {
    int m = ImageSource(c, false, true);
    if (m < 0) return;
    TexRect tr = FrameCoords(m, c.frame);
    Colours k = ReadColours(c);
    float x1 = (float)c.x, y1 = (float)c.y, x2 = (float)c.X2(), y2 = (float)c.Y2();
    float x3 = (float)c.x3, y3 = (float)c.y3, x4 = (float)c.x4, y4 = (float)c.y4;
    Vertex(tr.s0, tr.t0, k.c1, x1, y1);
    Vertex(tr.s1, tr.t0, k.c1, x2, y2);
    Vertex(tr.s1, tr.t1, k.c2, x3, y3);
    Vertex(tr.s0, tr.t0, k.c1, x1, y1);
    Vertex(tr.s1, tr.t1, k.c2, x3, y3);
    Vertex(tr.s0, tr.t1, k.c2, x4, y4);
    TriCount += 1;
    polyCount += 2;
}

}  // namespace kelp
