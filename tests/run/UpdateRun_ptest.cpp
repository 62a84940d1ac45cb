// The update run over a real installation: which rows are applied, the
// version bookkeeping, the end of the run, and what an error leaves behind.
#include <cstdlib>
#include <filesystem>

#include "sysops/FilePrimitives.h"
#include "tests/run/RunFixture.h"

#ifdef _WIN32
#include <windows.h>

#include "core/FileIO.h"
#include "core/WinText.h"
#endif

namespace ue::test {
namespace {

namespace fs = std::filesystem;

class UpdateRunTest : public RunFixture {
protected:
    void ExpectUnchangedVersion() const {
        EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
        EXPECT_EQ(inst.Read("Update.ini").find("CurVer"), std::string::npos);
    }
    void ExpectVersionRaised() const { EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}})); }
    int RowsHandled() const { return sys.Count("Sleep 100"); }
};

TEST_F(UpdateRunTest, OnlyTheFlagTogetherWithEqualVersionsMeansNothingToDo) {
    inst.SetSoftInfo(true, 3, 3);
    Offer("a.dll", ftReplace);
    inst.Put("update/Main.exe", "new main");
    const auto files = inst.Files();
    Run();
    EXPECT_TRUE(sys.calls.empty());
    EXPECT_EQ(inst.Files(), files);
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "3", "3"}}));

    for (auto [flag, softVer] : {std::pair{false, 3}, {true, 2}}) {
        inst.SetSoftInfo(flag, softVer, 3);
        sys.calls.clear();
        Run();
        EXPECT_EQ(sys.Count("TodayText"), 1) << flag << " " << softVer;
        EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "3", "3"}}));
    }
}

TEST_F(UpdateRunTest, RecordsTheVersionInTheDatabaseAndTheSettings) {
    // CurVer in Update.ini already names the new version: only CurSoftInfo
    // tells whether it was reached.
    inst.WriteIni("[Other]\nKey=kept\n[Update]\nExeFile=Main.exe\nExeFile2=Helper.exe\nCurVer=2\n");
    Offer("a.dll", ftReplace);
    Run();
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(dm->CurVer, 2);
    ExpectVersionRaised();
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

TEST_F(UpdateRunTest, EmptyTablesStillRaiseTheVersionAndStartTheMainProgram) {
    inst.Exec("DELETE FROM CurSoftInfo");
    Run();
    EXPECT_EQ(sys.calls, Tail());
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "0", "NULL"}}));
    EXPECT_EQ(SettingsFile(P("Update.ini")).ReadSetting("Update", "CurVer", ""), "0");

    sys.calls.clear();
    Run();
    EXPECT_TRUE(sys.calls.empty()) << "0 equals the empty CurUpdateVer read as 0";
}

TEST_F(UpdateRunTest, EachPairIsAppliedOnceAndLoggedPairsAreNotLookedAt) {
    Offer("a.dll", ftReplace, 4);
    Hold("a.dll");
    inst.AddApplied({{.aid = 1, .fileName = "a.dll", .fileVer = 4}});
    Offer("b.dll", ftReplace, 1);
    inst.AddDownloads({{.aid = 10, .fileName = "b.dll", .fileVer = 1},
                       {.aid = 11, .fileName = "b.dll", .fileVer = 0},
                       {.aid = 12, .fileName = "o'brien.dll", .fileVer = 1, .fileType = 3},
                       {.aid = 13, .fileName = "o'brien.dll", .fileVer = 1, .fileType = 3}});
    Run();
    EXPECT_EQ(RowsHandled(), 3);
    EXPECT_EQ(sys.Count("ShowFileInUseDialog"), 0);
    EXPECT_EQ(inst.Read("a.dll"), "old a.dll");
    EXPECT_EQ(inst.Read("b.dll"), "new b.dll");
    EXPECT_EQ(Logged(), (Calls{"a.dll/4", "b.dll/1", "b.dll/0", "o'brien.dll/1"}));
    // The window counts the pairs applied, not the rows.
    EXPECT_EQ(ui.files, (Calls{"b.dll 1/3", "b.dll 2/3", "o'brien.dll 3/3"}));
    // The copy's progress reached all of its bytes.
    EXPECT_EQ(ui.lastBytes["b.dll"], (std::pair<std::uint64_t, std::uint64_t>{9, 9}));
}

