// The system clock as seconds, for what the program keeps across runs.
#pragma once

#include "platform/platform.h"

// Seconds since 1970-01-01 00:00:00 of a UTC time (proleptic Gregorian).
long long UtcSeconds(const platform::LocalTime& t);
long long NowUtcSeconds();
