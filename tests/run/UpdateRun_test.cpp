// The update run over a real installation: which rows are applied, the
// version bookkeeping, the end of the run, and what an error leaves behind.
#include <filesystem>

#include "core/Errors.h"
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

class UpdateRunTest : public RunFixture {
protected:
    void ExpectUnchangedVersion() const {
        EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
        EXPECT_EQ(inst.Read("Update.ini").find("CurVer"), std::string::npos);
    }
    int RowsHandled() const { return sys.Count("Sleep 100"); }
};

TEST_F(UpdateRunTest, AlreadyCurrentDoesNothingAtAll) {
    inst.SetSoftInfo(true, 3, 3);
    Offer("a.dll", ftReplace);
    inst.Put("update/Main.exe", "new main");
    const auto files = inst.Files();
    Run();
    EXPECT_TRUE(sys.calls.empty());
    EXPECT_EQ(inst.Files(), files);
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "3", "3"}}));
}

TEST_F(UpdateRunTest, RecordsTheVersionInTheDatabaseAndTheSettings) {
    inst.WriteIni("[Other]\nKey=kept\n[Update]\nExeFile=Main.exe\nExeFile2=Helper.exe\nCurVer=1\n");
    Offer("a.dll", ftReplace);
    Run();
    EXPECT_EQ(dm->CurVer, 2);
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
    SettingsFile ini(P("Update.ini"));
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", "-"), "2");
    EXPECT_EQ(ini.ReadSetting("Update", "UpdateTime", "-"), "2008-05-09");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", "-"), "Main.exe");
    EXPECT_EQ(ini.ReadSetting("Other", "Key", "-"), "kept");

    // The next start finds the version reached.
    sys.calls.clear();
    Run();
    EXPECT_TRUE(sys.calls.empty());
}

TEST_F(UpdateRunTest, CurUpdateVerIsReadAgainAfterTheWalk) {
    Offer("a.dll", ftReplace);
    sys.onSleep = [&](unsigned ms) {
        if (ms == 100) inst.Exec("UPDATE CurSoftInfo SET CurUpdateVer = 7");
    };
    Run();
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "7", "7"}}));
    EXPECT_EQ(SettingsFile(P("Update.ini")).ReadSetting("Update", "CurVer", ""), "7");
}

TEST_F(UpdateRunTest, NotYetMarkedCompleteRunsAgainWithTheSameVersion) {
    inst.SetSoftInfo(false, 3, 3);
    inst.AddDownload({.aid = 1, .fileName = "a.dll"});
    inst.AddApplied({{.aid = 1, .fileName = "a.dll"}});
    Run();
    EXPECT_EQ(sys.calls, (Calls{"TodayText", "Sleep 10", Run5("Main.exe")}));
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "3", "3"}}));
}

TEST_F(UpdateRunTest, EmptyCurSoftInfoGetsItsFirstRowAndVersionZero) {
    inst.Exec("DELETE FROM CurSoftInfo");
    Run();
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "0", "NULL"}}));
    EXPECT_EQ(SettingsFile(P("Update.ini")).ReadSetting("Update", "CurVer", ""), "0");
    EXPECT_EQ(sys.calls.back(), Run5("Main.exe"));

    sys.calls.clear();
    Run();
    EXPECT_TRUE(sys.calls.empty()) << "0 equals the empty CurUpdateVer read as 0";
}

TEST_F(UpdateRunTest, LoggedRowIsSkippedWithoutLookingAtItsFile) {
    Offer("a.dll", ftReplace, 4);
    Hold("a.dll");
    inst.AddApplied({{.aid = 1, .fileName = "a.dll", .fileVer = 4}});
    Run();
    EXPECT_EQ(RowsHandled(), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(inst.Read("a.dll"), "old a.dll");
    EXPECT_EQ(Logged(), Calls{"a.dll/4"});
}

TEST_F(UpdateRunTest, DuplicateRowIsAppliedOnceAndOtherVersionsEachInTurn) {
    Offer("a.dll", ftReplace, 1);
    inst.AddDownload({.aid = 2, .fileName = "a.dll", .fileVer = 1});
    inst.AddDownload({.aid = 3, .fileName = "a.dll", .fileVer = 0});
    inst.AddDownload({.aid = 4, .fileName = "o'brien.dll", .fileVer = 1, .fileType = 3});
    inst.AddDownload({.aid = 5, .fileName = "o'brien.dll", .fileVer = 1, .fileType = 3});
    Run();
    EXPECT_EQ(RowsHandled(), 3);
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "a.dll/0", "o'brien.dll/1"}));
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
}

TEST_F(UpdateRunTest, EmptyDownloadLogStillRaisesTheVersionAndStartsTheMainProgram) {
    Run();
    EXPECT_EQ(sys.calls, (Calls{"TodayText", "Sleep 10", Run5("Main.exe")}));
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
}

