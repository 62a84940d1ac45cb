// A file is logged as applied only when it was replaced, queued for the
// restart, or left alone on purpose. Every other outcome ends the run with an
// error naming the file (or the table) before the version is raised; once
// the cause is gone, the next run completes the update.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

#include "tests/run/RunFixture.h"
#include "tests/sysops/helpers/Support.h"

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
    const char* says = "";  // what else the error must say
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

// A folder no one may write in: no write bits, and for root, who may write
// any folder, the immutable flag as well.
void LockFolder(const std::string& path, bool locked) {
    // An immutable folder's mode cannot be changed.
    if (!locked && ::geteuid() == 0) SetInodeFlag(path, FS_IMMUTABLE_FL, false);
    fs::permissions(path, locked ? fs::perms(0555) : fs::perms(0755));
    if (locked && ::geteuid() == 0) SetInodeFlag(path, FS_IMMUTABLE_FL, true);
}

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
    // The rename over it is refused: no program holds it, so no dialog. (A
    // target without write bits is no such case: it is replaced.)
    {"TargetInAFolderWeMayNotWrite",
     [](auto& t) {
         t.inst.Put("lib/b.dll", "old b.dll");
         t.inst.Exec("UPDATE DownLoadFileLog SET UpdatePath = 'lib' WHERE FileName = 'b.dll'");
         LockFolder(t.P("lib"), true);
     },
     "lib/b.dll", [](auto& t) { LockFolder(t.P("lib"), false); }, {"a.dll/1"}, 0, "Cannot replace"},
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
    EXPECT_NE(failure.find(c.says), std::string::npos) << failure;
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
    EXPECT_NE(failure.find("File too large"), std::string::npos) << "the system's reason: " << failure;
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
    EXPECT_EQ(inst.Files().count("b.dll"), 0u);
    for (const auto& [name, bytes] : inst.Files()) EXPECT_EQ(name.find(".~ue"), std::string::npos) << name;

    EXPECT_EQ(RunFailure(), "");
    EXPECT_EQ(inst.Read("b.dll"), kBig);
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "b.dll/1"}));
}

}  // namespace
}  // namespace ue::test
