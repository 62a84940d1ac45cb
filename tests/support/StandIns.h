// Stand-ins for what the run reaches outside itself: a System that records
// every call and touches nothing (no process is stopped or started, nothing
// is queued or restarted, pauses return at once), and a UserInterface that
// plays a script. Header-only, so that programs without GoogleTest use them.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "run/RunReport.h"
#include "run/UserInterface.h"
#include "sysops/ProcessControl.h"
#include "sysops/System.h"

namespace ue::test {

// The entry RunProgram records for a start without waiting.
inline std::string RunEntry(const std::string& file, int showMode) {
    return "RunProgram " + file + " wait=0 params='' show=" + std::to_string(showMode);
}

// One entry per call, in order: "Sleep 100", "KillProcessByName Main.exe in <dir>",
// RunEntry(...), "ReplaceFileAtRestart <source> -> <target>" (a copy queued
// beside the target as "<target>.~urXXXXXX", its random part written so),
// "RegisterServerLibrary <file>", "ShutdownWindows 3", "TodayText".
class RecordingSystem : public System {
public:
    std::vector<std::string> calls;
    // RunProgram raises the real start error (code 2, not found) for these.
    std::set<std::string> failingPrograms;
    // When set, RegisterServerLibrary raises an Error with this message.
    std::optional<std::string> registerError;
    // What ReplaceFileAtRestart reports: none, or the cause of a failed queue.
    std::error_code replaceAtRestartError;
    // What RestartReplacementWarning says.
    std::string restartWarning;
    std::string RestartReplacementWarning() override { return restartWarning; }
    // What ProgramsHoldingFile finds, whatever the file.
    std::vector<RunningProgram> holders;
    std::vector<RunningProgram> ProgramsHoldingFile(const std::string&) override { return holders; }
    // Runs after a pause is recorded: lets a test act at a given moment.
    std::function<void(unsigned milliseconds)> onSleep;

    void KillProcessByName(const std::string& imageName, const std::string& installDir) override {
        calls.push_back("KillProcessByName " + imageName + " in " + installDir);
    }
    std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                             int showMode) override {
        calls.push_back("RunProgram " + file + " wait=" + (wait ? "1" : "0") + " params='" +
                        parameters + "' show=" + std::to_string(showMode));
        if (failingPrograms.count(file) != 0) throw Error(RunFailureMessage(file, 2));
        return 0;
    }
    std::error_code ReplaceFileAtRestart(const std::string& source,
                                         const std::string& target) override {
        std::string named = source;
        const std::string copy = target + ".~ur";
        if (named.size() == copy.size() + 6 && named.starts_with(copy)) named = copy + "XXXXXX";
        calls.push_back("ReplaceFileAtRestart " + named + " -> " + target);
        queued[target] = source;
        return replaceAtRestartError;
    }
    // Per target, the file the last call queued for it.
    std::map<std::string, std::string> queued;
    void RegisterServerLibrary(const std::string& file) override {
        calls.push_back("RegisterServerLibrary " + file);
        if (registerError) throw Error(*registerError);
    }
    void ShutdownWindows(int mode) override {
        calls.push_back("ShutdownWindows " + std::to_string(mode));
    }
    void Sleep(unsigned milliseconds) override {
        calls.push_back("Sleep " + std::to_string(milliseconds));
        if (onSleep) onSleep(milliseconds);
    }
    std::string TodayText() override {
        calls.push_back("TodayText");
        return "2008-05-09";
    }

    // How many entries start with `prefix`.
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    // The entries without the pauses and the date.
    std::vector<std::string> Actions() const {
        std::vector<std::string> out;
        for (const auto& c : calls) {
            if (c.rfind("Sleep ", 0) != 0 && c != "TodayText") out.push_back(c);
        }
        return out;
    }
};

// Each file-in-use dialog takes the next step of the script (continue, after
// an optional action such as freeing the held file, or close, which raises
// SilentAbort); once the script has run out it continues. Dialogs
// ("ShowFileInUseDialog <message>") and restart questions ("AskRestart OK" or
// "AskRestart Cancel") go into the system's calls, in order with its own.
class ScriptedUI : public UserInterface {
public:
    explicit ScriptedUI(RecordingSystem& journal) : journal_(journal) {}

    bool restartAnswer = false;

    ScriptedUI& Continue(std::function<void()> action = {}) {
        script_.push_back({false, std::move(action)});
        return *this;
    }
    ScriptedUI& Close() {
        script_.push_back({true, {}});
        return *this;
    }

    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders) override {
        std::string call = "ShowFileInUseDialog " + message;
        for (std::size_t i = 0; i < holders.size(); ++i) {
            call += (i == 0 ? " [" : ", ") + DescribeProgram(holders[i]);
        }
        journal_.calls.push_back(holders.empty() ? call : call + "]");
        if (script_.empty()) return;
        Step step = std::move(script_.front());
        script_.pop_front();
        if (step.action) step.action();
        if (step.close) throw SilentAbort();
    }
    bool AskRestart() override {
        journal_.calls.push_back(restartAnswer ? "AskRestart OK" : "AskRestart Cancel");
        return restartAnswer;
    }
    WindowHandle OwnerWindow() override { return nullptr; }
    // Each file's first report ("b.dll 2/3") and, per file, the last bytes
    // done and total reported.
    void ShowProgress(const FileProgress& progress) override {
        if (progress.file != lastFile_ || progress.index != lastIndex_) {
            files.push_back(progress.file + " " + std::to_string(progress.index) + "/" +
                            std::to_string(progress.count));
            lastFile_ = progress.file;
            lastIndex_ = progress.index;
        }
        if (progress.total > 0) lastBytes[progress.file] = {progress.done, progress.total};
    }
    std::vector<std::string> files;
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> lastBytes;

private:
    std::string lastFile_;
    int lastIndex_ = 0;
    struct Step {
        bool close;
        std::function<void()> action;
    };
    std::deque<Step> script_;
    RecordingSystem& journal_;
};

// Each event as one entry: "start <installation>", "version <from> <to>",
// "<fate> <file>[: <reason>]", "outcome <outcome>[: <reason>]".
class RecordingReport : public RunReport {
public:
    std::vector<std::string> events;

    void Report(const RunEvent& event) noexcept override {
        const std::string why = event.reason.empty() ? "" : ": " + event.reason;
        switch (event.kind) {
        case RunEvent::Kind::Start: events.push_back("start " + event.installation); break;
        case RunEvent::Kind::Version:
            events.push_back("version " + std::to_string(event.versionFrom) + " " +
                             std::to_string(event.versionTo));
            break;
        case RunEvent::Kind::File: events.push_back(event.fateName() + " " + event.file + why); break;
        case RunEvent::Kind::Outcome: events.push_back("outcome " + event.outcomeName() + why); break;
        }
    }
};

}  // namespace ue::test
