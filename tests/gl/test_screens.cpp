// The demo's own screens and its staged loader on a real window, checked
// against what the renderer and the loader produced before they kept
// texture objects and loaded on a worker thread.
//
// tests/data/screens holds, for each screen, the draw list the demo had
// committed (`<name>.dl`: a zlib-packed record of the list and the clear
// colour state) and the frame that list was drawn to (`<name>.png`), plus the
// loader's log lines and a digest of every slot it filled. The references
// were recorded with KELP_RECORD_SCREENS set to that folder:
//   KELP_RECORD_SCREENS=$PWD/tests/data/screens python3 tests/harness/with_xvfb.py
//       build/tests/gl_tests --gtest_filter='Screens.*'
// A recording run writes the files and skips the comparisons.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>
#include <lodepng.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

const char* const kScreens[] = {"loading", "start", "level", "options", "redefine",
                                "credits", "game",  "pause", "banner"};
// The loading screen is recorded mid-way through the logo's wave: tiles of
// every size, some rows blended additively and some not.
const int kLoadingStep = 20;

std::string RefDir() { return std::string(KELP_TEST_DATA) + "/screens"; }

const char* RecordDir() {
    const char* d = getenv("KELP_RECORD_SCREENS");
    return d && *d ? d : nullptr;
}

uint64_t Digest(const std::vector<unsigned char>& v) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char b : v) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

// One line per slot: what the table says about it and digests of both planes.
std::string SlotLine(int slot) {
    char line[256];
    snprintf(line, sizeof line, "%d %d %d %.9g %d %d %.9g %016llx %016llx", slot, imageFrames[slot], iFramesW[slot],
             (double)iFramesWz[slot], iSize[slot], imageFrameSize[slot], (double)imageUnit[slot],
             (unsigned long long)Digest(Image[slot]), (unsigned long long)Digest(ImageBlur[slot]));
    return line;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path);
    for (auto& l : lines) out << l << "\n";
}

// The log's text without its running numbers. A machine with a sound
// device also logs the size of each effect it loads ("     Load 123 bytes");
// those lines are left out, so the order can be compared anywhere.
std::vector<std::string> LogTexts(const std::string& out) {
    std::vector<std::string> texts;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) {
        size_t p = l.find("> ");
        if (p == 8) l = l.substr(10);
        if (l.rfind("     Load ", 0) == 0 && l.size() > 10 && isdigit((unsigned char)l[10])) continue;
        texts.push_back(l);
    }
    return texts;
}

// What a render reads besides the image table: the committed list and the
// clear colour's fade state.
struct Snapshot {
    std::vector<DrawCommand> list;
    float cls[7];
    float smooth;
};

Snapshot Take() {
    Snapshot s;
    s.list.assign(DrawR, DrawR + DrawToRT);
    memcpy(s.cls, ASys.clsCurrent, 3 * sizeof(float));
    memcpy(s.cls + 3, ASys.clsTarget, 3 * sizeof(float));
    s.cls[6] = ASys.clsSpeed;
    s.smooth = ASys.smooth;
    return s;
}

void Put(const Snapshot& s) {
    DrawToRT = (int32_t)s.list.size();
    std::copy(s.list.begin(), s.list.end(), DrawR);
    memcpy(ASys.clsCurrent, s.cls, 3 * sizeof(float));
    memcpy(ASys.clsTarget, s.cls + 3, 3 * sizeof(float));
    ASys.clsSpeed = s.cls[6];
    ASys.smooth = s.smooth;
}

void Save(const Snapshot& s, const std::string& path) {
    std::vector<unsigned char> raw(8 * sizeof(float) + s.list.size() * sizeof(DrawCommand));
    memcpy(raw.data(), s.cls, 7 * sizeof(float));
    memcpy(raw.data() + 7 * sizeof(float), &s.smooth, sizeof(float));
    memcpy(raw.data() + 8 * sizeof(float), s.list.data(), s.list.size() * sizeof(DrawCommand));
    std::vector<unsigned char> packed;
    ASSERT_EQ(0u, lodepng::compress(packed, raw));
    ASSERT_EQ(0u, lodepng::save_file(packed, path));
}

