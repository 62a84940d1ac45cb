// The real operations: forwarders to the operations of this platform, and
// the pause and today's date, which the standard library gives everywhere.
#include "sysops/System.h"

#include <cstdio>
#include <chrono>
#include <ctime>
#include <thread>

#include "sysops/PendingRenames.h"
#include "sysops/ProcessControl.h"
#include "sysops/Registration.h"
#include "sysops/Shutdown.h"

namespace ue {

void RealSystem::KillProcessByName(const std::string& imageName, const std::string& installDir) {
    ue::KillProcessByName(imageName, installDir, kCloseWait, whileWaiting_);
}

std::vector<RunningProgram> RealSystem::ProgramsHoldingFile(const std::string& path) {
    return ue::ProgramsHoldingFile(path);
}

std::uint32_t RealSystem::RunProgram(const std::string& file, bool wait,
                                     const std::string& parameters, int showMode) {
    return ue::RunProgram(file, wait, parameters, showMode);
}

std::error_code RealSystem::ReplaceFileAtRestart(const std::string& source,
                                                 const std::string& target) {
    return QueueFileReplacement(source, target);
}

void RealSystem::RegisterServerLibrary(const std::string& file) {
    ue::RegisterServerLibrary(file);
}

void RealSystem::ShutdownWindows(int mode) { ue::ShutdownWindows(mode); }

std::string RealSystem::RestartReplacementWarning() { return ue::RestartReplacementWarning(); }

void RealSystem::Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string RealSystem::TodayText() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    // std::localtime hands out one shared buffer; only the run's thread asks.
    if (const std::tm* shared = std::localtime(&now)) local = *shared;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return buf;
}

}  // namespace ue