TEST_F(UpdateRunTest, MainProgramIsRefreshedFromTheUpdateFolderThenStarted) {
    inst.Put("update/Main.exe", "new main");
    inst.Put("Main.exe", "old main");
    fs::last_write_time(P("update/Main.exe"), fs::file_time_type::clock::now() - std::chrono::hours(30));
    Run();
    EXPECT_EQ(inst.Read("Main.exe"), "new main");
    EXPECT_EQ(fs::last_write_time(P("Main.exe")), fs::last_write_time(P("update/Main.exe")));
    EXPECT_EQ(sys.calls, (Calls{"TodayText", "Sleep 10", Run5("Main.exe")}));
}

TEST_F(UpdateRunTest, MainProgramThatCannotBeRefreshedIsTriedABoundedNumberOfTimes) {
    inst.Put("update/Main.exe", "new main program");
    inst.Put("Main.exe", "old main");  // differs in size, whatever the clock's grain
    Hold("Main.exe");
    Run();
    EXPECT_EQ(inst.Read("Main.exe"), "old main");
    EXPECT_EQ(sys.Count("Sleep 100"), kMaxRefreshPasses - 1);
    EXPECT_EQ(sys.calls.back(), Run5("Main.exe"));
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
}

TEST_F(UpdateRunTest, WithoutMainProgramNothingIsRefreshedOrStarted) {
    inst.WriteIni("[Update]\n");
    inst.Put("update/Main.exe", "new main");
    Offer("a.exe", ftReplace);
    Hold("a.exe");
    ui.ContinueAfter([&] { Free("a.exe"); });
    Run();
    EXPECT_EQ(sys.Actions(), (Calls{"ShowFileInUseDialog", "KillProcessByName a.exe"}));
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
    EXPECT_FALSE(inst.Exists("Main.exe"));
}

TEST_F(UpdateRunTest, MainProgramThatCannotStartEndsTheRunAfterTheVersionWasRecorded) {
    sys.failingPrograms.insert(P("Main.exe"));
    Create();
    EXPECT_THROW(dm->RunUpdate(), Error);
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
}

TEST_F(UpdateRunTest, OneFileLeftForTheRestartAsksForTheRestartInsteadOfStarting) {
    inst.Put("update/Main.exe", "new main");
    inst.Put("Main.exe", "old main");
    Offer("a.dll", ftReplace);
    Offer("b.dll", ftRegister);
    Hold("b.dll");
    Offer("c.dll", ftReplace);
    ui.restartAnswer = true;
    Run();
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(inst.Read("b.dll"), "old b.dll");
    EXPECT_EQ(inst.Read("c.dll"), "new c.dll");
    EXPECT_EQ(inst.Read("Main.exe"), "old main");
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "b.dll/1", "c.dll/1"}));
    EXPECT_EQ(sys.Actions(),
              (Calls{"ReplaceFileAtRestart " + P("update/b.dll") + " -> " + P("b.dll"),
                     "AskRestart OK", "ShutdownWindows 3"}));
    EXPECT_EQ(ui.restartQuestions, 1);
}

TEST_F(UpdateRunTest, RestartDeclinedEndsTheRunQuietly) {
    Offer("b.dll", ftRegister);
    Hold("b.dll");
    Run();
    EXPECT_EQ(sys.calls.back(), "AskRestart Cancel");
    EXPECT_EQ(sys.Count("ShutdownWindows"), 0);
    EXPECT_EQ(sys.Count("RunProgram"), 0);
}

TEST_F(UpdateRunTest, ClosingTheDialogAbortsSilentlyWithNothingMoreDone) {
    Offer("a.dll", ftReplace);
    Offer("b.dll", ftReplace);
    Hold("b.dll");
    ui.Close();
    Create();
    EXPECT_THROW(dm->RunUpdate(), SilentAbort);
    EXPECT_EQ(sys.calls, (Calls{"Sleep 100", "ShowFileInUseDialog"}));
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(inst.Read("b.dll"), "old b.dll");
    ExpectUnchangedVersion();
}

TEST_F(UpdateRunTest, FailedExpansionEndsTheRunWithThePayloadKeptAndNothingLogged) {
    Offer("a.dll", ftReplace);
    inst.Put("update/z.dat", "not a zlib stream");
    inst.AddDownload({.aid = 50, .fileName = "z.dat", .fileType = ftCompressed});
    Offer("c.dll", ftReplace);
    Create();
    try {
        dm->RunUpdate();
        FAIL() << "a payload that does not expand must end the run";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "compression error");
    }
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(inst.Read("update/z.dat"), "not a zlib stream");
    EXPECT_EQ(FileTypeOf(50), "5");
    EXPECT_EQ(inst.Read("c.dll"), "old c.dll");
    auto files = inst.Files();
    for (const auto& [name, bytes] : files) EXPECT_EQ(name.find("z.dat."), std::string::npos) << name;
    EXPECT_EQ(files.count("update/z.datbakr"), 0u);
    ExpectUnchangedVersion();
    EXPECT_EQ(sys.Count("RunProgram"), 0);
}

