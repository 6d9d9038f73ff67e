// The options overlay: selection, sliders, toggles, pointer, scrolling, back.
#include <sys/stat.h>

#include "frontend_fixture.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

// Rows: 0 Back, 1 SFX Volume, 2 Music Volume, 3 Fullscreen, 4 Motion
// Reduction, 5 Overscan, 6 Controller, 7 Invert Thumbstick Y, 8 Debug Stats.
// Unscrolled y of each row: 64, then 86 per row and 56 per section label.
const int kRowY[9] = {64, 206, 292, 434, 520, 606, 748, 834, 976};
// On a tall canvas with this scroll every row is in view and nothing moves.
const int kSteadyScroll = 16;

}  // namespace

class OptionsScreen : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        g.subScreen = 1;
        g.screenH = 1200;
        g.optSelected = 0;
        g.optScroll = kSteadyScroll;
        savedSfx_ = g.saveData[0];
        savedStats_ = g.showStats;
    }
    void TearDown() override {
        g.saveData[0] = savedSfx_;
        g.saveData[10] = 0;
        g.saveData[22] = 0;
        g.showStats = savedStats_;
        FrontEnd::TearDown();
    }
    void Options() {
        Frame([&] { g.Options(); });
    }
    // Press an action for one frame, then release it for one.
    void Tap(int action) {
        ASys.Keyv[action] = 1;
        Options();
        ASys.Keyv[action] = 0;
        Options();
    }
    int savedSfx_ = 0, savedStats_ = 0;
};

TEST_F(OptionsScreen, SelectionMovesOncePerPressAndStaysOnTheRows) {
    struct Case { int from, action, frames, to; } cases[] = {
        {0, 0, 1, 0},    // above "Back"
        {8, 2, 1, 8},    // below "Debug Stats [F1]"
        {3, 2, 10, 4},   // held: one step
        {3, 0, 10, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " action " << c.action);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.optSelected = c.from;
        ASys.Keyv[c.action] = 1;
        for (int i = 0; i < c.frames; i++) Options();
        EXPECT_EQ(c.to, g.optSelected);
        EXPECT_EQ(9, g.optCount);
    }
}

TEST_F(OptionsScreen, SliderConfirmGoesToZeroThenToTheTop) {
    g.optSelected = 1;
    g.saveData[0] = 7;
    ASys.Keyv[10] = 1;
    Options();
    EXPECT_EQ(0, g.saveData[0]);
    for (int i = 0; i < 5; i++) Options();  // held: no second change
    EXPECT_EQ(0, g.saveData[0]);
    ASys.Keyv[10] = 0;
    Options();
    Tap(10);
    EXPECT_EQ(10, g.saveData[0]);
    Tap(11);  // button 2 confirms as well
    EXPECT_EQ(0, g.saveData[0]);
}

TEST_F(OptionsScreen, SliderSideKeysStepOncePerPressWithinTheRange) {
    struct Case { int from, action, to; } cases[] = {
        {3, 1, 4}, {3, 3, 2}, {10, 1, 10}, {0, 3, 0},
        {14, 3, 9},  // an out-of-range value from an edited file comes back in
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " action " << c.action);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.optSelected = 1;
        g.saveData[0] = c.from;
        ASys.Keyv[c.action] = 1;
        for (int i = 0; i < 10; i++) Options();
        EXPECT_EQ(c.to, g.saveData[0]);
    }
    // Release and press again: one more step.
    g.saveData[0] = 3;
    ReleaseAll();
    Options();
    Tap(1);
    Tap(1);
    EXPECT_EQ(5, g.saveData[0]);
}

TEST_F(OptionsScreen, TogglesFlipTheirEntry) {
    struct Case { int row, entry; } cases[] = {{4, 23}, {7, 10}, {8, 22}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.optSelected = c.row;
        g.saveData[c.entry] = 0;
        Tap(10);
        EXPECT_EQ(1, g.saveData[c.entry]);
        if (c.entry == 22) {
            EXPECT_EQ(1, g.showStats);
        }
        Tap(10);
        EXPECT_EQ(0, g.saveData[c.entry]);
        if (c.entry == 22) {
            EXPECT_EQ(0, g.showStats);
        }
    }
}

TEST_F(OptionsScreen, ClickSelectsFirstAndActsOnTheNextClick) {
    g.saveData[23] = 0;
    const float y = kRowY[4] + kSteadyScroll;
    Pointer(400, y, 1);
    Options();
    EXPECT_EQ(4, g.optSelected);
    EXPECT_EQ(0, g.saveData[23]);
    Options();  // still held
    EXPECT_EQ(0, g.saveData[23]);
    Pointer(400, y, 0);
    Options();
    Pointer(400, y, 1);
    Options();
    EXPECT_EQ(1, g.saveData[23]);
}

TEST_F(OptionsScreen, DraggingOnASelectedSliderSetsThePosition) {
    g.optSelected = 1;
    g.saveData[0] = 7;
    // The selected row is drawn 8 up and 8 left; position i sits at
    // cx - 160 + w (i + 1) with w = 320 / 11.
    const float w = 320.0f / 11, left = 400 - 8 - 160, y = kRowY[1] + kSteadyScroll - 8;
    Pointer(left + w * 4, y, 1);
    Options();
    EXPECT_EQ(3, g.saveData[0]);
    Pointer(left + w * 9, y, 1);
    Options();
    EXPECT_EQ(8, g.saveData[0]);
}

TEST_F(OptionsScreen, SelectedRowIsScrolledIntoView) {
    // Row 8 at 976 must come up to H - 80 = 520: 29 steps of 16.
    g.screenH = 600;
    g.optScroll = 0;
    g.optSelected = 8;
    for (int i = 0; i < 60; i++) Options();
    EXPECT_EQ(-464, g.optScroll);
    EXPECT_EQ(kRowY[8] - 464 - 8, g.optSelectedY);
    // Back at the top the first row needs y above 79: 64 + 16.
    g.optSelected = 0;
    for (int i = 0; i < 60; i++) Options();
    EXPECT_EQ(16, g.optScroll);
}

TEST_F(OptionsScreen, LeavingSavesTheSettings) {
    const std::string root = PrivateRoot();
    struct Case { const char* what; int row, action; } cases[] = {
        {"Back row", 0, 10}, {"back action", 5, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = root + "/Settings.sav";
        std::remove(file.c_str());
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.subScreen = 1;
        g.optSelected = c.row;
        ASys.Keyv[c.action] = 1;
        Options();
        EXPECT_EQ(0, g.subScreen);
        struct stat st;
        ASSERT_EQ(0, stat(file.c_str(), &st));
        EXPECT_EQ(4496, st.st_size);
    }
}