bool Load(Snapshot& s, const std::string& path) {
    std::vector<unsigned char> packed, raw;
    if (lodepng::load_file(packed, path) || lodepng::decompress(raw, packed)) return false;
    if (raw.size() < 8 * sizeof(float) || (raw.size() - 8 * sizeof(float)) % sizeof(DrawCommand)) return false;
    memcpy(s.cls, raw.data(), 7 * sizeof(float));
    memcpy(&s.smooth, raw.data() + 7 * sizeof(float), sizeof(float));
    s.list.resize((raw.size() - 8 * sizeof(float)) / sizeof(DrawCommand));
    memcpy(s.list.data(), raw.data() + 8 * sizeof(float), s.list.size() * sizeof(DrawCommand));
    return true;
}

// The frame just rendered, top row first, RGB.
std::vector<unsigned char> ReadFrame() {
    const int w = ASys.fbWidth, h = ASys.fbHeight;
    std::vector<unsigned char> rgba((size_t)w * h * 4), rgb((size_t)w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            memcpy(&rgb[((size_t)y * w + x) * 3], &rgba[((size_t)(h - 1 - y) * w + x) * 4], 3);
    return rgb;
}

class Screens : public ::testing::Test {
protected:
    static MyGame& G() { return ThisGame; }

    static void SetUpTestSuite() {
        MyGame& g = G();
        g.SetDataRoot((std::string(KELP_DATA_DIR) + "/../../MyGame").c_str());
        g.Begin(550, "Screens test");
        if (!ASys.window) return;
        g.gameVersion = 1;
        g.SetKeyword("Sample keyword text");
        g.Smooth(0);
        memset(g.saveData, 0, sizeof g.saveData);
        g.saveData[0] = g.saveData[1] = 7;
        g.saveData[101] = 2;
        g.KeyDefaults();
        g.showStats = 0;
        g.gameMode = 0;
        g.menuPage = 0;
        g.subScreen = 0;
        g.logoZoom = 1;
        g.FlushGame();
        g.overscan = 0;

        // The loader, update by update, with its log captured. After each
        // update the committed list is checked: every image it names must be
        // a slot that is complete already.
        g.loadStep = 1;
        updates_ = 0;
        testing::internal::CaptureStdout();
        while (g.loadStep > 0 && updates_ < 400) {
            int step = g.loadStep;
            g.Update();
            updates_++;
            for (int i = 0; i < DrawToRT; i++) {
                int kind = (int)DrawR[i].kind;
                if (kind == CMD_IMAGE || kind == CMD_QUADIMAGE || kind == CMD_BLUR)
                    drawnDuringLoad_.push_back({updates_, (int)DrawR[i].image});
            }
            CheckDrawnSlots();
            if (RecordDir() && step == kLoadingStep) Record("loading");
            g.Render();
        }
        log_ = LogTexts(testing::internal::GetCapturedStdout());
        for (int s = 0; s < IMAGE_SLOTS; s++)
            if (imageFrames[s] >= 0) slots_.push_back(SlotLine(s));
        if (RecordDir()) RecordScreens();
    }

    static void TearDownTestSuite() {
        G().StopMusic();
        ASys.Close();
    }

    void SetUp() override {
        ASSERT_NE(nullptr, ASys.window);
        if (RecordDir()) GTEST_SKIP() << "recording the references into " << RecordDir();
    }

    // Slots named by this update's list, checked against their final state:
    // a slot that shows must be exactly what it is once loading is over.
    static void CheckDrawnSlots() {
        std::set<int> named;
        for (int i = 0; i < DrawToRT; i++) {
            int kind = (int)DrawR[i].kind;
            if (kind == CMD_IMAGE || kind == CMD_QUADIMAGE || kind == CMD_BLUR) named.insert((int)DrawR[i].image);
        }
        for (int s : named)
            if (s >= 0 && s < IMAGE_SLOTS) drawnLines_.push_back({updates_, SlotLine(s)});
    }

    // Runs n updates and renders of whatever the mode fields select.
    static void Run(int n, const std::function<void()>& before = [] {}) {
        for (int i = 0; i < n; i++) {
            before();
            G().Update();
            G().Render();
        }
    }

    // One more update; its list and the frame it renders to become a reference.
    static void Capture(const char* name, const std::function<void()>& before = [] {}) {
        before();
        G().Update();
        Record(name);
        G().Render();
    }

    static void Record(const char* name) {
        std::string base = std::string(RecordDir()) + "/" + name;
        Snapshot s = Take();
        Save(s, base + ".dl");
        ASys.RenderSys(G().overscan);
        std::vector<unsigned char> rgb = ReadFrame();
        lodepng::encode(base + ".png", rgb, ASys.fbWidth, ASys.fbHeight, LCT_RGB, 8);
        Put(s);   // the game's own render follows, from the same state
    }

    static void RecordScreens() {
        MyGame& g = G();
        const std::string dir = RecordDir();
        WriteLines(dir + "/loader_log.txt", log_);
        WriteLines(dir + "/slots.txt", slots_);

        g.AddDefaultCredits();
        Run(40);
        Capture("start");
        g.menuPage = 1;
        Run(80, [] { G().menuPage = 1; });
        Capture("level", [] { G().menuPage = 1; });
        g.menuPage = 0;
        g.subScreen = 1;
        Run(30, [] { G().subScreen = 1; });
        Capture("options", [] { G().subScreen = 1; });
        g.subScreen = 3;
        Run(30, [] { G().subScreen = 3; });
        Capture("redefine", [] { G().subScreen = 3; });
        g.subScreen = 2;
        Run(90, [] { G().subScreen = 2; });
        Capture("credits", [] { G().subScreen = 2; });
        g.subScreen = 0;
        g.gameMode = 11;
        auto fire = [] {
            MyGame& m = G();
            for (int k = 0; k < 3; k++)
                m.ThrowParticle(m.screenW / 2, m.screenH / 2, 40.0f * k, 2 * k, k + 1, 120.0f * k + 7, 4 + k);
        };
        Run(40, fire);
        Capture("game", fire);
        g.paused = 1;
        Run(20);
        Capture("pause");
        g.paused = 0;
        g.EndGame(4);
        Run(30);
        Capture("banner");
    }

    // Draws a recorded list and compares the frame with the recorded one.
    // Returns the texture uploads of that render.
    int ExpectSameFrame(const std::string& name, const std::string& what) {
        Snapshot s;
        if (!Load(s, RefDir() + "/" + name + ".dl")) {
            ADD_FAILURE() << "cannot read " << name << ".dl";
            return -1;
        }
        std::vector<unsigned char> want;
        unsigned w = 0, h = 0;
        if (lodepng::decode(want, w, h, RefDir() + "/" + name + ".png", LCT_RGB, 8)) {
            ADD_FAILURE() << "cannot read " << name << ".png";
            return -1;
        }
        Put(s);
        ASys.RenderSys(0);
        int uploads = TexUploads;
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError()) << name;
        std::vector<unsigned char> got = ReadFrame();
        if ((int)w != ASys.fbWidth || (int)h != ASys.fbHeight) {
            ADD_FAILURE() << name << ": frame is " << ASys.fbWidth << "x" << ASys.fbHeight << ", reference " << w
                          << "x" << h;
            return uploads;
        }
        size_t differ = 0, first = 0;
        int worst = 0;
        for (size_t i = 0; i < got.size(); i++) {
            int d = abs((int)got[i] - (int)want[i]);
            if (d && !differ++) first = i / 3;
            if (d > worst) worst = d;
        }
        if (differ) {
            std::string out = "/tmp/kelp_screen_" + name + ".png";
            lodepng::encode(out, got, w, h, LCT_RGB, 8);
            ADD_FAILURE() << name << " (" << what << "): " << differ << " channel values differ, up to " << worst
                          << "; first at (" << first % w << ", " << first / w << "); frame saved as " << out;
        }
        return uploads;
    }

    static int updates_;
    static std::vector<std::string> log_, slots_;
    static std::vector<std::pair<int, int>> drawnDuringLoad_;
    static std::vector<std::pair<int, std::string>> drawnLines_;
};

