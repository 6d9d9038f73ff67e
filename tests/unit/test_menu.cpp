// The main menu: start page items, the list widget (repeat, wrap, confirm,
// back, pointer) and the logo zoom.
#include <string>
#include <vector>

#include "frontend_fixture.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

const char* kLevels = "Easy|Normal|Hard";
const char* kLevelText = "For learning the ropes|Just right|When you feel like a challenge";

std::string ManyRows(int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += (i ? "|Row " : "Row ") + std::to_string(i);
    return s;
}

}  // namespace

class MenuList : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        g.menuPage = 1;
        g.menuListY = 0;
    }
    void List(const std::string& items) {
        Frame([&] { g.Menu_Default(items, ""); });
    }
};

TEST_F(MenuList, HeldDirectionRepeatsAfter24_18_12_6ThenEvery3Frames) {
    // Frames (1-based) on which a held direction moves the highlight.
    const std::vector<int> expected = {1, 25, 43, 55, 61, 64, 67, 70, 73, 76, 79};
    const std::string rows = ManyRows(100);
    struct Case { int action, step; } cases[] = {{0, -1}, {3, -1}, {1, 1}, {2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "action " << c.action);
        ReleaseAll();
        g.saveData[101] = 50;
        List(rows);  // idle frame: the repeat state starts from rest
        ASys.Keyv[c.action] = 1;
        std::vector<int> moves;
        for (int f = 1; f <= 80; f++) {
            const int before = g.saveData[101];
            List(rows);
            if (g.saveData[101] != before) {
                EXPECT_EQ(before + c.step, g.saveData[101]) << "frame " << f;
                moves.push_back(f);
            }
        }
        EXPECT_EQ(expected, moves);

        // Letting go and pressing again moves at once and restarts the long delay.
        ASys.Keyv[c.action] = 0;
        List(rows);
        ASys.Keyv[c.action] = 1;
        const int before = g.saveData[101];
        List(rows);
        EXPECT_EQ(before + c.step, g.saveData[101]);
        for (int f = 0; f < 22; f++) List(rows);
        EXPECT_EQ(before + c.step, g.saveData[101]);
    }
}

TEST_F(MenuList, HighlightWrapsAroundTheRows) {
    struct Case { const char* items; int start, action, expect; } cases[] = {
        {kLevels, 3, 2, 1},   // down from the last row
        {kLevels, 1, 0, 3},   // up from the first row
        {kLevels, 1, 3, 3},   // left counts as up
        {kLevels, 0, -1, 3},  // a cleared save: nothing chosen yet means the last row
        {kLevels, 4, -1, 1},
        {"Solo", 1, 2, 1},    // a one-row list keeps its row both ways
        {"Solo", 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.items << " from " << c.start << " action " << c.action);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.saveData[101] = c.start;
        if (c.action >= 0) ASys.Keyv[c.action] = 1;
        List(c.items);
        EXPECT_EQ(c.expect, g.saveData[101]);
    }
}

