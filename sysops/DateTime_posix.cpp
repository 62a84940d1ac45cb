#include <ctime>

#include "sysops/DateTime.h"
#include "sysops/DateTime_posix.h"

namespace ue {

namespace posix {

TDateTime LocalDateTimeFromUnixTime(std::int64_t seconds, long nanoseconds) {
    // Picks up a changed TZ; cheap when it did not change.
    tzset();
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return 0;
    // time_t has no leap seconds, but a "right/" zone can still report :60.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, second, static_cast<int>(nanoseconds / 1000000));
}

}  // namespace posix

TDateTime FileTimeToLocalDateTime(std::uint64_t fileTime) {
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    const auto seconds = static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
    const auto nanoseconds = static_cast<long>(fileTime % kTicksPerSecond) * 100;
    return posix::LocalDateTimeFromUnixTime(seconds, nanoseconds);
}

}  // namespace ue
