// The portable cases of the rule that a file is logged as applied only when
// it was: rows the downloader writes in its own way or adds during the walk.
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

using NeverRecordFailureRunTest = RunFixture;

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

// FileVer kept as text with blanks around the number, IsClient in an
// untyped column as any true value: each row is applied and logged so that
// the next walk finds it. Text that is no integer ('7.0') is refused; see
// the refusals of the update run.
TEST_F(NeverRecordFailureRunTest, KeysAndIsClientInTheDownloadersOwnFormsAreAppliedOnce) {
#ifdef _WIN32
    // Over ODBC an untyped column reads as text, which is no boolean: such a
    // row is refused by name, as in the refusals of the update run.
    const std::string isClient = "IsClient BOOLEAN";
#else
    const std::string isClient = "IsClient";
#endif
    inst.Exec(
        "DROP TABLE DownLoadFileLog;"
        "CREATE TABLE DownLoadFileLog (AID INTEGER, SoftID INTEGER, FileName TEXT,"
        " FileVer TEXT, FileType INTEGER, " + isClient + ", UpdatePath TEXT)");
    const std::pair<const char*, const char*> rows[] = {{"' 7 '", "1"}, {"'+7'", "2"}, {"'\t7'", "'yes'"}};
    int aid = 0;
    for (const auto& [fileVer, isClient] : rows) {
        const std::string name = "t" + std::to_string(++aid) + ".dll";
        inst.Put("update/" + name, "new");
        inst.Put(name, "old");
        inst.Exec("INSERT INTO DownLoadFileLog VALUES (" + std::to_string(aid) + ", 1, '" + name + "', " +
                  fileVer + ", 0, " + isClient + ", '')");
    }
    Run();
    EXPECT_EQ(Logged(), (Calls{"t1.dll/7", "t2.dll/7", "t3.dll/7"}));
    EXPECT_EQ(inst.Query("SELECT DISTINCT IsClient FROM UpdateFileLog"), (SqlRows{{"1"}}));
    for (const char* name : {"t1.dll", "t2.dll", "t3.dll"}) EXPECT_EQ(inst.Read(name), "new") << name;

    inst.SetSoftInfo(false, 1, 2);
    sys.calls.clear();
    Run();
    EXPECT_EQ(sys.Count("Sleep 100"), 0) << "every row was found in the log";
    EXPECT_EQ(Logged().size(), 3u);
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
    // Three walks, each applying the row the last one saw added: the version
    // read before the third is recorded.
    EXPECT_EQ(Logged(), (Calls{"a.dll/1", "c.dll/3", "d.dll/4", "v4.dll/4", "v5.dll/5"}));
    EXPECT_EQ(info[0][1], "5");
}

// Rows the downloader adds during the walk are all checked before the next
// walk touches any of them: a harmless row added ahead of one that leads
// outside is not applied either.
TEST_F(NeverRecordFailureRunTest, RowsAddedDuringTheWalkAreCheckedBeforeTheNextWalk) {
    Offer("a.dll", ftReplace);
    bool added = false;
    sys.onSleep = [&](unsigned ms) {
        if (ms != 100 || added) return;
        added = true;
        Offer("c.dll", ftReplace, 3);
        inst.AddDownload({.aid = 9, .fileName = "evil.dll", .fileVer = 3, .updatePath = "..\\out"});
    };
    EXPECT_NE(RunFailure().find("of evil.dll leads outside"), std::string::npos);
    EXPECT_EQ(Logged(), Calls{"a.dll/1"});
    EXPECT_EQ(inst.Read("c.dll"), "old c.dll");
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
}

}  // namespace
}  // namespace ue::test
