// Local date and time, as numbers and as text.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "core/KELPCore.h"
#include "sys/KELPSys.h"

using namespace kelp;

using std::string;

namespace {

struct TimeTest : ::testing::Test {
    std::unique_ptr<KELPCore> core{new KELPCore()};
    KELPCore& K() { return *core; }
};

string Format(const char* fmt, const struct tm& t, bool withTime, bool withDate) {
    char buf[64];
    if (withDate && withTime)
        snprintf(buf, sizeof buf, fmt, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    else if (withDate)
        snprintf(buf, sizeof buf, fmt, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
    else
        snprintf(buf, sizeof buf, fmt, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

// Runs `check` until the clock reads the same second before and after it,
// so that the comparison is against one moment.
template <class F>
void AtOneMoment(F check) {
    for (int attempt = 0; attempt < 5; attempt++) {
        time_t before = time(nullptr);
        struct tm t;
        localtime_r(&before, &t);
        bool ok = check(t);
        if (time(nullptr) == before) {
            EXPECT_TRUE(ok);
            return;
        }
    }
    ADD_FAILURE() << "the clock kept moving";
}

TEST_F(TimeTest, NumbersMatchLocalTime) {
    AtOneMoment([&](const struct tm& t) {
        return K().Date_Day() == t.tm_mday && K().Date_Month() == t.tm_mon + 1 &&
               K().Date_Year() == t.tm_year + 1900 && K().Time_Hour() == t.tm_hour &&
               K().Time_Minute() == t.tm_min && K().Time_Second() == t.tm_sec;
    });
    int m = K().Date_Month(), y = K().Date_Year();
    EXPECT_GE(m, 1);
    EXPECT_LE(m, 12);
    EXPECT_GE(y, 2024);
}

TEST_F(TimeTest, TextForms) {
    AtOneMoment([&](const struct tm& t) {
        string d = K().Date_str(), tm = K().Time_str(), dt = K().DateTime_str(), f = K().DateTime_file();
        EXPECT_EQ(d.size(), 10u);
        EXPECT_EQ(tm.size(), 8u);
        return d == Format("%02i/%02i/%i", t, false, true) && tm == Format("%02i:%02i:%02i", t, true, false) &&
               dt == Format("%02i/%02i/%i %02i:%02i:%02i", t, true, true) &&
               f == Format("%02i-%02i-%i_%02i-%02i-%02i", t, true, true);
    });
}

TEST_F(TimeTest, FollowsTheTimeZone) {
    // The same instant reads differently in two zones; the text must follow.
    const char* old = getenv("TZ");
    string saved = old ? old : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    int utcHour = K().Time_Hour();
    setenv("TZ", "XYZ-5", 1);  // five hours east of UTC
    tzset();
    int eastHour = K().Time_Hour();
    string file = K().DateTime_file();
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
    // Allow for the hour turning between the two reads.
    int diff = (eastHour - utcHour + 24) % 24;
    EXPECT_TRUE(diff == 5 || diff == 6) << utcHour << " vs " << eastHour;
    ASSERT_EQ(file.size(), 19u);
    EXPECT_EQ(file[2], '-');
    EXPECT_EQ(file[10], '_');
}

}  // namespace
