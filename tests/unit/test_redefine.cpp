// The redefine-keys overlay, driven through the real input poll with a fake
// keyboard: navigation, capture, the test countdown and saving.
#include <GLFW/glfw3.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frontend_fixture.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

bool fakeKeys[GLFW_KEY_LAST + 1];
int FakeKeyDown(int key) { return key >= 0 && key <= GLFW_KEY_LAST && fakeKeys[key]; }

}  // namespace

class RedefineScreen : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        savedHook_ = InputKeyDown;
        InputKeyDown = FakeKeyDown;
        std::memset(fakeKeys, 0, sizeof fakeKeys);
        std::memcpy(savedRedef_, ASys.redef, sizeof savedRedef_);
        g.FlushKeys();
        g.KeyDefaults();
        std::memset(ignorePress, 0, sizeof ignorePress);
        g.subScreen = 3;
        g.redefRow = -1;
        g.redefCol = 0;
        g.testTimer = 0;
        g.captureTimer = 0;
        g.captureLock = 0;
    }
    void TearDown() override {
        InputKeyDown = savedHook_;
        std::memcpy(ASys.redef, savedRedef_, sizeof savedRedef_);
        std::memset(fakeKeys, 0, sizeof fakeKeys);
        g.keyLatch[66] = 0;
        FrontEnd::TearDown();
    }
    // One update: poll the (fake) devices, then the screen.
    void Update() {
        ASys.PollInputB(0);
        Frame([&] { g.RedefineKeys(); });
    }
    void Tap(int key) {
        fakeKeys[key] = true;
        Update();
        fakeKeys[key] = false;
        Update();
    }
    bool Capturing() const { return g.keyLatch[66] == 2; }
    bool Bound(int action, int code) {
        for (int s = 0; s < 64; s++)
            if (g.KeyValue(action, s) == code) return true;
        return false;
    }

    int (*savedHook_)(int) = nullptr;
    int32_t savedRedef_[64][16];
};

TEST_F(RedefineScreen, RowsWrapAndColumnsStopAtTheRowEnd) {
    struct Case { int row, col, key, toRow, toCol; } cases[] = {
        {-2, 0, GLFW_KEY_UP, 4, 0},
        {4, 1, GLFW_KEY_DOWN, -2, 0},
        {1, 1, GLFW_KEY_RIGHT, 1, 1},
        {2, 3, GLFW_KEY_RIGHT, 2, 3},
        {2, 3, GLFW_KEY_UP, 1, 1},
        {0, 0, GLFW_KEY_LEFT, 0, 0},
        {3, 0, GLFW_KEY_D, 3, 1},  // the fixed WASD keys navigate too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.row << "," << c.col << " key " << c.key);
        g.redefRow = c.row;
        g.redefCol = c.col;
        Tap(c.key);
        EXPECT_EQ(c.toRow, g.redefRow);
        EXPECT_EQ(c.toCol, g.redefCol);
    }
}

