// The portable core the toolkits share: the error box's text, the end of the
// file-in-use dialog and the program sequence.
#include <gtest/gtest.h>

#include <filesystem>
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
    // The loop runs the update as the main window does, its error shown.
    bool runInLoop = false;

    void ShowErrorBox(const std::string& text) override { calls.push_back("ShowErrorBox " + text); }
    UserInterface& CreateWindows(TDM_Update& DM_Update) override {
        dm_ = &DM_Update;
        calls.push_back("CreateWindows" + Open());
        if (throwInCreate) throw std::runtime_error("no window");
        return ui_;
    }
    void Loop() override {
        calls.push_back("Loop" + Open());
        if (throwInLoop) throw std::runtime_error("loop");
        if (runInLoop) {
            try {
                dm_->RunUpdate();
            } catch (const std::exception&) {
                calls.push_back("ShowErrorBox run");
            }
        }
    }
    void DestroyWindows() noexcept override { calls.push_back("DestroyWindows" + Open()); }

private:
    std::string Open() const {
        return dm_->DownLoadFileLog.IsOpen() && dm_->UpdateFileLog.IsOpen() ? " open" : " closed";
    }

    test::ScriptedUI ui_;
    TDM_Update* dm_ = nullptr;
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
    };
    for (const Case& c : {
             Case{"ordinary", true, false, false, false,
                  Calls{"CreateWindows open", "Loop open", "DestroyWindows open"},
                  Calls{"outcome stopped by the user"}},
             Case{"the run", true, false, false, true,
                  Calls{"CreateWindows open", "Loop open", "DestroyWindows open"},
                  Calls{"version 0 0", "outcome done"}},
             Case{"no database: reported, then the windows all the same", false, false, false,
                  true,
                  Calls{"ShowErrorBox", "CreateWindows closed", "Loop closed", "ShowErrorBox run",
                        "DestroyWindows closed"},
                  Calls{"outcome failed: UpdateFile.mdb"}},
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
            EXPECT_THROW(RunProgram(toolkit, system, inst.Base(), &report), std::runtime_error)
                << c.name;
        } else {
            EXPECT_EQ(RunProgram(toolkit, system, inst.Base(), &report), 0) << c.name;
        }
        // The error box's text depends on the store; its kind and full stop do not.
        for (std::string& call : toolkit.calls) {
            if (call.rfind("ShowErrorBox ", 0) == 0 && call != "ShowErrorBox run") {
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
    {
        const InstanceLock first = InstanceLock::Acquire(inst.Base());
        ASSERT_EQ(first.GetState(), InstanceLock::State::Held);
        const auto before = inst.Files();
        RecordingToolkit toolkit(system);
        test::RecordingReport report;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunProgram(toolkit, system, inst.Base(), &report), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), AnotherUpdaterMessage(inst.Base()));
        EXPECT_EQ(report.events,
                  (std::vector<std::string>{"start " + inst.Base(),
                                            "outcome another UpdateExe is working on this installation"}));
        EXPECT_EQ(toolkit.calls, std::vector<std::string>{});  // no window, no run context
        EXPECT_EQ(inst.Files(), before);                       // no update folder either
    }
    // Once the first has ended, the next one runs, and lets go when it ends.
    RecordingToolkit toolkit(system);
    EXPECT_EQ(RunProgram(toolkit, system, inst.Base()), 0);
    EXPECT_EQ(toolkit.calls,
              (std::vector<std::string>{"CreateWindows open", "Loop open", "DestroyWindows open"}));
    EXPECT_TRUE(inst.Exists("update"));
    EXPECT_EQ(InstanceLock::Acquire(inst.Base()).GetState(), InstanceLock::State::Held);
    EXPECT_NE(AnotherUpdaterMessage(inst.Base()).find("another UpdateExe is updating"),
              std::string::npos);
}

}  // namespace
}  // namespace ue
