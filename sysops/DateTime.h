// The date-time value: local time as days since 30 December 1899, the time of
// day as fraction; 0 means no time.
#pragma once

#include <cstdint>

namespace ue {

using TDateTime = double;

// Day count of a Gregorian date plus the fraction of a time of day,
// (h*3600000 + min*60000 + s*1000 + ms) / 86400000. Before 30 December 1899
// the day count is negative and the time of day is subtracted, so that the
// whole part stays the day and the fraction the time (-1.25 is 29 December
// 1899, 06:00). Valid years are 1..9999. Returns 0 for an invalid date or
// time; 30 December 1899 00:00:00.000 is 0 as well, which is indistinguishable
// from "no time" (no file carries that instant in practice).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

// A platform file time (100-ns intervals since 1601-01-01 UTC) as a local
// date-time value, truncated to the millisecond. On Linux the local time zone
// applies with the offset in force at that instant (as ls shows it), so the
// value of a file does not depend on when it is asked for. 0 when the instant
// falls outside the years 1..9999.
TDateTime FileTimeToLocalDateTime(std::uint64_t fileTime);

}  // namespace ue
