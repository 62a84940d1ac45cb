// A file is logged as applied only when it was replaced, queued for the
// restart, or left alone on purpose. Every other outcome ends the run with an
// error naming the file (or the table) before the version is raised; once
// the cause is gone, the next run completes the update.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

namespace fs = std::filesystem;

class NeverRecordFailureTest;
using Step = std::function<void(NeverRecordFailureTest&)>;

struct FailureCase {
    const char* name;
    Step arrange;         // lays out the cause; a.dll and b.dll are offered already
    const char* failing;  // the file (or table) the error must name
    Step remedy;          // takes the cause away
    Calls logged;         // what the failed run logged: the files before the failing one
    int dialogs = 0;      // file-in-use dialogs the failed run showed
};

class NeverRecordFailureTest : public RunFixture, public testing::WithParamInterface<FailureCase> {
public:
    using RunFixture::Hold;
    using RunFixture::inst;
    using RunFixture::P;
    using RunFixture::sys;
    using RunFixture::ui;
};

// Writes beyond `bytes` fail with EFBIG (the signal is ignored) while it lives:
// a disk that fills up, without a file system of our own.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        old_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, old_);
    }

private:
    rlimit saved_{};
    sighandler_t old_;
};

const std::string kBig(256 * 1024, 'b');

// UpdateFileLog as the contract has it, with `extra` columns and `aid` after AID.
std::string LogTable(const std::string& extra, const std::string& aid = "") {
    return "CREATE TABLE UpdateFileLog (AID INTEGER" + aid +
           ", SoftID INTEGER, FileName TEXT, FileVer INTEGER, IsClient BOOLEAN, BakPath TEXT,"
           " IsUpdate BOOLEAN" + extra + ")";
}

const FailureCase kCases[] = {
    {"TargetIsAFolder",
     [](auto& t) {
         fs::remove(t.P("b.dll"));
         fs::create_directory(t.P("b.dll"));
     },
     "b.dll", [](auto& t) { fs::remove_all(t.P("b.dll")); }, {"a.dll/1"}},
    {"UpdatePathRunsThroughAFile",
     [](auto& t) {
         t.inst.Put("lib", "a file, not a folder");
         t.inst.Exec("UPDATE DownLoadFileLog SET UpdatePath = 'lib\\deep' WHERE FileName = 'b.dll'");
     },
     "b.dll", [](auto& t) { fs::remove(t.P("lib")); }, {"a.dll/1"}},
    {"PathTooLong",
     [](auto& t) {
         t.inst.Exec("UPDATE DownLoadFileLog SET UpdatePath = '" + std::string(300, 'd') +
                     "' WHERE FileName = 'b.dll'");
     },
     "b.dll",
     [](auto& t) { t.inst.Exec("UPDATE DownLoadFileLog SET UpdatePath = '' WHERE FileName = 'b.dll'"); },
     {"a.dll/1"}},
    {"QueueForTheRestartCannotBeWritten",
     [](auto& t) {
         t.Hold("b.dll");
         t.sys.replaceAtRestartError = std::make_error_code(std::errc::permission_denied);
     },
     "b.dll", [](auto& t) { t.sys.replaceAtRestartError.clear(); }, {"a.dll/1"}, 4},
    {"TargetWeMayNotWrite",  // no write bit: not a program holding it, so no dialog
     [](auto& t) { fs::permissions(t.P("b.dll"), fs::perms::owner_read); },
     "b.dll", [](auto& t) { fs::permissions(t.P("b.dll"), fs::perms::owner_all); }, {"a.dll/1"}},
    {"LogRowRefusedByTheDatabase",
     [](auto& t) {
         t.inst.Exec("DROP TABLE UpdateFileLog;" + LogTable("", " NOT NULL") +
                     "; UPDATE DownLoadFileLog SET AID = NULL WHERE FileName = 'b.dll'");
     },
     "b.dll",
     [](auto& t) { t.inst.Exec("UPDATE DownLoadFileLog SET AID = 9 WHERE FileName = 'b.dll'"); },
     {"a.dll/1"}},
    {"ColumnTheRunCannotFill",
     [](auto& t) { t.inst.Exec("ALTER TABLE UpdateFileLog RENAME TO Kept;" + LogTable(", Checked TEXT NOT NULL")); },
     "Checked",
     [](auto& t) { t.inst.Exec("DROP TABLE UpdateFileLog; ALTER TABLE Kept RENAME TO UpdateFileLog"); },
     {}},
    {"ContractColumnMissing",
     [](auto& t) { t.inst.Exec("ALTER TABLE UpdateFileLog DROP COLUMN BakPath"); }, "BakPath",
     [](auto& t) { t.inst.Exec("ALTER TABLE UpdateFileLog ADD COLUMN BakPath TEXT"); }, {}},
    {"SettingsFileIsAFolder",
     [](auto& t) { fs::remove(t.P("Update.ini")); fs::create_directory(t.P("Update.ini")); },
     "Update.ini",
     [](auto& t) {
         fs::remove(t.P("Update.ini"));
         t.inst.WriteIni("[Update]\r\nExeFile=Main.exe\r\nExeFile2=Helper.exe\r\n");
     },
     {}},
    {"SettingsFileReadOnly",
     [](auto& t) { fs::permissions(t.P("Update.ini"), fs::perms::owner_read); }, "Update.ini",
     [](auto& t) { fs::permissions(t.P("Update.ini"), fs::perms::owner_all); }, {}},
};

