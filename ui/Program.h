// The program's sequence, the same for every toolkit: the run context under
// the error box, the three windows, the message loop, then the windows torn
// down before the run context. Each toolkit implements Toolkit and calls
// RunProgram from its main; an unattended run uses UnattendedToolkit
// (ui/Unattended.h), which shows nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run/RunReport.h"
#include "run/UserInterface.h"
#include "sysops/System.h"
#include "ui/Options.h"

namespace ue {

class TDM_Update;

class Toolkit {
public:
    virtual ~Toolkit() = default;

    // The error box with `text` as it is (see ErrorBoxText).
    virtual void ShowErrorBox(const std::string& text) = 0;
    // Creates FrmMain (the main window, its grids over DM_Update's
    // DownLoadFileLog and UpdateFileLog, its run `runUpdate`), then
    // FrmInfo and FrmProgress, both hidden. Returns the user interface over
    // them, which lives until DestroyWindows.
    virtual UserInterface& CreateWindows(TDM_Update& DM_Update, std::function<void()> runUpdate) = 0;
    // Shows the main window and dispatches messages until it has closed or
    // the end of the application was requested.
    virtual void Loop() = 0;
    // Destroys the windows; must not throw.
    virtual void DestroyWindows() noexcept = 0;
    // Processes the windows' pending messages during the run's pauses, so
    // that they keep answering; nothing without windows.
    virtual void PumpMessages() {}
};

// The run's system operations with pauses that keep the windows answering:
// a Sleep is slept in slices of at most kSliceMs, the toolkit's messages
// processed after each. Everything else goes to `inner` as it is.
class PumpingSystem : public System {
public:
    static constexpr unsigned kSliceMs = 25;

    PumpingSystem(System& inner, Toolkit& toolkit) : inner_(inner), toolkit_(toolkit) {}

    void KillProcessByName(const std::string& imageName, const std::string& installDir) override {
        inner_.KillProcessByName(imageName, installDir);
    }
    std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                             int showMode) override {
        return inner_.RunProgram(file, wait, parameters, showMode);
    }
    std::error_code ReplaceFileAtRestart(const std::string& source, const std::string& target) override {
        return inner_.ReplaceFileAtRestart(source, target);
    }
    void RegisterServerLibrary(const std::string& file) override { inner_.RegisterServerLibrary(file); }
    void ShutdownWindows(int mode) override { inner_.ShutdownWindows(mode); }
    void Sleep(unsigned milliseconds) override;
    std::string TodayText() override { return inner_.TodayText(); }
    std::string RestartReplacementWarning() override { return inner_.RestartReplacementWarning(); }
    std::vector<RunningProgram> ProgramsHoldingFile(const std::string& path) override {
        return inner_.ProgramsHoldingFile(path);
    }

private:
    System& inner_;
    Toolkit& toolkit_;
};

// The sequence over the run context of the installation in `exeDir` (with
// its trailing separator). It begins with the installation's lock: when
// another updater holds it, AnotherUpdaterMessage goes to stderr (and, in an
// interactive run, to the error box) and the program ends, nothing else
// done. An error of DataModuleCreate is shown in the error box; in an
// interactive run the windows come up all the same, as the loop is the only
// way to end, while an unattended run ends there. The user interface is
// detached and the windows destroyed on every path, before
// DataModuleDestroy and the run context's destruction.
// Returns how the run ended.
//
// `report`, when given, receives the start, the run's versions and files,
// and how the program ended (once, whatever the path).
Outcome RunProgram(Toolkit& toolkit, System& system, std::string exeDir, const Options& options,
                   RunReport* report = nullptr);

// What a second updater on the installation in `exeDir` says, with its line end.
std::string AnotherUpdaterMessage(const std::string& exeDir);

// The same with the real system operations, next to the executable,
// reporting to the system's log and, with --log, to that file; returns the
// exit code (ProgramExitCode).
int RunProgram(Toolkit& toolkit, const Options& options);

}  // namespace ue
