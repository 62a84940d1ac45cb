#include "ui/Program.h"

#include <exception>

#include "run/DMUpdateEx.h"
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

int RunProgram(Toolkit& toolkit, System& system, std::string exeDir) {
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
