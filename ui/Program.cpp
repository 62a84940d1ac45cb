#include "ui/Program.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "run/DMUpdateEx.h"
#include "sysops/InstanceLock.h"
#include "sysops/Platform.h"
#include "ui/ErrorMessage.h"
#include "ui/UserInterfaceRules.h"

namespace ue {
namespace {

void Report(Toolkit& toolkit, std::exception_ptr error) {
    if (const auto text = ErrorBoxText(error)) toolkit.ShowErrorBox(*text);
}

// The toolkit's user interface as the run sees it. The restart question is
// asked exactly when a file waits for the restart, so it tells that outcome
// whatever the user answers.
class NotingUserInterface : public UserInterface {
public:
    explicit NotingUserInterface(UserInterface& inner) : inner_(inner) {}

    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders) override {
        inner_.ShowFileInUseDialog(message, holders);
    }
    bool AskRestart() override {
        restartNeeded = true;
        return inner_.AskRestart();
    }
    WindowHandle OwnerWindow() override { return inner_.OwnerWindow(); }
    void ShowProgress(const FileProgress& progress) override { inner_.ShowProgress(progress); }

    bool restartNeeded = false;

private:
    UserInterface& inner_;
};

// How far the run got.
struct RunState {
    bool started = false;
    std::optional<Outcome> ended;
    NotingUserInterface* ui = nullptr;
};

// The windows exist while it lives; the run sees them only meanwhile.
class Windows {
public:
    Windows(Toolkit& toolkit, TDM_Update& DM_Update, RunState& state)
        : toolkit_(toolkit), DM_Update_(DM_Update), state_(state) {
        try {
            UserInterface& inner = toolkit_.CreateWindows(DM_Update_, [this] { Run(); });
            ui_.emplace(inner);
            state_.ui = &*ui_;
            DM_Update_.SetUserInterface(&*ui_);
        } catch (...) {
            // Those created so far go as well, before the run context.
            toolkit_.DestroyWindows();
            throw;
        }
    }
    ~Windows() {
        DM_Update_.SetUserInterface(nullptr);
        state_.ui = nullptr;
        toolkit_.DestroyWindows();
    }
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

private:
    // The run as the window starts it; its error goes on to the window,
    // which reports it.
    void Run() {
        state_.started = true;
        try {
            DM_Update_.RunUpdate();
            state_.ended = ui_->restartNeeded ? Outcome::RestartNeeded : Outcome::Done;
        } catch (const SilentAbort&) {
            state_.ended = Outcome::StoppedByUser;
            throw;
        } catch (...) {
            state_.ended = Outcome::Failed;
            throw;
        }
    }

    Toolkit& toolkit_;
    TDM_Update& DM_Update_;
    RunState& state_;
    std::optional<NotingUserInterface> ui_;
};

}  // namespace

void PumpingSystem::Sleep(unsigned milliseconds) {
    for (unsigned left = milliseconds; left > 0;) {
        const unsigned slice = std::min(left, kSliceMs);
        inner_.Sleep(slice);
        left -= slice;
        toolkit_.PumpMessages();
    }
}

std::string AnotherUpdaterMessage(const std::string& exeDir) {
    return "UpdateExe: " + Message(MessageId::AnotherUpdater, {exeDir.empty() ? std::string(".") : exeDir}) + "\n";
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
            End(RunEvent::Outcome::Failed, Message(MessageId::UnknownException));
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

Outcome RunProgram(Toolkit& toolkit, System& system, std::string exeDir, const Options& options,
                   RunReport* report) {
    ProgramReport reported(report, exeDir.empty() ? std::string(".") : exeDir);
    // First of all: a second updater on this installation opens no window,
    // no database and creates no folder. A lock that cannot be taken at all
    // (a read-only installation) stops nothing: the run goes on and reports
    // what it cannot do.
    const InstanceLock lock = InstanceLock::Acquire(exeDir);
    if (lock.IsBusy()) {
        const std::string message = AnotherUpdaterMessage(exeDir);
        std::fputs(message.c_str(), stderr);
        reported.End(RunEvent::Outcome::AnotherUpdater, {});
        // A Windows program has no console: the user looks at the screen.
        if (!options.unattended) {
            const std::string prefix = "UpdateExe: ";
            toolkit.ShowErrorBox(message.substr(prefix.size(), message.size() - prefix.size() - 1));
        }
        return Outcome::AnotherUpdater;
    }
    // The run's pauses keep the windows answering.
    PumpingSystem pumping(system, toolkit);
    TDM_Update DM_Update(pumping, std::move(exeDir));
    DM_Update.SetReport(report);
    bool created = false;
    try {
        DM_Update.DataModuleCreate();
        created = true;
    } catch (...) {
        reported.End(std::current_exception());
        Report(toolkit, std::current_exception());
    }
    RunState state;
    try {
        // Unattended, nobody is there to close a window over records that
        // did not open: the run ends with the error.
        if (created || !options.unattended) {
            Windows windows(toolkit, DM_Update, state);
            toolkit.Loop();
        }
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
    if (!created) return Outcome::Failed;
    // A window closed before the run began stopped it.
    if (!state.started) return Outcome::StoppedByUser;
    return state.ended.value_or(Outcome::Failed);
}

int RunProgram(Toolkit& toolkit, const Options& options) {
    SetAbortExitCode(ProgramExitCode(options, Outcome::StoppedByUser));
    RealSystem system;
    // Waiting for the suite's programs to close keeps the windows answering.
    system.SetWhileWaiting([&toolkit] { toolkit.PumpMessages(); });
    SystemLogReport systemLog;
    RunReportFanOut report;
    report.Add(&systemLog);
    std::unique_ptr<FileLogReport> fileLog;
    if (options.logFile) {
        fileLog = std::make_unique<FileLogReport>(*options.logFile);
        report.Add(fileLog.get());
    }
    return ProgramExitCode(options, RunProgram(toolkit, system, ExecutableDir(), options, &report));
}

}  // namespace ue
