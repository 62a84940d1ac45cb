// The portable core the toolkits share: the error box's text, the end of the
// file-in-use dialog and the program sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "sysops/InstanceLock.h"
#include "run/DMUpdateEx.h"
#include "tests/support/Installation.h"
#include "tests/support/StandIns.h"
#include "tests/support/TempDir.h"
#include "ui/ErrorMessage.h"
#include "ui/Layout.h"
#include "ui/Program.h"
#include "ui/Unattended.h"
#include "tests/run/RunFixture.h"
#include "ui/UserInterfaceRules.h"

namespace ue {
namespace {

TEST(ErrorBox, FullStopRule) {
    EXPECT_EQ(WithFullStop("Cannot open file"), "Cannot open file.");
    EXPECT_EQ(WithFullStop("Done."), "Done.");
    EXPECT_EQ(WithFullStop("a-"), "a-");      // '-' sorts before '.'
    EXPECT_EQ(WithFullStop("code 5"), "code 5.");
    EXPECT_EQ(WithFullStop("a/"), "a/.");     // '/' sorts after '.'
    EXPECT_EQ(WithFullStop("line\r\n"), "line\r\n");
    EXPECT_EQ(WithFullStop("运行程序失败"), "运行程序失败.");
    EXPECT_EQ(WithFullStop(""), "");
}

TEST(ErrorBox, TextForEachKindOfError) {
    struct Case { std::exception_ptr error; std::optional<std::string> text; };
    for (const Case& c : {
             Case{std::make_exception_ptr(SilentAbort()), std::nullopt},
             Case{std::make_exception_ptr(Error("无法打开数据库")), "无法打开数据库."},
             Case{std::make_exception_ptr(OSError("access denied", 5)), "access denied."},
             Case{std::make_exception_ptr(std::runtime_error("done.")), "done."},
             Case{std::make_exception_ptr(std::bad_alloc()), "std::bad_alloc."},
             Case{std::make_exception_ptr(42), "Unknown exception."},
         }) {
        EXPECT_EQ(ErrorBoxText(c.error), c.text) << c.text.value_or("(nothing)");
    }
}

TEST(FileInUseDialog, OnlyContinueReturnsEveryOtherResultRequestsTheEndAndAbortsSilently) {
    for (int result : {layout::mrContinue, layout::mrAbort, 0}) {
        int endRequests = 0;
        const auto requestEnd = [&] { ++endRequests; };
        if (result == layout::mrContinue) {
            EXPECT_NO_THROW(FinishFileInUseDialog(result, requestEnd));
            EXPECT_EQ(endRequests, 0);
        } else {
            EXPECT_THROW(FinishFileInUseDialog(result, requestEnd), SilentAbort) << result;
            EXPECT_EQ(endRequests, 1) << result;
        }
    }
}

// Records the sequence; "open" tells whether the run context's tables are
// open at that moment.
class RecordingToolkit : public Toolkit {
public:
    explicit RecordingToolkit(test::RecordingSystem& system) : ui_(system) {}

    std::vector<std::string> calls;
    bool throwInCreate = false;
    bool throwInLoop = false;
    // The window's start timer fires: the run, its error in the error box.
    bool runInLoop = false;
    test::ScriptedUI& ui() { return ui_; }

    void ShowErrorBox(const std::string& text) override { calls.push_back("ShowErrorBox " + text); }
    UserInterface& CreateWindows(TDM_Update& DM_Update, std::function<void()> run) override {
        dm_ = &DM_Update;
        run_ = std::move(run);
        calls.push_back("CreateWindows" + Open());
        if (throwInCreate) throw std::runtime_error("no window");
        return ui_;
    }
    void Loop() override {
        calls.push_back("Loop" + Open());
        if (throwInLoop) throw std::runtime_error("loop");
        if (!runInLoop) return;
        try {
            run_();
        } catch (...) {
            if (const auto text = ErrorBoxText(std::current_exception())) ShowErrorBox(*text);
        }
    }
    void DestroyWindows() noexcept override { calls.push_back("DestroyWindows" + Open()); }

private:
    std::string Open() const {
        return dm_->DownLoadFileLog.IsOpen() && dm_->UpdateFileLog.IsOpen() ? " open" : " closed";
    }

