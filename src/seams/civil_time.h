// Local wall-clock time as a count of seconds, for stepping over the last
// few seconds of the schedule's clock (and for the test clock).
#pragma once

#include "seams/locale.h"

namespace tarnwick {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long daysFromCivil(int y, int m, int d);

// Seconds of a local time counted as if every day had 86400 of them.
long long wallSeconds(const LocalTime& t);

// The inverse, with the weekday filled in (milliseconds 0).
LocalTime fromWallSeconds(long long secs);

}  // namespace tarnwick