TEST_F(MenuList, ConfirmStartsTheLevelAndBackReturnsToTheStartPage) {
    struct Case {
        const char* what;
        int action, escapeKey;
        int gameMode, menuPage;
    } cases[] = {
        {"button 1 confirms", 10, 0, 11, 1},
        {"start confirms", 8, 0, 11, 1},
        {"start with the back key held goes back", 8, 1, 0, 0},
        {"button 2 goes back", 11, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.gameMode = 0;
        g.menuPage = 1;
        g.chosenLevel = 0;
        g.touchStarted = 7;
        g.saveData[101] = 2;
        ASys.Keyv[c.action] = 1;
        ASys.Button[99] = c.escapeKey;
        List(kLevels);
        EXPECT_EQ(c.gameMode, g.gameMode);
        EXPECT_EQ(c.menuPage, g.menuPage);
        if (c.gameMode == 11) {
            EXPECT_EQ(2, g.chosenLevel);
            EXPECT_EQ(0, g.touchStarted);  // started by a button
        }
    }
}

TEST_F(MenuList, PointerHighlightsFirstAndStartsOnTheNextTouch) {
    g.saveData[101] = 2;
    // Rows settle 46 apart with the highlighted one on the anchor H - 128.
    const float rowY[3] = {472 - 46, 472, 472 + 46};
    g.menuListY = rowY[0];

    Pointer(228, rowY[2], 1);
    List(kLevels);
    EXPECT_EQ(3, g.saveData[101]);
    EXPECT_EQ(0, g.gameMode);

    // Still held: nothing more happens.
    g.menuListY = 472 - 2 * 46;  // the row list has eased to the new target
    const float held = 472;
    Pointer(228, held, 1);
    List(kLevels);
    EXPECT_EQ(3, g.saveData[101]);
    EXPECT_EQ(0, g.gameMode);

    Pointer(228, held, 0);
    List(kLevels);
    g.menuListY = 472 - 2 * 46;
    Pointer(228, held, 1);
    List(kLevels);
    EXPECT_EQ(11, g.gameMode);
    EXPECT_EQ(3, g.chosenLevel);
    EXPECT_EQ(1, g.touchStarted);
}

TEST_F(MenuList, BackArrowByPointer) {
    Pointer(32, 32, 1);
    List(kLevels);
    EXPECT_EQ(0, g.menuPage);
}

class MenuStart : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        g.menuPage = 0;
        g.quitRequested = 0;
    }
    void TearDown() override {
        g.quitRequested = 0;
        FrontEnd::TearDown();
    }
    void Start() {
        Frame([&] { g.Menu_Start(); });
    }
};

TEST_F(MenuStart, LeftAndRightFollowTheItemRing) {
    // -2 Credits, -1 exit, 0 Start, 1 Options.
    struct Case { int from, action, to; } cases[] = {
        {0, 3, -1}, {0, 1, 1}, {-1, 3, -2}, {-1, 1, 0},
        {1, 3, 0}, {1, 1, -1}, {-2, 3, 1}, {-2, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " action " << c.action);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.startSelection = c.from;
        ASys.Keyv[c.action] = 1;
        Start();
        EXPECT_EQ(c.to, g.startSelection);
        // Held: no further move.
        Start();
        EXPECT_EQ(c.to, g.startSelection);
    }
}

TEST_F(MenuStart, ConfirmActivatesTheHighlightedItem) {
    struct Case { int selection, subScreen, menuPage, quit; } cases[] = {
        {0, 0, 1, 0}, {1, 1, 0, 0}, {-2, 2, 0, 0}, {-1, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection);
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        g.menuPage = 0;
        g.subScreen = 0;
        g.quitRequested = 0;
        g.optSelected = 5;
        g.startSelection = c.selection;
        ASys.Keyv[10] = 1;
        Start();
        EXPECT_EQ(c.subScreen, g.subScreen);
        EXPECT_EQ(c.menuPage, g.menuPage);
        EXPECT_EQ(c.quit, g.quitRequested);
        if (c.subScreen == 1) {
            EXPECT_EQ(0, g.optSelected);
        }
    }
}

TEST_F(MenuStart, HeldConfirmOpensTheLevelPageOnlyOnce) {
    g.startSelection = 0;
    g.saveData[101] = 2;
    ASys.Keyv[10] = 1;
    for (int i = 0; i < 5; i++) Frame([&] { g.DoMenu(); });
    EXPECT_EQ(1, g.menuPage);
    EXPECT_EQ(0, g.gameMode);  // the same press does not also pick a level

    ASys.Keyv[10] = 0;
    Frame([&] { g.DoMenu(); });
    ASys.Keyv[10] = 1;
    Frame([&] { g.DoMenu(); });
    EXPECT_EQ(11, g.gameMode);
}

TEST_F(MenuStart, TouchHighlightsOnTheFirstTapAndActivatesOnTheSecond) {
    g.startSelection = 0;
    Pointer(800 - 52, 600 - 96, 1);  // Options
    Start();
    EXPECT_EQ(1, g.startSelection);
    EXPECT_EQ(0, g.subScreen);
    Start();  // still held
    EXPECT_EQ(0, g.subScreen);
    Pointer(800 - 52, 600 - 96, 0);
    Start();
    Pointer(800 - 52, 600 - 96, 1);
    Start();
    EXPECT_EQ(1, g.subScreen);
}