    test::ScriptedUI ui_;
    TDM_Update* dm_ = nullptr;
    std::function<void()> run_;
};

TEST(ProgramSequence, WindowsAfterTheRunContextAndGoneBeforeItOnEveryPath) {
    using Calls = std::vector<std::string>;
    // The report: the start, then one outcome on every path (a run that
    // never ended on its own counts as stopped).
    struct Case {
        const char* name;
        bool database, throwInCreate, throwInLoop, runInLoop;
        Calls calls;
        Calls report;
        Outcome outcome = Outcome::StoppedByUser;  // the window closed before the run
    };
    for (const Case& c : {
             Case{"ordinary", true, false, false, false,
                  Calls{"CreateWindows open", "Loop open", "DestroyWindows open"},
                  Calls{"outcome stopped by the user"}},
             Case{"the run", true, false, false, true,
                  Calls{"CreateWindows open", "Loop open", "DestroyWindows open"},
                  Calls{"version 0 0", "outcome done"}, Outcome::Done},
             Case{"no database: reported, then the windows all the same", false, false, false,
                  true,
                  Calls{"ShowErrorBox", "CreateWindows closed", "Loop closed", "ShowErrorBox",
                        "DestroyWindows closed"},
                  Calls{"outcome failed: UpdateFile.mdb"}, Outcome::Failed},
             Case{"the loop fails", true, false, true, false,
                  Calls{"CreateWindows open", "Loop open", "DestroyWindows open"},
                  Calls{"outcome failed: loop"}},
             Case{"a window cannot be made", true, true, false, false,
                  Calls{"CreateWindows open", "DestroyWindows open"},
                  Calls{"outcome failed: no window"}},
         }) {
        test::TempDir dir;
        test::Installation inst(dir.path());
        if (!c.database) std::filesystem::remove(inst.Database());
        test::RecordingSystem system;
        test::RecordingReport report;
        RecordingToolkit toolkit(system);
        toolkit.throwInCreate = c.throwInCreate;
        toolkit.throwInLoop = c.throwInLoop;
        toolkit.runInLoop = c.runInLoop;

        if (c.throwInCreate || c.throwInLoop) {
            EXPECT_THROW(RunProgram(toolkit, system, inst.Base(), {}, &report), std::runtime_error)
                << c.name;
        } else {
            EXPECT_EQ(RunProgram(toolkit, system, inst.Base(), {}, &report), c.outcome) << c.name;
        }
        // The error box's text depends on the store; its kind and full stop do not.
        for (std::string& call : toolkit.calls) {
            if (call.rfind("ShowErrorBox ", 0) == 0) {
                EXPECT_EQ(call.back(), '.') << call;
                call = "ShowErrorBox";
            }
        }
        EXPECT_EQ(toolkit.calls, c.calls) << c.name;
        if (!(c.runInLoop && c.database)) {
            EXPECT_TRUE(system.calls.empty()) << c.name;
        }
        // A failure names its file; the rest of the message is the store's.
        ASSERT_FALSE(report.events.empty()) << c.name;
        EXPECT_EQ(report.events.front(), "start " + inst.Base()) << c.name;
        Calls rest(report.events.begin() + 1, report.events.end());
        for (std::string& event : rest) {
            if (event.rfind("outcome failed: ", 0) == 0 && event.find("UpdateFile.mdb") != std::string::npos) {
                event = "outcome failed: UpdateFile.mdb";
            }
        }
        EXPECT_EQ(rest, c.report) << c.name;
    }
}

TEST(ProgramSequence, ASecondUpdaterOnTheInstallationEndsAtOnceTouchingNothing) {
    test::TempDir dir;
    test::Installation inst(dir.path());
    std::filesystem::remove_all(inst.Path("update"));
    test::RecordingSystem system;
    const std::string message = AnotherUpdaterMessage(inst.Base());
    for (const bool unattended : {false, true}) {
        const InstanceLock first = InstanceLock::Acquire(inst.Base());
        ASSERT_EQ(first.GetState(), InstanceLock::State::Held);
        const auto before = inst.Files();
        RecordingToolkit toolkit(system);
        Options options;
        options.unattended = unattended;
        test::RecordingReport report;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunProgram(toolkit, system, inst.Base(), options, &report), Outcome::AnotherUpdater);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), message);
        EXPECT_EQ(report.events,
                  (std::vector<std::string>{"start " + inst.Base(),
                                            "outcome another UpdateExe is working on this installation"}));
        // No window and no run context; a person is told in a box (a Windows
        // program has no console), without the program's name and line end.
        std::vector<std::string> shown;
        if (!unattended) shown = {"ShowErrorBox " + message.substr(11, message.size() - 12)};
        EXPECT_EQ(toolkit.calls, shown);
        EXPECT_EQ(inst.Files(), before);  // no update folder either
    }
    // Once the first has ended, the next one runs, and lets go when it ends.
    RecordingToolkit toolkit(system);
    EXPECT_EQ(RunProgram(toolkit, system, inst.Base(), {}), Outcome::StoppedByUser);
    EXPECT_EQ(toolkit.calls,
              (std::vector<std::string>{"CreateWindows open", "Loop open", "DestroyWindows open"}));
    EXPECT_TRUE(inst.Exists("update"));
    EXPECT_EQ(InstanceLock::Acquire(inst.Base()).GetState(), InstanceLock::State::Held);
    EXPECT_NE(AnotherUpdaterMessage(inst.Base()).find("another UpdateExe is updating"),
              std::string::npos);
}

