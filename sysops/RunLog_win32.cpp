#include "sysops/RunLog.h"

#include <windows.h>

#include <cstdio>

#include "core/WinText.h"
#include "sysops/RunLogMessages.h"

namespace ue {

namespace {

WORD EventType(LogLevel level) {
    switch (level) {
    case LogLevel::Error: return EVENTLOG_ERROR_TYPE;
    case LogLevel::Warning: return EVENTLOG_WARNING_TYPE;
    case LogLevel::Info: break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

// The source's registration (its message file) is the installer's matter:
// unregistered, Event Viewer still shows the entry, with a note that the
// description was not found, followed by the message.
void WriteSystemLog(LogLevel level, const std::string& message,
                    const std::vector<LogField>&) noexcept {
    try {
        const std::wstring text = Wide(message, "log entry");
        const std::wstring source = Wide(kLogIdentifier);
        HANDLE log = ::RegisterEventSourceW(nullptr, source.c_str());
        if (log == nullptr) return;
        LPCWSTR strings[] = {text.c_str()};
        (void)::ReportEventW(log, EventType(level), 0, UE_MSG_RUN_EVENT, nullptr, 1, 0, strings,
                             nullptr);
        ::DeregisterEventSource(log);
    } catch (...) {
    }
}

std::string UtcTimestamp() {
    SYSTEMTIME utc;
    ::GetSystemTime(&utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth,
                  utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

}  // namespace ue