TEST_F(UpdateRunTest, MainProgramIsRefreshedFromTheUpdateFolderThenStarted) {
    inst.Put("update/Main.exe", "new main");
    inst.Put("Main.exe", "old main");
    fs::last_write_time(P("update/Main.exe"),
                        fs::file_time_type::clock::now() - std::chrono::hours(30));
    Run();
    EXPECT_EQ(inst.Read("Main.exe"), "new main");
    EXPECT_EQ(fs::last_write_time(P("Main.exe")), fs::last_write_time(P("update/Main.exe")));
    EXPECT_EQ(sys.calls, Tail());
}

// The refresh is tried a bounded number of times, then reported: the version
// is not recorded, so the next start refreshes again instead of leaving the
// old main program for good.
TEST_F(UpdateRunTest, MainProgramThatCannotBeRefreshedIsReportedAndTheVersionNotRecorded) {
    inst.Put("update/Main.exe", "new main program");
    inst.Put("Main.exe", "old main");  // differs in size, whatever the clock's grain
    Offer("a.dll", ftReplace);
    Hold("Main.exe");
    const std::string failure = RunFailure();
    EXPECT_EQ(failure.rfind("Cannot refresh the main program Main.exe from \"" +
                                P("update/Main.exe") + "\" to \"" + P("Main.exe") + "\": ",
                            0),
              0u)
        << failure;
    EXPECT_NE(failure.find("the new version is not recorded"), std::string::npos) << failure;
    EXPECT_EQ(inst.Read("Main.exe"), "old main");
    EXPECT_EQ(sys.Count("Sleep 100"), 1 + kMaxRefreshPasses - 1);
    EXPECT_EQ(sys.Actions(), Calls{});
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    ExpectUnchangedVersion();

    // Once the main program is free the next start refreshes and records.
    Free("Main.exe");
    sys.calls.clear();
    Run();
    EXPECT_EQ(inst.Read("Main.exe"), "new main program");
    EXPECT_EQ(sys.Actions(), Calls{RunEntry(P("Main.exe"), 5)});
    ExpectVersionRaised();
}

TEST_F(UpdateRunTest, WithoutMainProgramNothingIsRefreshedOrStarted) {
    inst.WriteIni("[Update]\n");
    inst.Put("update/Main.exe", "new main");
    Offer("a.exe", ftReplace);
    Hold("a.exe");
    ui.Continue([&] { Free("a.exe"); });
    Run();
    EXPECT_EQ(sys.Actions(), (Calls{Dialog(FirstInUseMessage(P("a.exe"))),
                                    "KillProcessByName a.exe in " + P("")}));
    ExpectVersionRaised();
    EXPECT_FALSE(inst.Exists("Main.exe"));
}

TEST_F(UpdateRunTest, MainProgramThatCannotStartEndsTheRunAfterTheVersionWasRecorded) {
    sys.failingPrograms.insert(P("Main.exe"));
    EXPECT_EQ(RunFailure(), RunFailureMessage(P("Main.exe"), 2));
    ExpectVersionRaised();
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
              (Calls{"ReplaceFileAtRestart " + P("b.dll") + ".~urXXXXXX -> " + P("b.dll"),
                     "AskRestart OK", "ShutdownWindows 3"}));
    EXPECT_EQ(dm->LastRunEnd()->outcome, RunEvent::Outcome::RestartNeeded);
    // What the restart moves is a copy of the download beside the target.
    EXPECT_EQ(test::ReadFileBytes(sys.queued.at(P("b.dll"))), "new b.dll");
}

