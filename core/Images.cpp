// Images, fonts and text: asset paths, the image draw commands, and the
// layout and measuring of text with the font's fixed glyph widths.
#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

namespace {

// The name as the asset tree knows it: backslashes become slashes.
string SlashName(string name) {
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return name;
}

bool HasPngExtension(const string& name) {
    if (name.size() < 4) return false;
    string ext = name.substr(name.size() - 4);
    // Only these three spellings count; any other mix gets ".png" appended.
    return ext == ".png" || ext == ".Png" || ext == ".PNG";
}

bool SlotLoaded(int slot) { return slot >= 0 && slot < IMAGE_SLOTS && imageFrames[slot] >= 0; }

// A missing image is drawn on every frame: it is reported once per slot,
// and again only after the slot has changed (a load was tried, or the slot
// was seen holding an image). A number that names no slot never changes, so
// it is reported once, for the first few such numbers.
void ReportMissing(KELPCore* core, int slot) {
    if (slot >= 0 && slot < IMAGE_SLOTS) {
        if (imageMissingLogged[slot]) return;
        imageMissingLogged[slot] = 1;
    } else {
        static std::set<int> reported;
        if (reported.size() >= 64 || !reported.insert(slot).second) return;
    }
    KELPSys::Debuglog(core->fstr("Missing Image %i", slot));
}

void SlotChanging(int slot) {
    if (slot >= 0 && slot < IMAGE_SLOTS) imageMissingLogged[slot] = 0;
}

// Advance of glyph g (character code - 32) before scaling.
float GlyphWidth(int g) { return (g >= 0 && g < 132) ? (float)fontw[g] : 0.0f; }

}  // namespace

void KELPCore::LoadImg(int slot, string name, int size) {
    name = SlashName(name);
    KELPSys::Debuglog(fstr("Load Image : %s ", name.c_str()));
    const char* path = HasPngExtension(name) ? fstr("%s/Data/%i/%s", dataRoot, gameNumber, name.c_str())
                                             : fstr("%s/Data/%i/%s.png", dataRoot, gameNumber, name.c_str());
    // A negative size reaches the loader as a huge value, which it refuses.
    SlotChanging(slot);
    ASys.GetPNG(slot, path, (unsigned)size);
}

// Queued loads: the path and the log line are the same as LoadImg's and
// LoadFont's; decoding and packing run on the loading thread.
static void QueueImage(KELPCore* core, int due, int slot, string name, unsigned size, bool font) {
    name = SlashName(name);
    const string path = string(core->dataRoot) + "/Data/" + std::to_string(core->gameNumber) + "/" + name +
                        (HasPngExtension(name) ? "" : ".png");
    auto img = std::make_shared<PreparedImage>();
    // Its texture storage is made now, while the loader starts, rather than
    // in the frame that first draws it.
    ASys.ReserveTexture(slot, (int)PlannedPlaneEdge(path.c_str(), size));
    std::function<void()> prepare;
    // A slot outside the table is refused when the load is collected; there
    // is nothing to decode for it.
    if (slot >= 0 && slot <= 99) {
        prepare = [img, path, size] {
            try {
                *img = PrepareImage(path.c_str(), size);
            } catch (const std::bad_alloc&) {
                *img = PreparedImage();
                img->log = {"OMGERRORZ", "    " + path + " : out of memory"};
            }
        };
    }
    core->QueueLoad(due, slot, prepare, [core, img, slot, name, font] {
        KELPSys::Debuglog(core->fstr(font ? "Load Font  : %s " : "Load Image : %s ", name.c_str()));
        SlotChanging(slot);
        ASys.CommitImage(slot, *img);
        if (font) ASys.curFont = slot;
    });
}

void KELPCore::QueueImg(int due, int slot, string name, int size) {
    QueueImage(this, due, slot, name, (unsigned)size, false);
}

void KELPCore::QueueFont(int due, int slot, string name) { QueueImage(this, due, slot, name, 32, true); }

void KELPCore::LoadFont(int slot, string name) {
    name = SlashName(name);
    KELPSys::Debuglog(fstr("Load Font  : %s ", name.c_str()));
    const char* path = HasPngExtension(name) ? fstr("%s/Data/%i/%s", dataRoot, gameNumber, name.c_str())
                                             : fstr("%s/Data/%i/%s.png", dataRoot, gameNumber, name.c_str());
    SlotChanging(slot);
    ASys.GetPNG(slot, path, 32);
    ASys.curFont = slot;
}

// Shared by the three image kinds: the slot must hold an image and the list
// must have room. Returns the command to fill, or null.
static DrawCommand* ImageCommand(KELPCore* core, int slot, int kind) {
    if (!SlotLoaded(slot)) {
        ReportMissing(core, slot);
        return nullptr;
    }
    SlotChanging(slot);
    DrawCommand* cmd = ASys.NewCommand();
    if (!cmd) return nullptr;
    cmd->kind = kind;
    cmd->pad9 = 0;
    cmd->pad23[3] = 0;
    cmd->pad23[4] = 0;
    return cmd;
}