TEST_F(RedefineScreen, CaptureBindsTheNextNewPressNotTheOpeningOne) {
    struct Case { const char* what; int key; } cases[] = {
        {"the opening key again", GLFW_KEY_Z},
        {"a navigation key", GLFW_KEY_DOWN},
        {"escape", GLFW_KEY_ESCAPE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g.FlushKeys();
        g.KeyDefaults();
        g.redefRow = 1;  // "Up"
        g.redefCol = 0;
        ASSERT_FALSE(Bound(0, c.key));

        fakeKeys[GLFW_KEY_Z] = true;
        Update();
        ASSERT_TRUE(Capturing());
        for (int i = 0; i < 5; i++) Update();  // held: not caught
        EXPECT_TRUE(Capturing());
        EXPECT_FALSE(Bound(0, GLFW_KEY_Z));
        fakeKeys[GLFW_KEY_Z] = false;
        Update();

        testing::internal::CaptureStdout();
        fakeKeys[c.key] = true;
        Update();
        const std::string out = testing::internal::GetCapturedStdout();
        fakeKeys[c.key] = false;
        Update();

        EXPECT_FALSE(Capturing());
        EXPECT_EQ(c.key, g.KeyValue(0, 63));
        EXPECT_NE(std::string::npos, out.find("Button Caught " + std::to_string(c.key) + "\n"));
        // The input left the action that had it, and the selection never moved.
        for (int a = 1; a < 16; a++) EXPECT_FALSE(Bound(a, c.key)) << a;
        EXPECT_EQ(1, g.redefRow);
        EXPECT_EQ(0, g.redefCol);
    }
}

TEST_F(RedefineScreen, CaptureGivesUpAfter359UpdatesWithoutBinding) {
    g.redefRow = 3;  // "Down"
    g.redefCol = 0;
    int32_t before[64][16];
    std::memcpy(before, ASys.redef, sizeof before);
    Tap(GLFW_KEY_Z);
    ASSERT_TRUE(Capturing());
    // The timer starts at 359 on the opening update and the capture ends on
    // the update that takes it below 0.
    int updates = 2;
    while (Capturing() && updates < 1000) {
        Update();
        updates++;
    }
    EXPECT_EQ(361, updates);
    EXPECT_EQ(0, g.captureTimer);
    EXPECT_EQ(0, std::memcmp(before, ASys.redef, sizeof before));
    Tap(GLFW_KEY_UP);
    EXPECT_EQ(2, g.redefRow);
}

TEST_F(RedefineScreen, TestModeFreezesNavigationFor359Updates) {
    g.redefRow = -1;
    Tap(GLFW_KEY_SPACE);  // Space is a fixed button 1 key as well
    EXPECT_EQ(357, g.testTimer);
    EXPECT_FALSE(Capturing());
    Tap(GLFW_KEY_DOWN);
    EXPECT_EQ(-1, g.redefRow);
    while (g.testTimer > 0) Update();
    Update();  // the first idle update releases the navigation latch
    Tap(GLFW_KEY_DOWN);
    EXPECT_EQ(0, g.redefRow);
}

TEST_F(RedefineScreen, SaveStoresTheBindingsAndReturnsToOptions) {
    const std::string root = PrivateRoot();
    g.redefRow = 2;  // "Button 3"
    g.redefCol = 2;
    Tap(GLFW_KEY_Z);
    Update();  // inputs held as the capture starts stay locked for two updates
    Update();
    Tap(GLFW_KEY_P);
    ASSERT_EQ(GLFW_KEY_P, g.KeyValue(12, 63));

    g.redefRow = -2;
    g.redefCol = 0;
    Tap(GLFW_KEY_Z);
    EXPECT_EQ(1, g.subScreen);

    FILE* f = std::fopen((root + "/Settings.sav").c_str(), "rb");
    ASSERT_NE(nullptr, f);
    unsigned char b[4] = {0, 0, 0, 0};
    // Action 12, slot 63, after the 100 settings.
    std::fseek(f, 400 + (12 * 64 + 63) * 4, SEEK_SET);
    ASSERT_EQ(4u, std::fread(b, 1, 4, f));
    std::fclose(f);
    EXPECT_EQ(GLFW_KEY_P, b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
}

TEST_F(RedefineScreen, TheDefinePressDoesNotAlsoStartTheTest) {
    g.subScreen = 1;
    g.optSelected = 6;  // "Controller"
    g.optScroll = 0;
    fakeKeys[GLFW_KEY_Z] = true;
    ASys.PollInputB(0);
    Frame([&] { g.Options(); });
    ASSERT_EQ(3, g.subScreen);
    EXPECT_EQ(-1, g.redefRow);  // on "Test"
    for (int i = 0; i < 5; i++) Update();  // Z still held
    EXPECT_EQ(0, g.testTimer);
    fakeKeys[GLFW_KEY_Z] = false;
    Update();
    Tap(GLFW_KEY_Z);  // a fresh press does start it
    EXPECT_GT(g.testTimer, 300);
}