// What the administrator's log hears: the versions, then each file's fate
// with its reason, by the path it was meant for; the run's end for the
// program to report.
// Who holds the file goes to each dialog and to the queued file's log line.
TEST_F(UpdateRunTest, TheDialogAndTheLogNameTheProgramsHoldingTheFile) {
    Offer("a.dll", ftReplace);
    Hold("a.dll");
    sys.holders = {{1234, "notepad.exe"}, {77, "Main.exe"}};
    Run();
    const std::string holders = " [notepad.exe (pid 1234), Main.exe (pid 77)]";
    EXPECT_EQ(sys.Count("ShowFileInUseDialog"), 4);
    for (const auto& call : sys.calls) {
        if (call.rfind("ShowFileInUseDialog", 0) == 0) {
            EXPECT_TRUE(call.ends_with(holders)) << call;
        }
    }
    EXPECT_EQ(report.events.at(1), "queued for the restart " + P("a.dll") +
                                       ": in use by notepad.exe (pid 1234), Main.exe (pid 77); it is "
                                       "replaced at the next restart");
}

TEST_F(UpdateRunTest, ReportsEachFilesFateAndHowTheRunEnded) {
    Offer("a.dll", ftReplace);
    Offer("b.dll", ftRegister);
    Hold("b.dll");
    Offer("t.txt", 3);
    Offer("c.exe", ftRun);
    sys.failingPrograms.insert(P("c.exe"));
    sys.restartWarning = "No renamer is enabled";
    EXPECT_EQ(RunFailure(), RunFailureMessage(P("c.exe"), 2));
    EXPECT_EQ(report.events,
              (Calls{"version 1 2", "applied " + P("a.dll"),
                     "queued for the restart " + P("b.dll") +
                         ": in use; it is replaced at the next restart. No renamer is enabled",
                     "left alone " + P("t.txt") + ": FileType 3 asks for nothing to be done",
                     "failed " + P("c.exe") + ": " + RunFailureMessage(P("c.exe"), 2)}));
    ASSERT_TRUE(dm->LastRunEnd());
    EXPECT_EQ(dm->LastRunEnd()->outcome, RunEvent::Outcome::Failed);
    EXPECT_EQ(dm->LastRunEnd()->message, RunFailureMessage(P("c.exe"), 2));

    // The next start: c.exe is still due; b.dll is logged, left to the restart.
    sys.failingPrograms.clear();
    report.events.clear();
    Run();
    EXPECT_EQ(report.events, (Calls{"version 1 2", "applied " + P("c.exe")}));
    EXPECT_EQ(dm->LastRunEnd()->outcome, RunEvent::Outcome::Done);
}

TEST_F(UpdateRunTest, ClosingTheDialogAbortsSilentlyWithNothingMoreDone) {
    Offer("a.dll", ftReplace);
    Offer("b.dll", ftReplace);
    Hold("b.dll");
    ui.Close();
    Create();
    EXPECT_THROW(dm->RunUpdate(), SilentAbort);
    EXPECT_EQ(sys.calls, (Calls{"Sleep 100", Dialog(FirstInUseMessage(P("b.dll")))}));
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(report.events, (Calls{"version 1 2", "applied " + P("a.dll"),
                                    "left alone " + P("b.dll") + ": the user stopped the update"}));
    EXPECT_EQ(dm->LastRunEnd()->outcome, RunEvent::Outcome::Stopped);
    EXPECT_EQ(inst.Read("b.dll"), "old b.dll");
    ExpectUnchangedVersion();
}

