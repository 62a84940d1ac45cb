#include "sysops/DateTime.h"

namespace ue {
namespace {

constexpr bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a proleptic Gregorian date (the civil-from-days
// inverse by eras of 400 years).
long long DaysFromCivil(int year, int month, int day) {
    const long long y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// 1899-12-30 counted from 1970-01-01.
constexpr long long kDay0FromUnixEpoch = -25569;

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return 0;
    if (day < 1 || day > DaysInMonth(year, month)) return 0;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999) {
        return 0;
    }
    const double days = static_cast<double>(DaysFromCivil(year, month, day) - kDay0FromUnixEpoch);
    const double fraction =
        (hour * 3600000 + minute * 60000 + second * 1000 + millisecond) / 86400000.0;
    return days >= 0 ? days + fraction : days - fraction;
}

}  // namespace ue
