#include "shared/clock.h"

long long UtcSeconds(const platform::LocalTime& t) {
  // Days from the civil date: years counted from March, so that the leap day
  // ends the year.
  long year = t.year - (t.month <= 2);
  long era = (year >= 0 ? year : year - 399) / 400;
  long yearOfEra = year - era * 400;
  long dayOfYear = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  long days = era * 146097 + dayOfEra - 719468;
  return static_cast<long long>(days) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

long long NowUtcSeconds() { return UtcSeconds(platform::CurrentUtcTime()); }
