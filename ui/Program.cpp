#include "ui/Program.h"

#include <cstdio>
#include <exception>

#include "core/Errors.h"
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

namespace {

// Reports the start at once and the outcome once, on whichever path the
// program ends: a run that never ended on its own (windows that failed, the
// window closed first) counts as stopped.
class ProgramReport {
public:
    ProgramReport(RunReport* report, std::string installation)
        : report_(report), installation_(std::move(installation)) {
        RunEvent event;
        event.installation = installation_;  // Kind::Start
        Send(event);
    }
    ~ProgramReport() { End(RunEvent::Outcome::Stopped, {}); }
    ProgramReport(const ProgramReport&) = delete;
    ProgramReport& operator=(const ProgramReport&) = delete;

    void End(RunEvent::Outcome outcome, const std::string& reason) {
        if (ended_) return;
        ended_ = true;
        RunEvent event;
        event.kind = RunEvent::Kind::Outcome;
        event.installation = installation_;
        event.outcome = outcome;
        event.reason = reason;
        Send(event);
    }
    void End(std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const SilentAbort&) {
            End(RunEvent::Outcome::Stopped, {});
        } catch (const std::exception& e) {
            End(RunEvent::Outcome::Failed, e.what());
        } catch (...) {
            End(RunEvent::Outcome::Failed, "Unknown exception");
        }
    }

private:
    void Send(const RunEvent& event) {
        if (report_ != nullptr) report_->Report(event);
    }

    RunReport* report_;
    std::string installation_;
    bool ended_ = false;
};

}  // namespace

int RunProgram(Toolkit& toolkit, System& system, std::string exeDir, RunReport* report) {
    ProgramReport reported(report, exeDir.empty() ? std::string(".") : exeDir);
    // First of all: a second updater on this installation opens no window,
    // no database and creates no folder. A lock that cannot be taken at all
    // (a read-only installation) stops nothing: the run goes on and reports
    // what it cannot do.
    const InstanceLock lock = InstanceLock::Acquire(exeDir);
    if (lock.IsBusy()) {
        std::fputs(AnotherUpdaterMessage(exeDir).c_str(), stderr);
        reported.End(RunEvent::Outcome::AnotherUpdater, {});
        return 0;
    }
    TDM_Update DM_Update(system, std::move(exeDir));
    DM_Update.SetReport(report);
    try {
        DM_Update.DataModuleCreate();
    } catch (...) {
        reported.End(std::current_exception());
        Report(toolkit, std::current_exception());
    }
    try {
        Windows windows(toolkit, DM_Update);
        toolkit.Loop();
    } catch (...) {
        reported.End(std::current_exception());
        DM_Update.SetReport(nullptr);
        throw;
    }
    DM_Update.SetReport(nullptr);
    if (const auto& end = DM_Update.LastRunEnd()) reported.End(end->outcome, end->message);
    try {
        DM_Update.DataModuleDestroy();
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
    }
    return 0;
}

int RunProgram(Toolkit& toolkit, RunReport* extra) {
    RealSystem system;
    SystemLogReport systemLog;
    RunReportFanOut report;
    report.Add(&systemLog);
    report.Add(extra);
    return RunProgram(toolkit, system, ExecutableDir(), &report);
}

}  // namespace ue