TEST_F(UpdateRunTest, FailedSaveOfTheNewFileTypePutsThePayloadBack) {
    const std::string payload = Installation::Compress("plain content");
    inst.Put("update/z.dat", payload);
    inst.AddDownload({.aid = 1, .fileName = "z.dat", .fileType = ftCompressed});
    // The downloader changes the row while the run works on it.
    sys.onSleep = [&](unsigned) { inst.Exec("UPDATE DownLoadFileLog SET SoftID = 9"); };
    Create();
    EXPECT_THROW(dm->RunUpdate(), Error);
    EXPECT_EQ(inst.Read("update/z.dat"), payload);
    EXPECT_EQ(FileTypeOf(1), "5");
    EXPECT_FALSE(inst.Exists("update/z.dat" + std::string(kKeptPayloadSuffix)));
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
}

TEST_F(UpdateRunTest, LogRowThatCannotBeSavedIsDroppedWithoutAMessage) {
    inst.Exec(
        "DROP TABLE UpdateFileLog;"
        "CREATE TABLE UpdateFileLog (AID INTEGER, SoftID INTEGER, FileName TEXT, FileVer INTEGER,"
        " IsClient BOOLEAN, BakPath TEXT, IsUpdate BOOLEAN, Checked TEXT NOT NULL)");
    Offer("a.dll", ftReplace);
    Offer("b.dll", ftReplace);
    Run();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(inst.Read("b.dll"), "new b.dll");
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
    EXPECT_EQ(sys.calls.back(), Run5("Main.exe"));

    // Not logged, so applied again by the next run that goes through the files.
    inst.SetSoftInfo(false, 2, 3);
    sys.calls.clear();
    Run();
    EXPECT_EQ(RowsHandled(), 2);
}

TEST_F(UpdateRunTest, SettingsThatCannotBeWrittenLeaveTheVersionToBeRecordedAgain) {
    Offer("a.dll", ftReplace);
    fs::remove(P("Update.ini"));
    fs::create_directory(P("Update.ini"));  // no file can be written there
    Create();
    EXPECT_THROW(dm->RunUpdate(), Error);
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
}

TEST_F(UpdateRunTest, RowsThatWouldWriteOutsideTheInstallationAreRefusedBeforeAnyFileWork) {
    struct Case {
        std::string fileName;
        std::string updatePath;
        const char* message;
    };
    const Case cases[] = {
        {"evil.dll", "..\\..\\outside", "leads outside"},
        {"evil.dll", "sub/../..", "leads outside"},
        {"evil.dll", "sub\\.. \\..", "leads outside"},
        {"..\\evil.dll", "", "not a bare file name"},
        {"sub/evil.dll", "", "not a bare file name"},
        {"..", "", "not a bare file name"},
    };
    Offer("a.dll", ftReplace);
    const auto before = inst.Files();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName + " in " + c.updatePath);
        inst.Exec("DELETE FROM DownLoadFileLog WHERE AID = 99");
        inst.AddDownload({.aid = 99, .fileName = c.fileName, .updatePath = c.updatePath});
        Create();
        try {
            dm->RunUpdate();
            ADD_FAILURE() << "the row must be refused";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_TRUE(sys.calls.empty());
        EXPECT_EQ(inst.Files(), before);
        EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
        ExpectUnchangedVersion();
    }
}

TEST_F(UpdateRunTest, OddButHarmlessPathsStayInsideTheInstallation) {
    // A leading separator is appended to the installation folder like any
    // other text, and rows that will not be applied are not examined.
    Offer("a.dll", ftReplace, 1, "\\abs\\dir\\", "abs/dir/");
    Offer("b.dll", ftReplace, 1, "./here", "here/");
    inst.AddDownload({.aid = 20, .fileName = "x.dll", .isClient = false, .updatePath = "..\\.."});
    inst.AddDownload({.aid = 21, .fileName = "../y.dll", .fileVer = 3});
    inst.AddApplied({{.aid = 21, .fileName = "../y.dll", .fileVer = 3}});
    Run();
    EXPECT_EQ(inst.Read("abs/dir/a.dll"), "new a.dll");
    EXPECT_EQ(inst.Read("here/b.dll"), "new b.dll");
    EXPECT_EQ(Logged(), (Calls{"../y.dll/3", "a.dll/1", "b.dll/1"}));
}

}  // namespace
}  // namespace ue::test
