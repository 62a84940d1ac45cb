// Everything the update logic does that can hurt the machine goes through one
// injectable object, so tests can record it instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "sysops/ProcessControl.h"

namespace ue {

class System {
public:
    virtual ~System() = default;
    // Stops the programs of that name that run from the installation `installDir`.
    virtual void KillProcessByName(const std::string& imageName, const std::string& installDir) = 0;
    virtual std::uint32_t RunProgram(const std::string& file, bool wait,
                                     const std::string& parameters, int showMode) = 0;
    // The system's error when the replacement could not be queued.
    virtual std::error_code ReplaceFileAtRestart(const std::string& source,
                                                 const std::string& target) = 0;
    virtual void RegisterServerLibrary(const std::string& file) = 0;
    virtual void ShutdownWindows(int mode) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;
    virtual std::string TodayText() = 0;  // local date as "yyyy-mm-dd"
    // Why a file queued for the restart would not be replaced then (no
    // renamer to carry the list out), or "" when nothing stands in the way.
    virtual std::string RestartReplacementWarning() { return {}; }
    // The programs that hold `path`, for the person asked to close them; a
    // few at most, empty when that cannot be found out. Pure, so that no
    // wrapper drops the answer by forgetting to pass it on.
    virtual std::vector<RunningProgram> ProgramsHoldingFile(const std::string& path) = 0;
};

// The real operations of this platform.
class RealSystem : public System {
public:
    void KillProcessByName(const std::string& imageName, const std::string& installDir) override;
    std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                             int showMode) override;
    std::error_code ReplaceFileAtRestart(const std::string& source,
                                         const std::string& target) override;
    void RegisterServerLibrary(const std::string& file) override;
    void ShutdownWindows(int mode) override;
    void Sleep(unsigned milliseconds) override;
    std::string TodayText() override;
    std::string RestartReplacementWarning() override;
    std::vector<RunningProgram> ProgramsHoldingFile(const std::string& path) override;

    // Runs while KillProcessByName waits for the programs it asked to close,
    // so that the windows go on answering.
    void SetWhileWaiting(std::function<void()> whileWaiting) { whileWaiting_ = std::move(whileWaiting); }

private:
    std::function<void()> whileWaiting_;
};

}  // namespace ue
