// Self-registration, the part both platforms share: the child's command line
// and report, and what the parent makes of the way the child ended.
#include "sysops/Registration.h"

#include <cstdlib>

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "sysops/Messages.h"

namespace ue {

namespace registration {

namespace {

// How long the entry may run before it is taken as hung.
constexpr std::chrono::milliseconds kEntryBound = std::chrono::seconds(60);

std::string& Program() {
    static std::string program;
    return program;
}

// "DllRegisterServer in <file> failed: <why>."
std::string FailureMessage(const std::string& file, const std::string& why) {
    std::string message = EntryFailureMessage(file);
    if (message.ends_with('.')) message.pop_back();
    return message + ": " + why + ".";
}

std::string DurationText(std::chrono::milliseconds bound) {
    if (bound.count() % 1000 != 0) return Message(MessageId::DurationMs, {std::to_string(bound.count())});
    const auto seconds = bound.count() / 1000;
    return Message(seconds == 1 ? MessageId::DurationSecond : MessageId::DurationSeconds, {std::to_string(seconds)});
}

struct Report {
    bool valid = false;
    int outcome = 0;
    std::uint32_t code = 0;
    std::string text;
};

// A decimal number of at most `max`; false for anything else.
bool ParseNumber(const std::string& digits, std::uint64_t max, std::uint64_t& value) {
    if (digits.empty() || digits.size() > 10) return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= max;
}

Report ParseReport(const std::string& text) {
    Report report;
    const auto blank = text.find(' ');
    const auto end = text.find('\n');
    if (blank == std::string::npos || end == std::string::npos || blank > end) return report;
    std::uint64_t outcome = 0;
    std::uint64_t code = 0;
    if (!ParseNumber(text.substr(0, blank), 255, outcome) ||
        !ParseNumber(text.substr(blank + 1, end - blank - 1), 0xFFFFFFFFu, code)) {
        return report;
    }
    report.valid = true;
    report.outcome = static_cast<int>(outcome);
    report.code = static_cast<std::uint32_t>(code);
    report.text = text.substr(end + 1);
    return report;
}

// The child's own text without a leading "<file>: " that would repeat the
// path the message ends with; the system's text for the code without one.
std::string PlatformText(const Report& report, const std::string& file) {
    if (report.text.empty()) {
        return TrimPlatformText(SystemReason(SystemError(static_cast<int>(report.code))));
    }
    std::string text = report.text;
    const std::string prefix = file + ": ";
    if (!file.empty() && text.starts_with(prefix) && text.size() > prefix.size()) {
        text.erase(0, prefix.size());
    }
    return TrimPlatformText(text);
}

}  // namespace

std::string ReportText(Outcome outcome, std::uint32_t code, const std::string& text) {
    return std::to_string(static_cast<int>(outcome)) + " " + std::to_string(code) + "\n" +
           text.substr(0, kMaxReport);
}

void RaiseUnlessRegistered(const std::string& file, const ChildEnd& end,
                           std::chrono::milliseconds bound) {
    switch (end.how) {
    case ChildEnd::How::TimedOut:
        throw Error(FailureMessage(file, Message(MessageId::RegistrationTimedOut, {DurationText(bound)})));
    case ChildEnd::How::Crashed:
        throw Error(FailureMessage(file, Message(MessageId::RegistrationCrashed, {end.crash})));
    case ChildEnd::How::NotStarted:
        throw Error(FailureMessage(
            file, FailureText(Message(MessageId::RegistrationCannotStart), end.program,
                              SystemError(static_cast<int>(end.exitCode)))));
    case ChildEnd::How::Lost:
        throw Error(EntryFailureMessage(file));
    case ChildEnd::How::Exited:
        break;
    }
    // The exit code counts only when the report repeats it: an entry that
    // ends its process with one of the child's codes wrote no report.
    const Report report = ParseReport(end.report);
    if (!report.valid || static_cast<std::uint32_t>(report.outcome) != end.exitCode) {
        throw Error(FailureMessage(
            file, Message(MessageId::RegistrationExitCode, {std::to_string(end.exitCode)})));
    }
    switch (report.outcome) {
    case kRegistered:
        return;
    case kLoadFailed:
        throw Error(LoadFailureMessage(PlatformText(report, file), file));
    case kNoEntry:
        throw MakeOSError(report.code, PlatformText(report, file));
    default:
        throw Error(EntryFailureMessage(file));
    }
}

const std::string& RegistrationProgram() { return Program(); }

}  // namespace registration

void SetRegistrationProgram(const std::string& program) { registration::Program() = program; }

void RegisterServerLibrary(const std::string& file) {
    RegisterServerLibraryWithin(file, registration::kEntryBound);
}

void RunRegistrationChild(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != kRegisterLibraryOption) return;
    if (args.size() != 3) std::_Exit(registration::kBadCommandLine);
    registration::RegisterInThisProcess(args[1], args[2]);
}

}  // namespace ue