int Screens::updates_ = 0;
std::vector<std::string> Screens::log_, Screens::slots_;
std::vector<std::pair<int, int>> Screens::drawnDuringLoad_;
std::vector<std::pair<int, std::string>> Screens::drawnLines_;

TEST_F(Screens, LoaderTakes120UpdatesAndLogsAsBefore) {
    EXPECT_EQ(120, updates_);
    EXPECT_EQ(ReadLines(RefDir() + "/loader_log.txt"), log_);
}

TEST_F(Screens, LoaderFillsTheSlotsAsBefore) { EXPECT_EQ(ReadLines(RefDir() + "/slots.txt"), slots_); }

TEST_F(Screens, NoSlotIsDrawnBeforeItIsComplete) {
    // The loading screen writes with the font from the first update and
    // builds the logo from step 6 on.
    std::set<int> named;
    for (auto& d : drawnDuringLoad_) named.insert(d.second);
    EXPECT_EQ((std::set<int>{51, 60}), named);
    ASSERT_FALSE(drawnLines_.empty());
    for (auto& d : drawnLines_) {
        bool found = false;
        for (auto& s : slots_) found = found || s == d.second;
        EXPECT_TRUE(found) << "update " << d.first << " drew a slot that differs from its final state: " << d.second;
    }
}