TEST_F(UpdateRunTest, FailedExpansionEndsTheRunWithThePayloadKeptAndNothingLogged) {
    Offer("a.dll", ftReplace);
    inst.Put("update/z.dat", "not a zlib stream");
    inst.AddDownload({.aid = 50, .fileName = "z.dat", .fileType = ftCompressed});
    Offer("c.dll", ftReplace);
    const auto before = inst.Files();
    EXPECT_EQ(RunFailure(), "compression error: \"" + P("update/z.dat") + "\"");
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(FileTypeOf(50), "5");
    // Only a.dll changed and the backup folder appeared: the payload is back,
    // c.dll untouched, nothing left beside them.
    auto after = inst.Files();
    EXPECT_EQ(after["a.dll"], "new a.dll");
    after["a.dll"] = before.at("a.dll");
    after.erase("bak/");
    after.erase("bak/V0/");
    EXPECT_EQ(after, before);
    ExpectUnchangedVersion();
    EXPECT_EQ(sys.Count("RunProgram"), 0);
}

TEST_F(UpdateRunTest, FailedSaveOfTheNewFileTypePutsThePayloadBack) {
    const std::string payload = Installation::Compress("plain content");
    inst.Put("update/z.dat", payload);
    inst.AddDownload({.aid = 1, .fileName = "z.dat", .fileType = ftCompressed});
    // The downloader changes the row while the run works on it.
    sys.onSleep = [&](unsigned) { inst.Exec("UPDATE DownLoadFileLog SET SoftID = 9"); };
    EXPECT_NE(RunFailure(), "");
    EXPECT_EQ(inst.Read("update/z.dat"), payload);
    EXPECT_EQ(FileTypeOf(1), "5");
    EXPECT_FALSE(inst.Exists("update/z.dat" + std::string(kKeptPayloadSuffix)));
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
}

// A name the downloader stored as a blob is logged as a blob, so that other
// readers of the table get back what was written; and it is found again.
TEST_F(UpdateRunTest, ValuesAreLoggedWithTheirOwnStorageClass) {
#ifdef _WIN32
    GTEST_SKIP() << "over ODBC a value takes its column's declared type: the SQLite driver "
                    "hands a blob in a TEXT column over as text (Jet has no per-value types)";
#endif
    Offer("a.dll", ftReplace);
    inst.Exec("UPDATE DownLoadFileLog SET FileName = CAST(FileName AS BLOB)");
    Run();
    EXPECT_EQ(inst.Query("SELECT typeof(FileName), typeof(AID), typeof(IsClient) FROM UpdateFileLog"),
              (SqlRows{{"blob", "integer", "integer"}}));
    inst.SetSoftInfo(false, 1, 2);
    sys.calls.clear();
    Run();
    EXPECT_EQ(RowsHandled(), 0);
}

