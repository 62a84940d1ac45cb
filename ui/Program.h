// The program's sequence, the same for every toolkit: the run context under
// the error box, the three windows, the message loop, then the windows torn
// down before the run context. Each toolkit implements Toolkit and calls
// RunProgram from its main.
#pragma once

#include <string>

#include "run/RunReport.h"
#include "run/UserInterface.h"
#include "sysops/System.h"

namespace ue {

class TDM_Update;

class Toolkit {
public:
    virtual ~Toolkit() = default;

    // The error box with `text` as it is (see ErrorBoxText).
    virtual void ShowErrorBox(const std::string& text) = 0;
    // Creates FrmMain (the main window, its grids over DM_Update's
    // DownLoadFileLog and UpdateFileLog, its run DM_Update.RunUpdate), then
    // FrmInfo and FrmProgress, both hidden. Returns the user interface over
    // them, which lives until DestroyWindows.
    virtual UserInterface& CreateWindows(TDM_Update& DM_Update) = 0;
    // Shows the main window and dispatches messages until it has closed or
    // the end of the application was requested.
    virtual void Loop() = 0;
    // Destroys the windows; must not throw.
    virtual void DestroyWindows() noexcept = 0;
};

// The sequence over the run context of the installation in `exeDir` (with
// its trailing separator). It begins with the installation's lock: when
// another updater holds it, AnotherUpdaterMessage goes to stderr and the
// program ends with 0, nothing else done. An error of DataModuleCreate is
// shown in the error box and the windows come up all the same, as the loop
// is the only way to end. The user interface is detached and the windows destroyed on
// every path, before DataModuleDestroy and the run context's destruction.
// Returns the exit code, 0.
//
// `report`, when given, receives the start, the run's versions and files,
// and how the program ended (once, whatever the path).
int RunProgram(Toolkit& toolkit, System& system, std::string exeDir, RunReport* report = nullptr);

// What a second updater on the installation in `exeDir` says, with its line end.
std::string AnotherUpdaterMessage(const std::string& exeDir);

// The same with the real system operations, next to the executable,
// reporting to the system's log and to `extra` (such as a text log) when given.
int RunProgram(Toolkit& toolkit, RunReport* extra = nullptr);

}  // namespace ue
