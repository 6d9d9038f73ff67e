// The credits: the stored list, the default lines, closing and the scroll loop.
#include <string>

#include "frontend_fixture.h"
#include "sys/KELPSys.h"

using namespace kelp;

class CreditsScreen : public FrontEnd {
protected:
    void SetUp() override {
        FrontEnd::SetUp();
        g.subScreen = 2;
    }
    void TearDown() override {
        g.AddDefaultCredits();
        FrontEnd::TearDown();
    }
    void Credits() {
        Frame([&] { g.Credits(); });
    }
    // Text commands drawn for the credit lines (the font is slot 0 here),
    // not counting the three corner read-outs drawn at size 0.75.
    int LineGlyphs() {
        int n = 0;
        for (int i = 0; i < ASys.drawCount; i++) {
            const DrawCommand& c = ASys.drawList[i];
            if (c.kind == CMD_IMAGE && c.image == ASys.curFont && c.sizeX > 1.3) n++;
        }
        return n;
    }
};

TEST_F(CreditsScreen, DefaultListHas72LinesInSevenSections) {
    g.AddDefaultCredits();
    ASSERT_EQ(71, g.creditLast);
    EXPECT_EQ("Another game by", g.creditLines[0]);
    // Each section opens with its title and ends with the separator.
    struct Section { int first, last; const char* title; } sections[] = {
        {0, 4, "Another game by"}, {5, 10, "Coded In"}, {11, 23, "Graphics"},
        {24, 29, "Font"}, {30, 38, "Audio"}, {39, 44, "Music"}, {45, 71, "Special Thanks"},
    };
    int separators = 0;
    for (int i = 0; i <= 71; i++) separators += g.creditLines[i] == "-=-=-";
    EXPECT_EQ(7, separators);
    for (const Section& s : sections) {
        EXPECT_EQ(s.title, g.creditLines[s.first]);
        EXPECT_EQ("-=-=-", g.creditLines[s.last]);
    }
}

TEST_F(CreditsScreen, LinesPastTheCapacityAreCountedButNotStored) {
    g.creditLast = -1;
    for (int i = 0; i < 1030; i++) g.AddCredits("line " + std::to_string(i));
    EXPECT_EQ(1029, g.creditLast);
    EXPECT_EQ("line 1023", g.creditLines[1023]);
    EXPECT_EQ(0.0f, g.creditScroll);

    // The screen shows only stored lines, and loops after the last of them:
    // the 1024th line reaches the centre at scroll -36 x 1027.
    g.creditScroll = -36.0f * 1027;
    Credits();
    EXPECT_GT(LineGlyphs(), 0);
    g.creditScroll = -36.0f * 1023 - 288 + 0.5f;
    Credits();
    EXPECT_EQ(0.0f, g.creditScroll);
}

TEST_F(CreditsScreen, EmptyListDrawsNothingAndLoopsBelow252) {
    struct Case { float from, to; } cases[] = {{-251.5f, 0.0f}, {-251.0f, -251.75f}};
    for (const Case& c : cases) {
        g.creditLast = -1;
        g.creditScroll = c.from;
        Credits();
        EXPECT_FLOAT_EQ(c.to, g.creditScroll) << c.from;
        EXPECT_EQ(0, LineGlyphs());
    }
}

TEST_F(CreditsScreen, ScrollSpeedsUpWhileADirectionIsHeld) {
    g.AddDefaultCredits();
    Credits();
    EXPECT_FLOAT_EQ(-0.75f, g.creditScroll);
    ASys.Keyv[2] = 1;
    Credits();
    EXPECT_FLOAT_EQ(-3.0f, g.creditScroll);
}

TEST_F(CreditsScreen, ClosesOnAFreshPressOrTouchOnly) {
    struct Case { const char* what; int action, touch; } cases[] = {
        {"button 1", 10, 0}, {"start", 8, 0}, {"back", 9, 0}, {"button 2", 11, 0}, {"touch", -1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseAll();
        g.subScreen = 2;
        g.LockKeys();  // as the menu leaves them when it opens the screen
        auto press = [&](int v) {
            if (c.action >= 0) ASys.Keyv[c.action] = (float)v;
            if (c.touch) Pointer(400, 300, v);
        };
        press(1);
        for (int i = 0; i < 3; i++) Credits();
        EXPECT_EQ(2, g.subScreen);
        press(0);
        Credits();
        EXPECT_EQ(2, g.subScreen);
        press(1);
        Credits();
        EXPECT_EQ(0, g.subScreen);
    }
}
