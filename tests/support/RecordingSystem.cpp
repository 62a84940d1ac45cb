#include "tests/support/RecordingSystem.h"

#include "core/Errors.h"
#include "sysops/ProcessControl.h"

namespace ue::test {

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string RunText(const std::string& file, bool wait, const std::string& parameters,
                    int showMode) {
    return "RunProgram " + file + " wait=" + (wait ? "1" : "0") + " params='" + parameters +
           "' show=" + std::to_string(showMode);
}

}  // namespace

std::string RunEntry(const std::string& file, int showMode) {
    return RunText(file, false, "", showMode);
}

void RecordingSystem::KillProcessByName(const std::string& imageName) {
    calls.push_back("KillProcessByName " + imageName);
}

std::uint32_t RecordingSystem::RunProgram(const std::string& file, bool wait,
                                          const std::string& parameters, int showMode) {
    calls.push_back(RunText(file, wait, parameters, showMode));
    if (failingPrograms.count(file) != 0) throw Error(RunFailureMessage(file, 2));
    return 0;
}

void RecordingSystem::ReplaceFileAtRestart(const std::string& source, const std::string& target) {
    calls.push_back("ReplaceFileAtRestart " + source + " -> " + target);
}

void RecordingSystem::RegisterServerLibrary(const std::string& file) {
    calls.push_back("RegisterServerLibrary " + file);
    if (registerError) throw Error(*registerError);
}

void RecordingSystem::ShutdownWindows(int mode) {
    calls.push_back("ShutdownWindows " + std::to_string(mode));
}

void RecordingSystem::Sleep(unsigned milliseconds) {
    calls.push_back("Sleep " + std::to_string(milliseconds));
    slept_ += milliseconds;
    if (onSleep) onSleep(milliseconds);
}

std::string RecordingSystem::TodayText() {
    calls.push_back("TodayText");
    return today;
}

std::vector<std::string> RecordingSystem::Actions() const {
    std::vector<std::string> out;
    for (const auto& c : calls) {
        if (!StartsWith(c, "Sleep ") && c != "TodayText") out.push_back(c);
    }
    return out;
}

int RecordingSystem::Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : calls) n += StartsWith(c, prefix) ? 1 : 0;
    return n;
}

}  // namespace ue::test
