#include "sysops/RunLog.h"

#include <sys/uio.h>
// CODE_FILE and CODE_LINE would name this file, not what is reported.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <ctime>

namespace ue {

namespace {

int Priority(LogLevel level) {
    switch (level) {
    case LogLevel::Error: return 3;
    case LogLevel::Warning: return 4;
    case LogLevel::Info: break;
    }
    return 6;
}

}  // namespace

void WriteSystemLog(LogLevel level, const std::string& message,
                    const std::vector<LogField>& fields) noexcept {
    try {
        std::vector<std::string> items{"MESSAGE=" + message,
                                       "PRIORITY=" + std::to_string(Priority(level)),
                                       std::string("SYSLOG_IDENTIFIER=") + kLogIdentifier};
        for (const LogField& field : fields) items.push_back(field.name + "=" + field.value);
        std::vector<iovec> vectors;
        vectors.reserve(items.size());
        for (std::string& item : items) vectors.push_back({item.data(), item.size()});
        // Fails (no journal listening) without a word: the run goes on.
        (void)sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size()));
    } catch (...) {
    }
}

std::string UtcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = "";
    if (::gmtime_r(&now, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace ue