// An image or blurred-image command: the same record, only the kind differs.
static void QueueImage(KELPCore* core, int kind, int slot, float x, float y, int frame) {
    DrawCommand* cmd = ImageCommand(core, slot, kind);
    if (!cmd) return;
    cmd->x = x - ASys.rw2;
    cmd->y = y - ASys.rh2;
    cmd->w = ASys.sizeX * ASys.imageScale;
    cmd->h = ASys.sizeY * ASys.imageScale;
    cmd->image = slot;
    cmd->frame = frame;
    ASys.CopyState(*cmd);
}

// A NaN or infinite position draws nothing (said once).
void KELPCore::DrawImg(int slot, float x, float y, int frame) {
    if (Finite("DrawImg", {x, y}, "nothing drawn")) QueueImage(this, CMD_IMAGE, slot, x, y, frame);
}

void KELPCore::DrawBlur(int slot, float x, float y, int frame) {
    if (Finite("DrawBlur", {x, y}, "nothing drawn")) QueueImage(this, CMD_BLUR, slot, x, y, frame);
}

void KELPCore::QuadImg(int slot, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                       int frame) {
    if (!Finite("QuadImg", {x1, y1, x2, y2, x3, y3, x4, y4}, "nothing drawn")) return;
    DrawCommand* cmd = ImageCommand(this, slot, CMD_QUADIMAGE);
    if (!cmd) return;
    cmd->x = x1 - ASys.rw2;
    cmd->y = y1 - ASys.rh2;
    cmd->w = x2 - ASys.rw2;
    cmd->h = y2 - ASys.rh2;
    cmd->x3 = x3 - ASys.rw2;
    cmd->y3 = y3 - ASys.rh2;
    cmd->x4 = x4 - ASys.rw2;
    cmd->y4 = y4 - ASys.rh2;
    cmd->image = slot;
    cmd->frame = frame;
    ASys.CopyState(*cmd);
}

void KELPCore::DrawBuffer() {
    if (imageFrames[102] < 0) {
        KELPSys::Debuglog("Previous Buffer Missing");
        return;
    }
    DrawCommand* cmd = ASys.NewCommand();
    if (!cmd) return;
    cmd->kind = CMD_IMAGE;
    cmd->x = 0;
    cmd->y = 0;
    // The grab's unit already maps the framebuffer width onto the canvas.
    cmd->w = ASys.sizeX;
    cmd->h = ASys.sizeY;
    cmd->pad9 = 0;
    cmd->pad23[3] = 0;
    cmd->pad23[4] = 0;
    cmd->image = 102;
    cmd->frame = 0;
    ASys.CopyState(*cmd);
}

void KELPCore::Text(float x, float y, string s, float align, float extra) {
    (void)extra;
    if (!Finite("Text", {x, y, align}, "nothing drawn")) return;
    const float scale = ASys.sizeX * ASys.ViewScale;
    const float r = ASys.rot;
    const float half = StringWidth(s) * 0.5f;
    x += Sin(r - 90) * half * align;
    y -= Cos(r - 90) * half * align;
    const float lead = (fontw[0] - 1) * scale;
    x += Sin(r + 90) * lead;
    y -= Cos(r + 90) * lead;
    // Up to the first NUL, as a C string would end.
    for (const char* p = s.c_str(); *p; p++) {
        int g = (signed char)*p - 32;
        DrawImg(ASys.curFont, x, y, g);
        if (g >= 0 && g < 132) {
            float a = (fontw[g] - 1) * scale;
            x += Sin(r + 90) * a;
            y -= Cos(r + 90) * a;
        }
    }
}

void KELPCore::Text(float x, float y, char c, float align, float extra) {
    (void)extra;
    if (!Finite("Text", {x, y, align}, "nothing drawn")) return;
    const float scale = ASys.sizeX * ASys.ViewScale;
    const float r = ASys.rot;
    const int g = (signed char)c - 32;
    const float w = (g >= 0 && g < 132) ? fontw[g] - 0.5f : 0.0f;
    x += Sin(r - 90) * w * align;
    y -= Cos(r - 90) * w * align;
    const float lead = (fontw[0] - 1) * scale * 0.5f;
    x += Sin(r + 90) * lead;
    y -= Cos(r + 90) * lead;
    DrawImg(ASys.curFont, x, y, g);
}

float KELPCore::StringWidth(string s) {
    const float scale = ASys.sizeX * ASys.ViewScale;
    float w = 0;
    for (const char* p = s.c_str(); *p; p++) {
        int b = (signed char)*p;
        if (b > 31) w += (GlyphWidth(b - 32) - 1) * scale;
    }
    return w;
}

float KELPCore::StringWidth(char c) {
    int b = (signed char)c;
    if (b < 32) return 0;
    return (GlyphWidth(b - 32) - 1) * ASys.sizeX * ASys.ViewScale;
}

float KELPCore::CharWidth(char c) { return StringWidth(c); }
