#include "run/RunReport.h"

#include "sysops/RunLog.h"

namespace ue {

RunEvent::Severity RunEvent::severity() const {
    switch (kind) {
    case Kind::File:
        if (fate == Fate::Failed) return Severity::Error;
        return fate == Fate::Queued ? Severity::Warning : Severity::Info;
    case Kind::Outcome:
        if (outcome == Outcome::Failed) return Severity::Error;
        return outcome == Outcome::Done ? Severity::Info : Severity::Warning;
    default:
        return Severity::Info;
    }
}

std::string RunEvent::fateName() const {
    switch (fate) {
    case Fate::Applied: return "applied";
    case Fate::Queued: return "queued for the restart";
    case Fate::LeftAlone: return "left alone";
    case Fate::Failed: return "failed";
    }
    return "?";
}

std::string RunEvent::outcomeName() const {
    switch (outcome) {
    case Outcome::Done: return "done";
    case Outcome::RestartNeeded: return "done, restart needed";
    case Outcome::Stopped: return "stopped by the user";
    case Outcome::Failed: return "failed";
    case Outcome::AnotherUpdater: return "another UpdateExe is working on this installation";
    }
    return "?";
}

std::string RunEvent::Text() const {
    const std::string why = reason.empty() ? std::string() : ": " + reason;
    switch (kind) {
    case Kind::Start:
        return "Update of " + installation + " started";
    case Kind::Version:
        return "Version " + std::to_string(versionFrom) + " to " + std::to_string(versionTo);
    case Kind::File:
        return fateName() + " " + file + why;
    case Kind::Outcome:
        return "Update of " + installation + " ended: " + outcomeName() + why;
    }
    return {};
}

namespace {

LogLevel LevelOf(const RunEvent& event) {
    switch (event.severity()) {
    case RunEvent::Severity::Error: return LogLevel::Error;
    case RunEvent::Severity::Warning: return LogLevel::Warning;
    case RunEvent::Severity::Info: break;
    }
    return LogLevel::Info;
}

}  // namespace

void SystemLogReport::Report(const RunEvent& event) noexcept {
    try {
        using Kind = RunEvent::Kind;
        if (event.kind == Kind::Start) installation_ = event.installation;
        static constexpr const char* kKinds[] = {"start", "version", "file", "outcome"};
        std::vector<LogField> fields{{"UE_EVENT", kKinds[static_cast<int>(event.kind)]},
                                     {"UE_INSTALLATION", installation_}};
        switch (event.kind) {
        case Kind::Start: break;
        case Kind::Version:
            fields.push_back({"UE_VERSION_FROM", std::to_string(event.versionFrom)});
            fields.push_back({"UE_VERSION_TO", std::to_string(event.versionTo)});
            break;
        case Kind::File:
            fields.push_back({"UE_FILE", event.file});
            fields.push_back({"UE_FATE", event.fateName()});
            break;
        case Kind::Outcome:
            fields.push_back({"UE_OUTCOME", event.outcomeName()});
            break;
        }
        if (!event.reason.empty()) fields.push_back({"UE_REASON", event.reason});
        WriteSystemLog(LevelOf(event), event.Text(), fields);
    } catch (...) {
    }
}

void FileLogReport::Report(const RunEvent& event) noexcept {
    try {
        (void)AppendLogLine(path_, event.Text());
    } catch (...) {
    }
}

}  // namespace ue