TEST_P(NeverRecordFailureTest, EndsBeforeTheVersionAndTheNextRunCompletes) {
    const FailureCase& c = GetParam();
    Offer("a.dll", ftReplace);
    Offer("b.dll", ftReplace);
    const std::string ini = inst.Read("Update.ini");
    c.arrange(*this);

    const std::string failure = RunFailure();
    EXPECT_NE(failure.find(c.failing), std::string::npos) << failure;
    EXPECT_EQ(Logged(), c.logged);
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
    EXPECT_EQ(sys.Count("ShowFileInUseDialog"), c.dialogs);

    c.remedy(*this);
    EXPECT_EQ(inst.Read("Update.ini"), ini) << "the settings stay as they were";
    EXPECT_EQ(RunFailure(), "");
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "b.dll/1"}));
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
    EXPECT_EQ(SettingsFile(P("Update.ini")).ReadSetting("Update", "CurVer", ""), "2");
}

INSTANTIATE_TEST_SUITE_P(, NeverRecordFailureTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

using NeverRecordFailureRunTest = RunFixture;

TEST_F(NeverRecordFailureRunTest, DiskFullDuringTheCopyEndsTheRunNamingTheFile) {
    Offer("a.dll", ftReplace);
    inst.Put("update/b.dll", kBig);
    inst.AddDownload({.aid = 2, .fileName = "b.dll"});
    std::string failure;
    {
        FileSizeLimit limit(128 * 1024);
        failure = RunFailure();
    }
    EXPECT_NE(failure.find("b.dll"), std::string::npos) << failure;
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
    EXPECT_EQ(inst.Files().count("b.dll"), 0u);
    for (const auto& [name, bytes] : inst.Files()) EXPECT_EQ(name.find(".~ue"), std::string::npos) << name;

    EXPECT_EQ(RunFailure(), "");
    EXPECT_EQ(inst.Read("b.dll"), kBig);
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "b.dll/1"}));
}

// FileType kept as text by the downloader: numeric text is its number; other
// text is another type, logged without touching the file.
TEST_F(NeverRecordFailureRunTest, FileTypeAsTextCountsAsItsNumber) {
    inst.Exec(
        "DROP TABLE DownLoadFileLog;"
        "CREATE TABLE DownLoadFileLog (AID INTEGER, SoftID INTEGER, FileName TEXT,"
        " FileVer INTEGER, FileType TEXT, IsClient BOOLEAN, UpdatePath TEXT)");
    int aid = 0;
    for (const char* type : {"0", " 0", "0 ", "zero", ""}) {
        const std::string name = "t" + std::to_string(++aid) + ".dll";
        inst.Put("update/" + name, "new");
        inst.Put(name, "old");
        inst.Exec("INSERT INTO DownLoadFileLog VALUES (" + std::to_string(aid) + ", 1, '" + name +
                  "', 1, '" + type + "', 1, '')");
    }
    Run();
    EXPECT_EQ(Logged(), (Calls{"t1.dll/1", "t2.dll/1", "t3.dll/1", "t4.dll/1", "t5.dll/1"}));
    for (const auto& [name, content] : {std::pair{"t1.dll", "new"}, {"t2.dll", "new"},
                                        {"t3.dll", "new"}, {"t4.dll", "old"}, {"t5.dll", "old"}}) {
        EXPECT_EQ(inst.Read(name), content) << name;
    }
}

// The downloader adds a row and raises the version while the run walks: the
// run walks again, so the version it records is one whose rows it walked.
TEST_F(NeverRecordFailureRunTest, RowsAddedDuringTheWalkAreWalkedBeforeTheVersionIsRecorded) {
    Offer("a.dll", ftReplace);
    bool added = false;
    sys.onSleep = [&](unsigned ms) {
        if (ms != 100 || added) return;
        added = true;
        inst.Put("update/c.dll", "new c.dll");
        inst.AddDownload({.aid = 3, .fileName = "c.dll", .fileVer = 3});
        inst.Exec("UPDATE CurSoftInfo SET CurUpdateVer = 3");
    };
    Run();
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "c.dll/3"}));
    EXPECT_EQ(inst.Read("c.dll"), "new c.dll");
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "3", "3"}}));

    // A downloader that never stops: the version read before the last walk
    // is recorded, and the next start walks again.
    int version = 3;
    sys.onSleep = [&](unsigned ms) {
        if (ms != 100) return;
        ++version;
        const std::string name = "v" + std::to_string(version) + ".dll";
        inst.Put("update/" + name, "new");
        inst.AddDownload({.aid = version, .fileName = name, .fileVer = version});
        inst.Exec("UPDATE CurSoftInfo SET CurUpdateVer = " + std::to_string(version));
    };
    inst.SetSoftInfo(false, 3, 4);
    inst.Put("update/d.dll", "new d.dll");
    inst.AddDownload({.aid = 4, .fileName = "d.dll", .fileVer = 4});
    Run();
    const SqlRows info = SoftInfo();
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0][0], "0") << "not every row of the recorded version was walked";
    EXPECT_LT(std::stoi(info[0][1]), version);
}

}  // namespace
}  // namespace ue::test
