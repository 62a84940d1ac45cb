// What a run tells the administrator's log: where it runs, the versions, the
// fate of each file and how it ended. The run and the program report events;
// sinks (the system's log, a text file, a test's recorder) receive them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ue {

struct RunEvent {
    enum class Kind {
        Start,    // installation
        Version,  // versionFrom, versionTo
        File,     // file, fate, reason
        Outcome,  // outcome, reason
    };
    enum class Fate { Applied, Queued, LeftAlone, Failed };
    enum class Outcome { Done, RestartNeeded, Stopped, Failed, AnotherUpdater };

    Kind kind = Kind::Start;
    std::string installation;
    std::int32_t versionFrom = 0;
    std::int32_t versionTo = 0;
    std::string file;  // the target's path, or the row's FileName when it has none
    Fate fate = Fate::Applied;
    Outcome outcome = Outcome::Done;
    // Why a file was queued, left alone or failed; the message of a failure.
    std::string reason;

    // A failure is reported at error priority, a queued file or a restart
    // need at warning, the rest as information.
    enum class Severity { Info, Warning, Error };
    Severity severity() const;
    // "applied", "queued", ...; "done", "restart needed", ...
    std::string fateName() const;
    std::string outcomeName() const;
    // The one line every sink writes, in English.
    std::string Text() const;
};

class RunReport {
public:
    virtual ~RunReport() = default;
    // Must not throw: writing the log never fails the run.
    virtual void Report(const RunEvent& event) noexcept = 0;
};

// Hands every event to each of its sinks.
class RunReportFanOut : public RunReport {
public:
    void Add(RunReport* sink) {
        if (sink != nullptr) sinks_.push_back(sink);
    }
    void Report(const RunEvent& event) noexcept override {
        for (RunReport* sink : sinks_) sink->Report(event);
    }

private:
    std::vector<RunReport*> sinks_;
};

// The events in the system's log (the journal, the event log): one entry
// each, with fields UE_EVENT, UE_INSTALLATION (of the run's start, on every
// entry), UE_VERSION_FROM, UE_VERSION_TO, UE_FILE, UE_FATE, UE_OUTCOME,
// UE_REASON where they apply.
class SystemLogReport : public RunReport {
public:
    void Report(const RunEvent& event) noexcept override;

private:
    std::string installation_;
};

// The events as lines of text appended to the file at `path`, each with its
// time. A file that cannot be written loses the line; the run goes on.
class FileLogReport : public RunReport {
public:
    explicit FileLogReport(std::string path) : path_(std::move(path)) {}
    void Report(const RunEvent& event) noexcept override;

private:
    std::string path_;
};

}  // namespace ue