// Rows whose key cannot be read, that would write outside the installation
// or over UpdateExe's own records: the run ends naming the row, and nothing
// is touched.
TEST_F(UpdateRunTest, RowsThatWouldWriteOutsideTheInstallationAreRefusedBeforeAnyFileWork) {
    struct Case {
        std::string fileName, updatePath;
        std::string message;
        std::string change = "FileVer = 1";  // SQL for the row's other columns
    };
    std::vector<Case> cases = {
        {"evil.dll", "..\\..\\outside", "leads outside"},
        {"evil.dll", "sub/../..", "leads outside"},
        {"evil.dll", "sub\\.. \\..", "leads outside"},
        {"..\\evil.dll", "", "not a bare file name"},
        {"sub/evil.dll", "", "not a bare file name"},
        {"..", "", "not a bare file name"},
        {".UpdateExe.lock", "", "keeps for itself"},
        {".updateexe-TEMPORARIES", "", "keeps for itself"},
        // A key the log could not find again: every run would stop there.
        {"k.dll", "", "DownLoadFileLog: FileVer '2147483648' of k.dll is not a 32-bit integer",
         "FileVer = 2147483648"},
        {"k.dll", "", "DownLoadFileLog: FileVer '7.5' of k.dll is not a 32-bit integer", "FileVer = 7.5"},
        {"k.dll", "", "DownLoadFileLog: FileVer 'abc' of k.dll is not a 32-bit integer", "FileVer = 'abc'"},
        {"k.dll", "", "DownLoadFileLog: FileVer of k.dll is empty", "FileVer = NULL"},
        {"k.dll", "", "DownLoadFileLog: IsClient 'maybe' of k.dll is not a boolean", "IsClient = 'maybe'"},
        // UpdateExe's own records, under their names or another of the same file.
        {"UpdateFile.mdb", "", "DownLoadFileLog: the target of UpdateFile.mdb (" + P("UpdateFile.mdb") +
                                   ") is the update database " + P("UpdateFile.mdb")},
        {"Update.ini", "", "is the settings file " + P("Update.ini")},
        {"Update.ini", "\\", "is the settings file"},
    };
    bool shortNames = true;
#ifdef _WIN32
    // The database by its short alias (Wine: UPDA~V3X.MDB; Windows: UPDATE~1.MDB).
    wchar_t alias[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(fileio::WidePath(P("UpdateFile.mdb")).c_str(), alias, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    const std::string shortName = Narrow(alias).substr(Narrow(alias).find_last_of('\\') + 1);
    shortNames = shortName != "UpdateFile.mdb";
    if (shortNames) {
        cases.push_back({shortName, "", "is the update database"});
        inst.Put("update/" + shortName, "new");
    }
    cases.push_back({"UPDATE.INI", "", "is the settings file"});
#endif
    Offer("a.dll", ftReplace);
    for (const std::string& name : {std::string("k.dll"), std::string("UpdateFile.mdb"), std::string("Update.ini")}) {
        inst.Put("update/" + name, "new " + name);
    }
    const auto before = inst.Files();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName + " in " + c.updatePath + " with " + c.change);
        inst.Exec("DELETE FROM DownLoadFileLog WHERE AID = 99");
        inst.AddDownload({.aid = 99, .fileName = c.fileName, .updatePath = c.updatePath});
        inst.Exec("UPDATE DownLoadFileLog SET " + c.change + " WHERE AID = 99");
        const std::string failure = RunFailure();
        EXPECT_NE(failure.find(c.message), std::string::npos) << failure;
        EXPECT_TRUE(sys.calls.empty());
        EXPECT_EQ(inst.Files(), before);
        EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
        ExpectUnchangedVersion();
    }
    if (!shortNames) GTEST_SKIP() << "the volume makes no short names: the alias row was left out";
}

// A log row the database refuses for good (here a UNIQUE FileName) is found
// before the row's file is touched: its program is not started, at this
// start or the next, only to be left unlogged and started again.
TEST_F(UpdateRunTest, LogRowTheDatabaseWouldRefuseEndsTheRunBeforeTheRowsFile) {
    inst.Exec("CREATE UNIQUE INDEX OneRowPerName ON UpdateFileLog (FileName)");
    inst.AddApplied({{.aid = 1, .fileName = "tool.exe", .fileVer = 1}});
    Offer("a.dll", ftReplace);
    Offer("tool.exe", ftRun, 2);
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        const std::string failure = RunFailure();
        EXPECT_EQ(failure.rfind("UpdateFileLog cannot record tool.exe (FileVer 2), so it is not applied: ", 0), 0u)
            << failure;
        EXPECT_NE(failure.find("UNIQUE"), std::string::npos) << failure;
        EXPECT_EQ(sys.Count("RunProgram"), 0);
        EXPECT_EQ(inst.Read("tool.exe"), "old tool.exe");
        EXPECT_EQ(Logged(), (Calls{"tool.exe/1", "a.dll/1"}));
        ExpectUnchangedVersion();
    }
}