// The whole program over a real installation: what each road ends with.
class ProgramOutcome : public test::RunFixture {
protected:
    // The program with the unattended toolkit; its stderr in `err`.
    Outcome Unattended() {
        UnattendedToolkit toolkit;
        Options options;
        options.unattended = options.any = true;
        ::testing::internal::CaptureStderr();
        const Outcome outcome = RunProgram(toolkit, sys, inst.Base(), options);
        err = ::testing::internal::GetCapturedStderr();
        return outcome;
    }
    std::string err;
};

TEST_F(ProgramOutcome, UnattendedAppliesQueuesAHeldFileAndNeverAsksOrRestarts) {
    Offer("a.dll", ftReplace);
    EXPECT_EQ(Unattended(), Outcome::Done);
    EXPECT_EQ(err, "");
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(sys.Actions(), test::Calls{test::RunEntry(P("Main.exe"), 5)});
    // The version is reached: nothing to do is done too.
    sys.calls.clear();
    EXPECT_EQ(Unattended(), Outcome::Done);
    EXPECT_TRUE(sys.calls.empty());

    // A held file: the "continue" road (the suite's programs stopped, the
    // retries), queued for the restart; no restart made, nothing started.
    inst.SetSoftInfo(false, 2, 3);
    Offer("b.dll", ftReplace, 2);
    Hold("b.dll");
    sys.calls.clear();
    EXPECT_EQ(Unattended(), Outcome::RestartNeeded);
    EXPECT_EQ(err, "");
    EXPECT_EQ(sys.Count("KillProcessByName Main.exe"), 1);
    EXPECT_EQ(sys.Count("ReplaceFileAtRestart"), 1);
    EXPECT_EQ(sys.Count("ShutdownWindows"), 0);
    EXPECT_EQ(sys.Count("RunProgram"), 0);
    EXPECT_EQ(inst.Read("b.dll"), "old b.dll");
    EXPECT_EQ(SoftInfo(), (test::SqlRows{{"1", "3", "3"}}));
}

TEST_F(ProgramOutcome, UnattendedFailureIsToldOnStderrNamingTheFile) {
    Offer("a.dll", ftReplace);
    std::filesystem::remove(inst.Database());
    EXPECT_EQ(Unattended(), Outcome::Failed);
    EXPECT_EQ(err.rfind("UpdateExe: ", 0), 0u) << err;
    EXPECT_NE(err.find("UpdateFile.mdb"), std::string::npos) << err;
    EXPECT_TRUE(sys.calls.empty());
    EXPECT_FALSE(inst.Exists("UpdateFile.mdb"));  // never created

    // An error of the run itself: a row's download is missing.
    test::TempDir other;
    test::Installation second(other.path());
    second.SetSoftInfo(false, 1, 2);
    second.WriteIni("[Update]\r\nExeFile=Main.exe\r\n");
    second.AddDownload({.aid = 1, .fileName = "gone.dll"});
    UnattendedToolkit toolkit;
    Options options;
    options.unattended = true;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgram(toolkit, sys, second.Base(), options), Outcome::Failed);
    const std::string runErr = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(runErr.find("gone.dll"), std::string::npos) << runErr;
}

TEST_F(ProgramOutcome, InteractiveRestartNeededWhateverTheAnswerAndAClosedDialogStops) {
    struct Case { bool closeDialog, restartAnswer; Outcome outcome; };
    for (const Case& c : {Case{false, false, Outcome::RestartNeeded},
                          Case{false, true, Outcome::RestartNeeded},
                          Case{true, false, Outcome::StoppedByUser}}) {
        test::TempDir d;
        test::Installation i(d.path());
        i.SetSoftInfo(false, 1, 2);
        i.WriteIni("[Update]\r\nExeFile=Main.exe\r\n");
        i.Put("update/a.dll", "new");
        i.Put("a.dll", "old");
        i.AddDownload({.aid = 1, .fileName = "a.dll"});
        test::HeldFile held(i.Path("a.dll"));
        test::RecordingSystem system;
        RecordingToolkit toolkit(system);
        toolkit.runInLoop = true;
        toolkit.ui().restartAnswer = c.restartAnswer;
        if (c.closeDialog) toolkit.ui().Close();
        EXPECT_EQ(RunProgram(toolkit, system, i.Base(), {}), c.outcome) << c.restartAnswer;
        EXPECT_EQ(system.Count("ShutdownWindows"), c.restartAnswer ? 1 : 0);
    }
}

}  // namespace
}  // namespace ue
