// The temporary-string ring, the log wrappers and the string library.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "core/KELPCore.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

using std::string;

namespace {

struct StringsTest : ::testing::Test {
    std::unique_ptr<KELPCore> core{new KELPCore()};
    KELPCore& K() { return *core; }
};

TEST_F(StringsTest, RingAdvancesAndWrapsAfterThirtySlots) {
    TempstrUse = 29;
    const char* first = K().fstr("first %d", 1);
    EXPECT_EQ(TempstrUse, 0);
    EXPECT_EQ(first, StateOf(K()).Tempstr[0]);
    EXPECT_STREQ(first, "first 1");
    const char* second = K().fstr("second");
    EXPECT_EQ(second, StateOf(K()).Tempstr[1]);
    for (int i = 0; i < 28; i++) K().fstr("filler %d", i);
    EXPECT_STREQ(first, "first 1");  // 29 advances later it still holds
    const char* thirtyFirst = K().fstr("over");
    EXPECT_EQ(thirtyFirst, first);
    EXPECT_STREQ(first, "over");
    EXPECT_STREQ(second, "second");

    K().tstr("%s-%03d", "t", 7);
    EXPECT_STREQ(StateOf(K()).Tempstr[TempstrUse], "t-007");
    EXPECT_EQ(TempstrUse, 1);
}

TEST_F(StringsTest, LongResultsAreCutToTheirSlot) {
    const string big(20000, 'a');
    TempstrUse = 4;
    StateOf(K()).Tempstr[6][0] = 'Z';  // the slot after the one about to be written
    const char* r = K().fstr("%s", big.c_str());
    EXPECT_EQ(r, StateOf(K()).Tempstr[5]);
    EXPECT_EQ(strlen(r), 16383u);
    EXPECT_EQ(StateOf(K()).Tempstr[6][0], 'Z');

    StateOf(K()).Tempstr[0][0] = 'Z';
    TempstrUse = 28;  // the next write is the last slot, just before slot 0
    EXPECT_EQ(K().Strip(big + " b").size(), 16383u);
    EXPECT_EQ(StateOf(K()).Tempstr[0][0], 'Z');
    TempstrUse = 28;
    EXPECT_EQ(K().Trim(" " + big + "x ").size(), 16383u);
    EXPECT_EQ(StateOf(K()).Tempstr[0][0], 'Z');
}

TEST_F(StringsTest, LogWrappersPrintNumberedLinesAndReturnOne) {
    DebugMessages = 11;
    ::testing::internal::CaptureStdout();
    int r1 = K().Print("Hi");
    int r2 = K().Debuglog("two");
    int r3 = K().DebugLog("three");
    int r4 = K().Debug("123456789 and more");
    string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(r1 + r2 + r3 + r4, 4);
    EXPECT_EQ(out, "      12> Hi\n      13> two\n      14> three\n      15> 123456789 and more\n");
    EXPECT_EQ(DebugMessages, 15);
}

TEST_F(StringsTest, NumberConversions) {
    EXPECT_EQ(K().Hex(255), "FF");
    EXPECT_EQ(K().Hex(0), "0");
    EXPECT_EQ(K().Hex(-1), "FFFFFFFF");
    EXPECT_EQ(K().Hex(0x1A2B), "1A2B");
    EXPECT_EQ(K().Bin(0), "0");
    EXPECT_EQ(K().Bin(5), "101");
    EXPECT_EQ(K().Bin(256), "100000000");
    EXPECT_EQ(K().Bin(-1), string(32, '1'));
    for (int v : {0, 1, 2, 7, 1000, 123456789, INT32_MAX, -1, -1000, INT32_MIN})
        EXPECT_EQ(K().BinToInt(K().Bin(v)), v) << v;
    EXPECT_EQ(K().HexToInt("ff"), 255);
    EXPECT_EQ(K().HexToInt("0x10"), 16);
    EXPECT_EQ(K().HexToInt("zz"), 0);
    EXPECT_EQ(K().BinToInt("1012"), 5);  // stops at the first non-digit
    EXPECT_EQ(K().StrToInt("42abc"), 42);
    EXPECT_EQ(K().ToInt(" -7"), -7);
    EXPECT_EQ(K().StrToInt(""), 0);
}

TEST_F(StringsTest, KeyValueHalves) {
    struct Case { const char* in; const char* left; const char* right; };
    const Case cases[] = {
        {"key=val=x", "key", "val=x"},
        {"novalue", "-=+=-", "-=+=-"},
        {"=v", "", "v"},
        {"k=", "k", ""},
        {"", "-=+=-", "-=+=-"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(K().iniLeft(c.in), c.left) << c.in;
        EXPECT_EQ(K().iniRight(c.in), c.right) << c.in;
    }
}

TEST_F(StringsTest, TrimAndStrip) {
    struct Case { string in, want; };
    const Case trims[] = {
        {"  hi there \t", "hi there"},
        {"   ", ""},
        {"", ""},
        {"x", "x"},
        {"\n\tx y\r", "x y"},
        {"\x80\xffok\xc3\xa9", "ok"},  // bytes above 127 count as blank
    };
    for (const Case& c : trims) EXPECT_EQ(K().Trim(c.in), c.want) << "[" << c.in << "]";
    EXPECT_EQ(K().Strip(" a b  c\t d "), "abc\td");
    EXPECT_EQ(K().Strip("   "), "");
}

TEST_F(StringsTest, SubstringsClampToTheString) {
    struct Case { int start, count; const char* want; };
    const Case mids[] = {
        {0, 3, "hel"}, {1, 3, "ell"}, {3, 99, "lo"}, {5, 1, ""}, {99, 2, ""},
        {2, 0, ""},    {2, -3, ""},  {-2, 4, "he"}, {-10, 3, ""}, {0, INT32_MAX, "hello"},
        {INT32_MAX, INT32_MAX, ""},
    };
    for (const Case& c : mids) EXPECT_EQ(K().Mid("hello", c.start, c.count), c.want) << c.start << "," << c.count;

    struct Side { int count; const char* left; const char* right; };
    const Side sides[] = {
        {2, "he", "lo"}, {0, "", ""}, {5, "hello", "hello"}, {9, "hello", "hello"}, {-1, "", ""},
        {INT32_MIN, "", ""},
    };
    for (const Side& c : sides) {
        EXPECT_EQ(K().Left("hello", c.count), c.left) << c.count;
        EXPECT_EQ(K().Right("hello", c.count), c.right) << c.count;
    }
    EXPECT_EQ(K().Right("", 3), "");
}

TEST_F(StringsTest, FillToWidth) {
    struct Case { string in; unsigned width; char fill; string left, right; };
    const string k1020(1020, 'k');
    const string x2000(2000, 'x');
    const Case cases[] = {
        {"7", 3, '0', "700", "007"},
        {"12345", 3, '0', "123", "345"},
        {"abc", 3, '.', "abc", "abc"},
        {"", 4, '*', "****", "****"},
        {"ab", 0, '-', "", ""},
        // Text and fill together stay within 1023 bytes.
        {k1020, 10, '-', "kkk", "kkk"},
        {"ab", 5000, '.', "ab" + string(1019, '.'), string(1019, '.') + "ab"},
        // Text already past the limit: the width is taken as given.
        {x2000, 5, '0', "xxxxx", "xxxxx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(K().LeftPad(c.in, c.width, c.fill), c.left) << c.in.size() << " to " << c.width;
        EXPECT_EQ(K().RightPad(c.in, c.width, c.fill), c.right) << c.in.size() << " to " << c.width;
    }

    TempstrUse = 0;
    K().LeftPad("7", 3, '0');
    EXPECT_EQ(TempstrUse, 3);
    K().RightPad("7", 3, '0');
    EXPECT_EQ(TempstrUse, 6);

    // A huge width on a huge text must stay inside the ring.
    StateOf(K()).Tempstr[0][0] = 'Z';
    TempstrUse = 26;  // writes slots 27, 28, 29
    string r = K().LeftPad(string(20000, 'y'), 30000, '0');
    EXPECT_EQ(r, string(16383, 'y'));
    EXPECT_EQ(StateOf(K()).Tempstr[0][0], 'Z');
    TempstrUse = 26;
    r = K().RightPad(string(20000, 'y'), 30000, '0');
    EXPECT_EQ(r.size(), 16383u);
    EXPECT_EQ(StateOf(K()).Tempstr[0][0], 'Z');
}

TEST_F(StringsTest, LetterCodes) {
    const int ab = (1 << 25) + (2 << 20);
    struct Case { const char* in; int want; };
    const Case packs[] = {
        {"", 0},
        {"A", 1 << 25},
        {"ab", ab},
        {"AB", ab},
        {"Z", 26 << 25},
        {"a1b", (1 << 25) + (2 << 15)},     // a non-letter packs as 0
        {"@`{z", 26 << 10},                 // 64, 96 and 123 are not letters
        {"ABCDEFG", (1 << 25) + (2 << 20) + (3 << 15) + (4 << 10) + (5 << 5) + 6},
    };
    for (const Case& c : packs) EXPECT_EQ(K().SixDigitString(string(c.in)), c.want) << c.in;

    EXPECT_EQ(K().SixDigitString(long(ab)), "AB    ");
    EXPECT_EQ(K().SixDigitString(long(K().SixDigitString(string("abcdefgh")))), "ABCDEF");
    EXPECT_EQ(K().SixDigitString(long(31) << 25), "      ");  // codes past Z read as spaces
    EXPECT_EQ(K().SixDigitString(0L), "      ");
    EXPECT_EQ(K().SixDigitString(-1L), "      ");
    EXPECT_EQ(K().SixDigitString(long(K().SixDigitString(string("KELP"))), long(K().SixDigitString(string("Game")))),
              "KELP  GAME  ");
    EXPECT_EQ(K().SixDigitString(long(1 << 25), 0L, long(26)), "A                Z");
}

TEST_F(StringsTest, RunLengthPacking) {
    struct Case { string in, packed; };
    const Case cases[] = {
        {"AAAB", "CAAB"},
        {string(60, 'x'), "zxHx"},
        {string(52, 'x'), "zx"},
        {string(53, 'x'), "zxAx"},
        {string(27, 'q'), "aq"},
        {string(26, 'q'), "Zq"},
        {"a  b", "AaB Ab"},
        {"abcdefghij", "AaAbAcAdAeAfAgAhAiAj"},        // ten pairs, the last one unaccounted
        {"abcdefghijk", "AaAbAcAdAeAfAgAhAiAj Ak"},    // a space after the tenth pair
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(K().JNKrunch(c.in), c.packed) << c.in;
        EXPECT_EQ(K().JuNKrunch(c.packed), c.in) << c.packed;
    }
    // Malformed packed text: stray bytes are skipped, a dangling count adds nothing.
    EXPECT_EQ(K().JuNKrunch("  Bx 1Cy"), "xxyyy");
    EXPECT_EQ(K().JuNKrunch("C"), "");
    EXPECT_EQ(K().JuNKrunch("CAA"), "AAA");
}

TEST_F(StringsTest, RunLengthRoundTrip) {
    std::mt19937 gen(1234);
    for (int t = 0; t < 300; t++) {
        size_t len = 1 + gen() % (t < 250 ? 200 : 20000);
        string s;
        // Few distinct bytes so that runs of every length occur, including
        // count letters and spaces as data.
        const char alphabet[] = {'A', 'z', ' ', '\xff', '\x01', 'q'};
        while (s.size() < len) {
            char c = alphabet[gen() % 6];
            s.append(1 + gen() % 120, c);
        }
        s.resize(len);
        string packed = K().JNKrunch(s);
        ASSERT_EQ(K().JuNKrunch(packed), s) << "case " << t;
    }
}

TEST_F(StringsTest, SplitFields) {
    struct Case { const char* in; char d; int n; const char* want; };
    const Case cases[] = {
        {"a,b,,c", ',', 1, "a"},  {"a,b,,c", ',', 2, "b"},  {"a,b,,c", ',', 3, ""},
        {"a,b,,c", ',', 4, "c"},  {"a,b,,c", ',', 5, "-=+=-"},
        {"a,b,", ',', 2, "b,"},   {"a,b,", ',', 3, "-=+=-"},
        {"one", ',', 1, "one"},   {"", ',', 1, "-=+=-"},     {"a,b", ',', 0, "-=+=-"},
        {"x|yy|z", '|', 2, "yy"}, {",a", ',', 1, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(K().Split(c.in, c.d, c.n), c.want) << c.in << " #" << c.n;
    EXPECT_EQ(K().SplitCount("a,b,,c", ','), 4);
    EXPECT_EQ(K().SplitCount("a,b,", ','), 3);
    EXPECT_EQ(K().SplitCount("", ','), 1);
}

TEST_F(StringsTest, Checksum) {
    // Worked out independently with unsigned 32-bit arithmetic.
    struct Case { const char* in; int key; unsigned want; };
    const Case cases[] = {
        {"", 5, 0},       {"A", 0, 715},          {"AB", 550, 2064},
        {"\xff", 1, 3520}, {"Hello, world", 550, 2797}, {"Tam C++", -3, 1649},
    };
    for (const Case& c : cases) EXPECT_EQ(K().Checksum(c.in, c.key), c.want) << c.in;
    K().gameNumber = 550;
    EXPECT_EQ(K().Checksum("AB"), 2064u);
}

TEST_F(StringsTest, Ordinals) {
    struct Case { int n; const char* want; };
    const Case cases[] = {
        {0, "0th"},     {1, "1st"},     {2, "2nd"},     {3, "3rd"},     {4, "4th"},
        {11, "11th"},   {12, "12th"},   {13, "13th"},   {21, "21st"},   {22, "22nd"},
        {23, "23rd"},   {101, "101st"}, {111, "111st"}, {112, "112nd"}, {-1, "-1th"},
        {-21, "-21th"},
    };
    for (const Case& c : cases) EXPECT_STREQ(K().nth(c.n), c.want);
    TempstrUse = 3;
    const char* p = K().nth(5);
    EXPECT_EQ(p, StateOf(K()).Tempstr[4]);
}

}  // namespace