// The updater's own program is none of its records: a row for it is applied.
// On Linux the installation holds a name of the running test program as the
// updater's, and a rename replaces it while it runs. On Windows a running
// program is in use, so it takes the dialog and is left for the restart;
// there the program is held open as its process holds it (a name of the
// running test program could not be removed after the test).
TEST(UpdateRunOwnProgram, IsAppliedLikeAnyOtherProgram) {
#ifdef _WIN32
    const std::string own = "UpdateExe.exe";
    TempDir dir;
    Installation inst(dir.path());
    inst.Put(own, "old UpdateExe");
    HeldFile running(inst.Path(own));
#else
    // Another process of this test program (ctest runs tests side by side)
    // would hold the same file: the test runs in a private copy of it.
    if (std::getenv("UE_OWN_PROGRAM_COPY") == nullptr) {
        TempDir copyDir;
        const std::string copy = copyDir.file("run_tests");
        fs::copy_file("/proc/self/exe", copy);
        fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
        const std::string command = "UE_OWN_PROGRAM_COPY=1 '" + copy +
                                    "' --gtest_filter=UpdateRunOwnProgram.*";
        EXPECT_EQ(std::system(command.c_str()), 0) << "the test failed in its copy " << copy;
        return;
    }
    const std::string own = "UpdateExe";
    const fs::path running = fs::read_symlink("/proc/self/exe");
    // Beside the test program, so that a hard link can reach it.
    TempDir dir(running.parent_path().string());
    Installation inst(dir.path());
    std::error_code linked;
    fs::create_hard_link(running, inst.Path(own), linked);
    if (linked) GTEST_SKIP() << "no second name for " << running << ": " << linked.message();
#endif
    inst.SetSoftInfo(false, 1, 2);
    inst.WriteIni("[Update]\r\nExeFile=Main.exe\r\n");
    inst.Put("update/" + own, "new UpdateExe");
    inst.AddDownload({.aid = 1, .fileName = own});
    RecordingSystem sys;
    ScriptedUI ui{sys};
    TDM_Update run(sys, inst.Base());
    run.SetUserInterface(&ui);
    run.DataModuleCreate();
    run.RunUpdate();
    EXPECT_EQ(inst.Query("SELECT FileName, FileVer FROM UpdateFileLog"), (SqlRows{{own, "1"}}));
    EXPECT_EQ(inst.Table("CurSoftInfo"), (SqlRows{{"1", "2", "2"}}));
#ifdef _WIN32
    EXPECT_EQ(sys.Count("ShowFileInUseDialog"), 4);
    EXPECT_EQ(sys.Count("ReplaceFileAtRestart"), 1);
    EXPECT_EQ(sys.Count("AskRestart"), 1);
    EXPECT_EQ(inst.Read(own), "old UpdateExe");
#else
    EXPECT_EQ(sys.Count("ShowFileInUseDialog"), 0);
    EXPECT_TRUE(inst.Read(own) == "new UpdateExe") << "replaced";
    EXPECT_EQ(sys.Count("RunProgram"), 1);
#endif
}

// A deep installation folder of over 300 characters: the copy, the database
// and Update.ini (which the profile functions reach only by its short form)
// all reach it, and the version is raised.
TEST(UpdateRunAtALongPath, CompletesAndRaisesTheVersion) {
    TempDir dir;
    std::string root = dir.path();
    while (root.size() < 300) root += PathSeparator() + std::string("deep folder ") + std::to_string(root.size());
    ASSERT_FALSE(CreateDirectories(root));
    Installation inst(root);
    inst.SetSoftInfo(false, 1, 2);
    inst.WriteIni("[Update]\r\nExeFile=Main.exe\r\n");
    inst.Put("a.dll", "old a.dll");
    inst.Put("update/a.dll", "new a.dll");
    inst.AddDownload({.aid = 1, .fileName = "a.dll"});
    RecordingSystem sys;
    ScriptedUI ui{sys};
    TDM_Update run(sys, inst.Base());
    run.SetUserInterface(&ui);
    run.DataModuleCreate();
    run.RunUpdate();
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(inst.Table("CurSoftInfo"), (SqlRows{{"1", "2", "2"}}));
    EXPECT_NE(inst.Read("Update.ini").find("CurVer=2"), std::string::npos) << inst.Read("Update.ini");
}

}  // namespace
}  // namespace ue::test
