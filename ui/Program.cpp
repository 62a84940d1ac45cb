#include "ui/Program.h"

#include <cstdio>
#include <exception>

#include "run/DMUpdateEx.h"
#include "sysops/InstanceLock.h"
#include "sysops/Platform.h"
#include "ui/ErrorMessage.h"

namespace ue {
namespace {

void Report(Toolkit& toolkit, std::exception_ptr error) {
    if (const auto text = ErrorBoxText(error)) toolkit.ShowErrorBox(*text);
}

// The windows exist while it lives; the run sees them only meanwhile.
class Windows {
public:
    Windows(Toolkit& toolkit, TDM_Update& DM_Update) : toolkit_(toolkit), DM_Update_(DM_Update) {
        try {
            DM_Update_.SetUserInterface(&toolkit_.CreateWindows(DM_Update_));
        } catch (...) {
            // Those created so far go as well, before the run context.
            toolkit_.DestroyWindows();
            throw;
        }
    }
    ~Windows() {
        DM_Update_.SetUserInterface(nullptr);
        toolkit_.DestroyWindows();
    }
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

private:
    Toolkit& toolkit_;
    TDM_Update& DM_Update_;
};

}  // namespace

std::string AnotherUpdaterMessage(const std::string& exeDir) {
    return "UpdateExe: another UpdateExe is updating this installation (" +
           (exeDir.empty() ? std::string(".") : exeDir) +
           "); this one ends without changing anything.\n";
}

int RunProgram(Toolkit& toolkit, System& system, std::string exeDir) {
    // First of all: a second updater on this installation opens no window,
    // no database and creates no folder. A lock that cannot be taken at all
    // (a read-only installation) stops nothing: the run goes on and reports
    // what it cannot do.
    const InstanceLock lock = InstanceLock::Acquire(exeDir);
    if (lock.IsBusy()) {
        std::fputs(AnotherUpdaterMessage(exeDir).c_str(), stderr);
        return 0;
    }
    TDM_Update DM_Update(system, std::move(exeDir));
    try {
        DM_Update.DataModuleCreate();
    } catch (...) {
        Report(toolkit, std::current_exception());
    }
    {
        Windows windows(toolkit, DM_Update);
        toolkit.Loop();
    }
    try {
        DM_Update.DataModuleDestroy();
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
    }
    return 0;
}

int RunProgram(Toolkit& toolkit) {
    RealSystem system;
    return RunProgram(toolkit, system, ExecutableDir());
}

}  // namespace ue
