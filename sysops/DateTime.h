// The date-time value: local time as days since 30 December 1899, the time of
// day as fraction; 0 means no time.
#pragma once

#include <cstdint>

namespace ue {

using TDateTime = double;

// Day count of a Gregorian date plus the fraction of a time of day. Returns 0
// for an invalid date or time.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

// A platform file time (100-ns intervals since 1601-01-01 UTC) as a local
// date-time value, with the time-zone offset in force now. 0 when invalid.
TDateTime FileTimeToLocalDateTime(std::uint64_t fileTime);

}  // namespace ue
