// Linux part of the date-time value that the file primitives share.
#pragma once

#include <cstdint>

#include "sysops/DateTime.h"

namespace ue::posix {

// A Unix instant (seconds and nanoseconds, nanoseconds in [0, 1e9)) as a local
// date-time value, truncated to the millisecond; 0 outside the years 1..9999.
TDateTime LocalDateTimeFromUnixTime(std::int64_t seconds, long nanoseconds);

}  // namespace ue::posix