TEST_F(MenuStart, SwappedButtonsConfirmWithButton2) {
    g.saveData[13] = 1;
    g.startSelection = 0;
    ASys.Keyv[10] = 1;
    Start();
    EXPECT_EQ(0, g.menuPage);
    ReleaseAll();
    Start();
    ASys.Keyv[11] = 1;
    Start();
    EXPECT_EQ(1, g.menuPage);
}

TEST_F(MenuStart, BackKeyQuitsOnlyAfterItWasReleased) {
    g.startSelection = 1;
    g.keyLatch[99] = 1;  // held since the last menu action
    ASys.Button[99] = 1;
    Start();
    EXPECT_EQ(0, g.quitRequested);
    ASys.Button[99] = 0;
    Start();
    ASys.Button[99] = 1;
    Start();
    EXPECT_EQ(1, g.quitRequested);
}

TEST_F(MenuStart, LogoZoomStaysWithinOneAndTwo) {
    for (int motion : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "motion reduction " << motion);
        g.saveData[23] = motion;
        g.logoZoom = 1;
        g.menuPage = 1;
        for (int i = 0; i < 30; i++) {
            Frame([&] { g.DoMenu(); });
            ASSERT_GE(g.logoZoom, 1.0f);
            ASSERT_LE(g.logoZoom, 2.0f);
        }
        EXPECT_FLOAT_EQ(2.0f, g.logoZoom);
        g.menuPage = 0;
        // Motion reduction reaches the bound in one frame, otherwise in ten.
        Frame([&] { g.DoMenu(); });
        EXPECT_EQ(motion == 1, g.logoZoom == 1.0f);
        for (int i = 0; i < 30; i++) {
            Frame([&] { g.DoMenu(); });
            ASSERT_GE(g.logoZoom, 1.0f);
            ASSERT_LE(g.logoZoom, 2.0f);
        }
        EXPECT_FLOAT_EQ(1.0f, g.logoZoom);
    }
}

TEST_F(MenuList, DescriptionsChangeNothing) {
    // The list draws one label per row; the descriptions are not drawn.
    g.saveData[101] = 2;
    g.menuListY = 472 - 46;
    Frame([&] { g.Menu_Default(kLevels, kLevelText); });
    const int withText = ASys.drawCount;
    Frame([&] { g.Menu_Default(kLevels, ""); });
    EXPECT_EQ(withText, ASys.drawCount);
}

// A first start has no save file: the data it would have held is cleared,
// but the level list still shows the launch's choice, "Normal". A stored
// choice of 0 (what earlier versions saved on a first start) is read as no
// choice at all.
TEST_F(MenuList, AFreshInstallHighlightsNormal) {
    PrivateRoot();
    const int32_t kept0 = g.saveData[0], kept1 = g.saveData[1];
    auto launch = [&] {
        std::memset(g.saveData, 0, sizeof g.saveData);
        g.saveData[0] = 7;
        g.saveData[1] = 7;
        g.saveData[101] = 2;
        testing::internal::CaptureStdout();
        g.Load();
        return testing::internal::GetCapturedStdout();
    };
    for (const char* start : {"no files", "a saved 0"}) {
        SCOPED_TRACE(start);
        std::string log = launch();
        EXPECT_EQ(start[0] == 'n', log.find("Clearing Scoreboard") != std::string::npos) << log;
        EXPECT_EQ(2, g.saveData[101]);
        List(kLevels);
        EXPECT_EQ(2, g.saveData[101]);
        // Choosing now starts "Normal".
        ASys.Keyv[10] = 1;
        List(kLevels);
        ASys.Keyv[10] = 0;
        EXPECT_EQ(11, g.gameMode);
        EXPECT_EQ(2, g.chosenLevel);
        g.gameMode = 0;
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        // The next start finds a valid save file that holds 0.
        g.saveData[101] = 0;
        g.Save();
    }
    g.saveData[0] = kept0;
    g.saveData[1] = kept1;
}
