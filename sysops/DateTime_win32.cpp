// File times on Windows: the system's own conversion to local time, with the
// time zone's rules for the file's date.
#include <windows.h>

#include "sysops/DateTime.h"

namespace ue {

TDateTime FileTimeToLocalDateTime(std::uint64_t fileTime) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&ft, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return 0;
    }
    return EncodeDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                          local.wSecond, local.wMilliseconds);
}

}  // namespace ue
