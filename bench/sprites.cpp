// Frame time of N moving 32-pixel sprites drawn through the framework
// (update: move and queue; render: RenderSys), and of a text-heavy frame.
// Prints figures; asserts nothing. bench/run_sprites.sh runs it beside the
// plain-GL reference and prints the ratio.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/sprite_scene.h"
#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

using namespace sprites;

static Sprite S[kMax];
static MyGame& g = ThisGame;
static bool apiQueues = true;   // false while DrawImg is not built yet

static void FillSheetSlot(int slot) {
    Image[slot] = MakeSheet();
    ImageBlur[slot].assign(Image[slot].size(), 0);
    imageFrames[slot] = kFrames;
    iFramesW[slot] = kPerRow;
    iFramesWz[slot] = (float)kCell / kEdge;
    iSize[slot] = kEdge;
    imageFrameSize[slot] = kFrame;
    imageUnit[slot] = kCell / 800.0f;
}

// One image record as DrawImg lays it out, with the current state.
static void Record(DrawCommand& c, int slot, float x, float y, int frame) {
    c.kind = CMD_IMAGE;
    c.x = x - ASys.rw2;
    c.y = y - ASys.rh2;
    c.w = ASys.sizeX * ASys.imageScale;
    c.h = ASys.sizeY * ASys.imageScale;
    c.image = slot;
    c.frame = frame;
}

static void Queue(int slot, float x, float y, int frame) {
    if (apiQueues) {
        g.DrawImg(slot, x, y, frame);
        return;
    }
    DrawCommand* c = ASys.NewCommand();
    if (!c) return;
    Record(*c, slot, x, y, frame);
    ASys.CopyState(*c);
}

struct Times {
    double update, render;
    int uploads, tris;
};

// One update and one render of n sprites. The write list holds 16,666
// commands; beyond that the sprites go straight into the render list (which
// holds 50,000), so the render still draws all n.
static void SpriteFrame(int n, Times& t) {
    double t0 = Now();
    Move(S, n);
    g.ResetDraw();
    int viaList = n < DRAW_LIST_MAX ? n : DRAW_LIST_MAX;
    for (int i = 0; i < viaList; i++) Queue(0, S[i].x, S[i].y, S[i].frame);
    g.BufferGame();
    for (int i = viaList; i < n && DrawToRT < RENDER_LIST_MAX; i++) {
        DrawCommand& c = DrawR[DrawToRT++];
        c = DrawR[0];
        Record(c, 0, S[i].x, S[i].y, S[i].frame);
    }
    double t1 = Now();
    ASys.RenderSys(0);
    double t2 = Now();
    t.update += t1 - t0;
    t.render += t2 - t1;
    t.uploads = TexUploads;
    t.tris = ASys.polyCount;
}

static void TextFrame(int lines, Times& t) {
    static const char* line = "The quick brown fox jumps over the lazy dog 0123";
    double t0 = Now();
    g.ResetDraw();
    g.SetSize(0.4f);
    g.SetFont(51);
    int before = ASys.drawCount;
    for (int i = 0; i < lines; i++) g.Text(8, 4 + 3.0f * i, line);
    if (ASys.drawCount == before) {
        // Text is not built yet: queue the glyphs it would.
        for (int i = 0; i < lines; i++)
            for (int k = 0; line[k]; k++) Queue(51, 8 + 5.6f * k, 4 + 3.0f * i, line[k] - 32);
    }
    g.BufferGame();
    double t1 = Now();
    ASys.RenderSys(0);
    double t2 = Now();
    t.update += t1 - t0;
    t.render += t2 - t1;
    t.uploads = TexUploads;
    t.tris = ASys.polyCount;
}

int main(int argc, char** argv) {
    g.SetDataRoot((std::string(KELP_BIN_DIR) + "/MyGame").c_str());
    g.gameNumber = 550;
    ASys.SysInit("Sprite benchmark");
    if (!ASys.window) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    g.showStats = 0;
    g.Smooth(0);
    g.CLS(0, 0, 40);
    FillSheetSlot(0);

    ASys.drawCount = 0;
    g.DrawImg(0, 10, 10, 0);
    apiQueues = ASys.drawCount == 1;
    ASys.drawCount = 0;

    // No argument: every count and the text frame; a number: that many
    // sprites only; "text": the text frame only.
    int counts[3] = {1000, 10000, 50000};
    int nCounts = 3;
    bool text = true;
    if (argc > 1) {
        text = strcmp(argv[1], "text") == 0;
        nCounts = text ? 0 : 1;
        counts[0] = atoi(argv[1]);
        if (counts[0] > kMax) counts[0] = kMax;
    }
    if (nCounts > 0) {
        printf("Sprites through the framework, window %dx%d%s\n", ASys.fbWidth, ASys.fbHeight,
               apiQueues ? "" : " (DrawImg not built: records written by hand)");
        printf("| %8s | %6s | %10s | %10s | %10s | %7s | %7s |\n", "sprites", "frames", "update ms",
               "render ms", "frame ms", "uploads", "tris");
    }
    for (int c = 0; c < nCounts; c++) {
        int n = counts[c], frames = FramesFor(n);
        Place(S, n);
        Times t = {0, 0, 0, 0};
        for (int i = 0; i < 3; i++) SpriteFrame(n, t);
        t = {0, 0, 0, 0};
        for (int i = 0; i < frames; i++) SpriteFrame(n, t);
        double u = t.update * 1000 / frames, r = t.render * 1000 / frames;
        printf("| %8d | %6d | %10.3f | %10.3f | %10.3f | %7d | %7d |\n", n, frames, u, r, u + r, t.uploads, t.tris);
        printf("RESULT ours %d %.4f\n", n, u + r);
    }
    if (text) {
        g.LoadFont(51, "entplain.png");
        if (imageFrames[51] < 0) {
            // No font on disk: a stand-in sheet with the font's geometry.
            FillSheetSlot(51);
            imageFrames[51] = 96;
        }
        Times t = {0, 0, 0, 0};
        for (int i = 0; i < 3; i++) TextFrame(200, t);
        t = {0, 0, 0, 0};
        const int frames = 30;
        for (int i = 0; i < frames; i++) TextFrame(200, t);
        double u = t.update * 1000 / frames, r = t.render * 1000 / frames;
        printf("\nText-heavy frame: 200 lines of 48 characters, font slot edge %d\n", iSize[51]);
        printf("  update %.3f ms, render %.3f ms, frame %.3f ms, %d uploads, %d triangles\n", u, r, u + r,
               t.uploads, t.tris);
    }
    ASys.Close();
    return 0;
}
