#include "KELPCore.h"

// TODO: not built yet.
int KELPCore::Date_Day() { return 0; }
int KELPCore::Date_Month() { return 0; }
int KELPCore::Date_Year() { return 0; }
int KELPCore::Time_Hour() { return 0; }
int KELPCore::Time_Minute() { return 0; }
int KELPCore::Time_Second() { return 0; }
string KELPCore::Date_str() { return string(); }
string KELPCore::Time_str() { return string(); }
string KELPCore::DateTime_str() { return string(); }
string KELPCore::DateTime_file() { return string(); }
