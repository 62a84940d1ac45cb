// A System that records every call in order and touches nothing: no process
// is stopped or started, no restart is requested, nothing is queued for the
// restart, and pauses return at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sysops/System.h"

namespace ue::test {

class RecordingSystem : public System {
public:
    // One entry per call, e.g. "Sleep 100", "KillProcessByName Main.exe",
    // "RunProgram /base/a.exe wait=0 params='' show=1",
    // "ReplaceFileAtRestart /base/update/a.dll -> /base/a.dll",
    // "RegisterServerLibrary /base/a.dll", "ShutdownWindows 3", "TodayText".
    // Others (the scripted UI) may add their own entries with Note.
    std::vector<std::string> calls;

    // The date TodayText gives.
    std::string today = "2008-05-09";
    // RunProgram raises the real start error (code 2, file not found) for these.
    std::set<std::string> failingPrograms;
    // When set, RegisterServerLibrary raises an Error with this message.
    std::optional<std::string> registerError;
    // Runs after a pause is recorded: lets a test act at a given moment of the run.
    std::function<void(unsigned milliseconds)> onSleep;

    void KillProcessByName(const std::string& imageName) override;
    std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                             int showMode) override;
    void ReplaceFileAtRestart(const std::string& source, const std::string& target) override;
    void RegisterServerLibrary(const std::string& file) override;
    void ShutdownWindows(int mode) override;
    void Sleep(unsigned milliseconds) override;
    std::string TodayText() override;

    void Note(std::string entry) { calls.push_back(std::move(entry)); }

    // The calls without the pauses and the date, for checks of what was done.
    std::vector<std::string> Actions() const;
    // How many entries start with `prefix`.
    int Count(const std::string& prefix) const;
    // Sum of every pause's milliseconds.
    unsigned long SleptMilliseconds() const { return slept_; }

private:
    unsigned long slept_ = 0;
};

// The entry RunProgram records for a start without waiting.
std::string RunEntry(const std::string& file, int showMode);

}  // namespace ue::test
