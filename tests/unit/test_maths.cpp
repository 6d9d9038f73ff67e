// Maths helpers, the seeded and time-based generators, collision tests.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "core/KELPCore.h"
#include "core/CoreState.h"

using namespace kelp;

namespace {

struct MathsTest : ::testing::Test {
    std::unique_ptr<KELPCore> core{new KELPCore()};
    KELPCore& K() { return *core; }
};

TEST_F(MathsTest, TrigUsesDegrees) {
    EXPECT_NEAR(K().Sin(90), 1.0f, 1e-6);
    EXPECT_NEAR(K().Cos(180), -1.0f, 1e-6);
    EXPECT_NEAR(K().Sin(30), 0.5f, 1e-6);
    EXPECT_NEAR(K().Cos(60), 0.5f, 1e-6);
    EXPECT_NEAR(K().Sin(-90), -1.0f, 1e-6);
}

TEST_F(MathsTest, SmallHelpers) {
    EXPECT_FLOAT_EQ(K().Mod(-7, 3), -1);  // sign of the dividend
    EXPECT_FLOAT_EQ(K().Mod(7.5f, 2), 1.5f);
    EXPECT_TRUE(std::isnan(K().Mod(1, 0)));
    EXPECT_FLOAT_EQ(K().Abs(-2.5f), 2.5f);
    EXPECT_EQ(K().Abs(-4), 4);
    EXPECT_EQ(K().Abs(4), 4);
    EXPECT_FLOAT_EQ(K().Dist(1, 2, 4, 6), 5);
    EXPECT_FLOAT_EQ(K().Pyth(-3, 4), 5);
}

TEST_F(MathsTest, ClampAndLerp) {
    struct Case { float v, lo, hi, clamped; } cases[] = {
        {5, 0, 10, 5}, {-1, 0, 10, 0}, {11, 0, 10, 10}, {0, 0, 10, 0}, {10, 0, 10, 10},
        {NAN, 0, 10, 0}, {5, 8, 2, 8}, {INFINITY, -1, 1, 1}, {-INFINITY, -1, 1, -1},
    };
    for (auto& c : cases) EXPECT_EQ(c.clamped, K().Clamp(c.v, c.lo, c.hi)) << c.v << " in " << c.lo << ".." << c.hi;
    EXPECT_FLOAT_EQ(2, K().Lerp(2, 6, 0));
    EXPECT_FLOAT_EQ(6, K().Lerp(2, 6, 1));
    EXPECT_FLOAT_EQ(3, K().Lerp(2, 6, 0.25f));
    EXPECT_FLOAT_EQ(10, K().Lerp(2, 6, 2));   // t is not clamped
}

TEST_F(MathsTest, WhichWayDoIGo) {
    struct Case { float from, to, lo, hi, want; };
    const Case cases[] = {
        {0, 90, 0, 359, 90},    {0, 270, 0, 359, -89}, {1, 0, 0, 359, 0},
        {350, 10, 0, 359, 20},  {10, 350, 0, 359, -19}, {-10, 10, 0, 359, 20},
        {720, 45, 0, 359, 45},  {0, 179, 0, 359, 179},  {0, 180, 0, 359, -179},
        // A ring of 1..8 (span 7, eight steps): from 2 to 7 is 5 forward,
        // then lo is added and the span taken off: 5 + 1 - 7.
        {2, 7, 1, 8, -1},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(K().WhichWayDoIGo(c.from, c.to, c.lo, c.hi), c.want)
            << c.from << " -> " << c.to << " on " << c.lo << ".." << c.hi;
}

// Raw outputs worked out by tests/data/jrand_reference.py, an independent
// implementation of the generator: seed, game number, draws skipped, outputs.
struct RandCase { int seed, game, skip; int out[8]; };
const RandCase kRandCases[] = {
    {0, 550, 0, {1286842, 496485, 408643, 412951, 1146385, 312073, 1196024, 250041}},
    {12345, 550, 0, {190264, 33850, 812306, 513487, 708289, 914403, 400612, 486876}},
    {1000, 0, 0, {195701, 215320, 576957, 1289834, 1024828, 118753, 1259663, 885075}},
    {987654, 7, 0, {218548, 1045628, 950056, 1097170, 476292, 259940, 934496, 1223000}},
    {0, 550, 5000, {807912, 994628, 787108, 504884, 0, 0, 0, 0}},
    {12345, 550, 5000, {462204, 1097445, 933044, 871001, 0, 0, 0, 0}},
    {1000, 0, 5000, {67434, 865470, 387603, 1232732, 0, 0, 0, 0}},
    {987654, 7, 5000, {417302, 412049, 587005, 463549, 0, 0, 0, 0}},
};

TEST_F(MathsTest, SeededSequenceMatchesReference) {
    for (const RandCase& c : kRandCases) {
        K().gameNumber = c.game;
        K().SeedRnd(c.seed);
        for (int i = 0; i < c.skip; i++) K().Rnd(1);
        int n = c.skip ? 4 : 8;
        for (int i = 0; i < n; i++) {
            float r = K().Rnd(1);
            EXPECT_EQ(jRand_Out, c.out[i]) << "seed " << c.seed << " game " << c.game << " draw " << c.skip + i;
            EXPECT_FLOAT_EQ(r, float(c.out[i]) / 1310725.0f);
        }
    }
}

TEST_F(MathsTest, SeedingStateAndScaling) {
    K().gameNumber = 550;
    K().SeedRnd(70000);
    EXPECT_EQ(jRand_Seed, 70000);
    EXPECT_EQ(jRand_Bit, 70000 % 256);
    EXPECT_EQ(jRand_Plus, 273 + 550);
    EXPECT_EQ(jRand_Count, 0);
    K().SeedRnd(0);
    float lo = K().Rnd(10, 20);
    EXPECT_FLOAT_EQ(lo, 10 + 10 * (1286842.0f / 1310725.0f));
    K().SeedRnd(0);
    EXPECT_FLOAT_EQ(K().Rnd(20), 20 * (1286842.0f / 1310725.0f));
}

TEST_F(MathsTest, TimeBasedDrawLeavesSeededSequenceAlone) {
    K().gameNumber = 550;
    K().SeedRnd(4321);
    float a1 = K().Rnd(1), a2 = K().Rnd(1), a3 = K().Rnd(1);
    K().SeedRnd(4321);
    EXPECT_EQ(K().Rnd(1), a1);
    int32_t tBefore = jRand_tSeed;
    K().tRnd(5);
    K().tRand(1, 6);
    EXPECT_EQ(jRand_tSeed, tBefore + 2);
    EXPECT_EQ(K().Rnd(1), a2);
    K().tRnd(100);
    EXPECT_EQ(K().Rnd(1), a3);
}

TEST_F(MathsTest, IntegerDrawsCoverBothEnds) {
    K().gameNumber = 550;
    K().SeedRnd(99);
    int seen3[4] = {}, seen6[7] = {}, seenT[4] = {};
    for (int i = 0; i < 2000; i++) {
        int a = K().Rand(3);
        ASSERT_GE(a, 0);
        ASSERT_LE(a, 3);
        seen3[a]++;
        int b = K().Rand(1, 6);
        ASSERT_GE(b, 1);
        ASSERT_LE(b, 6);
        seen6[b]++;
        int t = K().tRand(3);
        ASSERT_GE(t, 0);
        ASSERT_LE(t, 3);
        seenT[t]++;
        float f = K().tRnd(2, 4);
        ASSERT_GE(f, 2);
        ASSERT_LT(f, 4);
    }
    for (int v = 0; v <= 3; v++) EXPECT_GT(seen3[v], 0) << v;
    for (int v = 1; v <= 6; v++) EXPECT_GT(seen6[v], 0) << v;
    EXPECT_EQ(seen6[0], 0);
    // The time-based draw moves with its counter even within one millisecond.
    int distinct = 0;
    for (int v = 0; v <= 3; v++) distinct += seenT[v] > 0;
    EXPECT_GE(distinct, 3);
}

// Negative or huge seeds must neither index outside the table nor give a
// value outside the range; the sequence stays reproducible.
TEST_F(MathsTest, ExtremeSeedsStayInRange) {
    const int seeds[] = {-1, -255, -256, -123456789, INT32_MIN, INT32_MAX, 2147000000};
    const int games[] = {550, -550};
    for (int game : games) {
        for (int seed : seeds) {
            K().gameNumber = game;
            K().SeedRnd(seed);
            float first[20];
            for (int i = 0; i < 20000; i++) {
                float r = K().Rnd(1);
                ASSERT_GE(jRand_Out, 0) << seed;
                ASSERT_LT(jRand_Out, 1310725) << seed;
                ASSERT_GE(jRand_Bit, 0) << seed;
                ASSERT_LT(jRand_Bit, 256) << seed;
                ASSERT_GE(r, 0.0f);
                ASSERT_LT(r, 1.0f);
                if (i < 20) first[i] = r;
            }
            K().SeedRnd(seed);
            for (int i = 0; i < 20; i++) ASSERT_EQ(K().Rnd(1), first[i]) << seed;
        }
    }
}

TEST_F(MathsTest, CountFoldsToZeroInsteadOfOverflowing) {
    K().gameNumber = 550;
    K().SeedRnd(5);
    jRand_Count = INT32_MAX - 3;
    K().Rnd(1);
    EXPECT_EQ(jRand_Count, 0);
}

TEST_F(MathsTest, PointAndCircleTests) {
    struct Case { float px, py, cx, cy, r; int want; };
    const Case points[] = {
        {3, 4, 0, 0, 5, 1},   // on the rim
        {3, 4.01f, 0, 0, 5, 0},
        {0, 0, 0, 0, 0, 1},
        {-1, -1, 0, 0, 1, 0},
    };
    for (const Case& c : points) {
        K().LastColPointX = K().LastColPointY = 7;
        EXPECT_EQ(K().Collide_Point_Circle(c.px, c.py, c.cx, c.cy, c.r), c.want) << c.px << "," << c.py;
        EXPECT_EQ(K().LastColPointX, -3717);
        EXPECT_EQ(K().LastColPointY, -3717);
    }
    EXPECT_EQ(K().Collide_Circle_Circle(0, 0, 2, 6, 8, 8), 1);  // distance 10 == 2 + 8
    EXPECT_EQ(K().Collide_Circle_Circle(0, 0, 2, 6, 8, 7.9f), 0);
    EXPECT_EQ(K().Collide_Circle_Circle(1, 1, 5, 2, 2, 1), 1);  // one inside the other
    EXPECT_EQ(K().LastColPointX, -3717);
}

TEST_F(MathsTest, SegmentIntersection) {
    EXPECT_EQ(K().Collide_Line_Line(0, 0, 10, 10, 0, 10, 10, 0), 1);
    EXPECT_FLOAT_EQ(K().LastColPointX, 5);
    EXPECT_FLOAT_EQ(K().LastColPointY, 5);

    // Meeting at an end point counts.
    EXPECT_EQ(K().Collide_Line_Line(0, 0, 4, 0, 4, -2, 4, 2), 1);
    EXPECT_FLOAT_EQ(K().LastColPointX, 4);
    EXPECT_FLOAT_EQ(K().LastColPointY, 0);

    struct Case { float v[8]; };
    const Case misses[] = {
        {{0, 0, 10, 0, 0, 1, 10, 1}},   // parallel
        {{0, 0, 10, 0, 2, 0, 8, 0}},    // collinear overlap: den is 0
        {{0, 0, 4, 4, 5, 0, 5, 10}},    // lines cross beyond segment 1
        {{0, 0, 10, 10, 0, 10, 4, 6}},  // lines cross beyond segment 2
        {{1, 1, 1, 1, 0, 0, 2, 2}},     // a point is degenerate
    };
    for (const Case& c : misses) {
        K().LastColPointX = K().LastColPointY = 1;
        const float* v = c.v;
        EXPECT_EQ(K().Collide_Line_Line(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]), 0);
        EXPECT_EQ(K().LastColPointX, -3717);
        EXPECT_EQ(K().LastColPointY, -3717);
    }
}

TEST_F(MathsTest, RectangleTests) {
    struct Case { float v[8]; int simple, complex; };
    const Case cases[] = {
        {{0, 0, 10, 10, 10, 0, 10, 10}, 1, 1},       // edges touch
        {{0, 0, 10, 10, 10.01f, 0, 10, 10}, 0, 0},   // just apart
        {{0, 0, 10, 10, 3, 3, 10, 10}, 1, 1},        // corner overlap
        {{0, 0, 20, 20, 0, 0, 4, 4}, 1, 1},          // one inside the other
        {{0, 0, 20, 2, 0, 0, 2, 20}, 1, 0},          // a cross: no edge inside
        {{0, 0, 10, 10, 0, 30, 10, 10}, 0, 0},       // apart vertically
    };
    for (const Case& c : cases) {
        const float* v = c.v;
        K().LastColPointX = 12;
        EXPECT_EQ(K().Collide_Rect_Rect(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]), c.simple)
            << v[4] << "," << v[5] << " " << v[6] << "x" << v[7];
        EXPECT_EQ(K().Collide_Rect_Rect_Complex(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]), c.complex)
            << v[4] << "," << v[5] << " " << v[6] << "x" << v[7];
        EXPECT_EQ(K().LastColPointX, 12);  // rectangles leave the point alone
    }
}

}  // namespace
