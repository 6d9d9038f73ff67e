// Local calendar date and wall-clock time, as numbers and as text.
//
// Every number is its own query of the clock; the text forms read their
// fields one by one (smallest unit first for times), so a text built across
// the turn of a second may mix two moments.
#include <ctime>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

using std::string;

static struct tm Now() {
    time_t t = time(nullptr);
    struct tm out = {};
    localtime_r(&t, &out);
    return out;
}

int KELPCore::Date_Day() { return Now().tm_mday; }
int KELPCore::Date_Month() { return Now().tm_mon + 1; }
int KELPCore::Date_Year() { return Now().tm_year + 1900; }
int KELPCore::Time_Hour() { return Now().tm_hour; }
int KELPCore::Time_Minute() { return Now().tm_min; }
int KELPCore::Time_Second() { return Now().tm_sec; }

string KELPCore::Date_str() {
    int year = Date_Year();
    int month = Date_Month();
    int day = Date_Day();
    return fstr("%02i/%02i/%i", day, month, year);
}

string KELPCore::Time_str() {
    int second = Time_Second();
    int minute = Time_Minute();
    int hour = Time_Hour();
    return fstr("%02i:%02i:%02i", hour, minute, second);
}

string KELPCore::DateTime_str() {
    int second = Time_Second();
    int minute = Time_Minute();
    int hour = Time_Hour();
    int year = Date_Year();
    int month = Date_Month();
    int day = Date_Day();
    return fstr("%02i/%02i/%i %02i:%02i:%02i", day, month, year, hour, minute, second);
}

string KELPCore::DateTime_file() {
    int second = Time_Second();
    int minute = Time_Minute();
    int hour = Time_Hour();
    int year = Date_Year();
    int month = Date_Month();
    int day = Date_Day();
    return fstr("%02i-%02i-%i_%02i-%02i-%02i", day, month, year, hour, minute, second);
}
