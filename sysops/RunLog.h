// The system's own log, where administrators look: the systemd journal on
// Linux, the Application event log on Windows (source "UpdateExe"); and a
// text log file. Writing a log never fails what is being logged: the system
// log fails quietly, the file gives its error back to be ignored.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace ue {

enum class LogLevel { Info, Warning, Error };

// A field of a journal entry: NAME (upper-case letters, digits and '_') and
// its value. The event log keeps only the message.
struct LogField {
    std::string name;
    std::string value;
};

// The identifier of UpdateExe's entries: SYSLOG_IDENTIFIER in the journal,
// the event source on Windows.
inline constexpr char kLogIdentifier[] = "UpdateExe";

// One entry: in the journal MESSAGE, PRIORITY (6 info, 4 warning, 3 err),
// SYSLOG_IDENTIFIER and `fields`; in the event log event 1 of the message
// file linked into the program, with `message` as its one insertion string
// and the level as the event type. Without a journal or an event log the
// entry is lost, silently.
void WriteSystemLog(LogLevel level, const std::string& message,
                    const std::vector<LogField>& fields) noexcept;

// Appends "<UTC time, ISO 8601> <line>\n" to the file at `path` (UTF-8, as
// given), creating it when missing.
std::error_code AppendLogLine(const std::string& path, const std::string& line);

// Now, in UTC: "2026-12-10T06:40:12Z".
std::string UtcTimestamp();

}  // namespace ue