TEST_F(Screens, EveryScreenDrawsAsBefore) {
    for (const char* name : kScreens) ExpectSameFrame(name, "first time");
    // Every plane is on the GL side now: drawing them again uploads nothing.
    for (const char* name : kScreens) EXPECT_EQ(0, ExpectSameFrame(name, "second time")) << name;
}

// The textures a recorded list draws from (source keys, as TexUse has them).
std::set<int> SourceKeys(const std::string& name) {
    Snapshot s;
    std::set<int> keys = {-2};   // every screen draws shapes too
    if (!Load(s, RefDir() + "/" + name + ".dl")) return keys;
    for (const DrawCommand& c : s.list) {
        int kind = (int)c.kind;
        int slot = (int)c.image;
        if (kind == CMD_IMAGE || kind == CMD_QUADIMAGE) keys.insert(slot);
        if (kind == CMD_BLUR) keys.insert(slot + 200);
    }
    return keys;
}

TEST_F(Screens, ANewWindowUploadsEveryPlaneOnceAndDrawsAsBefore) {
    // Full screen and back, as F11 twice: each switch is a new window with a
    // new GL context that has none of the old one's textures.
    ASys.FlipFull();
    ASSERT_NE(nullptr, ASys.window);
    ASSERT_TRUE(ASys.isFullscreen);
    Snapshot s;
    ASSERT_TRUE(Load(s, RefDir() + "/start.dl"));
    Put(s);
    ASys.RenderSys(0);
    EXPECT_EQ(SourceKeys("start").size(), (size_t)TexUploads);
    // The start page is the menu's picture all over: a frame with its images
    // lost would be the clear colour or the untextured quads' white.
    std::vector<unsigned char> f = ReadFrame();
    long sum[3] = {0, 0, 0};
    for (size_t i = 0; i < f.size(); i++) sum[i % 3] += f[i];
    const long n = (long)f.size() / 3;
    EXPECT_GT(sum[1] / n, 60) << "green";
    EXPECT_LT(sum[0] / n, 200) << "red";

    ASys.FlipFull();
    ASSERT_NE(nullptr, ASys.window);
    ASSERT_EQ(800, ASys.fbWidth);
    // Each texture once, when the first screen that needs it is drawn.
    std::set<int> all;
    int uploads = 0;
    for (const char* name : kScreens) {
        std::set<int> keys = SourceKeys(name);
        all.insert(keys.begin(), keys.end());
        uploads += ExpectSameFrame(name, "in a new window");
    }
    EXPECT_EQ(all.size(), (size_t)uploads);
    for (const char* name : kScreens) EXPECT_EQ(0, ExpectSameFrame(name, "again in the new window")) << name;
}

TEST_F(Screens, SteadyFramesUploadNothing) {
    MyGame& g = G();
    struct Case {
        const char* what;
        std::function<void()> enter;
    } cases[] = {
        {"start page", [&] { g.loadStep = 0; g.gameMode = 0; g.menuPage = 0; g.subScreen = 0; }},
        {"level page", [&] { g.menuPage = 1; }},
        {"options", [&] { g.menuPage = 0; g.subScreen = 1; }},
        {"credits", [&] { g.subScreen = 2; }},
        {"game", [&] { g.subScreen = 0; g.gameMode = 11; }},
    };
    for (auto& c : cases) {
        c.enter();
        Run(3);
        for (int i = 0; i < 5; i++) {
            g.Update();
            g.Render();
            EXPECT_EQ(0, TexUploads) << c.what << ", frame " << i;
            EXPECT_GT(TexBatches, 0) << c.what;
        }
    }
}

}  // namespace
