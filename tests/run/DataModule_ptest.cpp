// The run context: what start-up fills in, and where a failure stops it.
#include <filesystem>

#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

namespace fs = std::filesystem;

using DataModuleTest = RunFixture;

TEST_F(DataModuleTest, FillsDirectoriesSettingsAndOpensTablesOnTheirFirstRow) {
    inst.AddDownloads({{.aid = 7, .fileName = "a.dll"}, {.aid = 8, .fileName = "b.dll"}});
    TDM_Update& m = Create();

    EXPECT_EQ(m.BaseDir, inst.Base());
    EXPECT_EQ(m.UpdateDir, inst.Base() + "update");
    EXPECT_TRUE(fs::is_directory(m.UpdateDir));
    EXPECT_EQ(m.ADOCDB.ConnectionString,
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + inst.Base() +
                  "UpdateFile.mdb;Persist Security Info=False");
    EXPECT_TRUE(m.ADOCDB.Connected());
    EXPECT_EQ(m.ExeFile, "Main.exe");
    EXPECT_EQ(m.ExeFile2, "Helper.exe");
    ASSERT_NE(m.IniFile, nullptr);
    EXPECT_EQ(m.IniFile->Path(), inst.Base() + "Update.ini");
    EXPECT_EQ(m.BackupNo, 0);
    EXPECT_EQ(m.CurVer, 0);
    for (TableCursor* t : {&m.CurSoftInfo, &m.DownLoadFileLog, &m.UpdateFileLog}) {
        EXPECT_TRUE(t->IsOpen()) << t->TableName();
    }
    EXPECT_EQ(m.DownLoadFileLog.GetInt("AID"), 7);
    EXPECT_TRUE(m.UpdateFileLog.AtEnd());
    EXPECT_TRUE(sys.calls.empty());
    m.DataModuleDestroy();
    EXPECT_EQ(m.IniFile, nullptr);

    // A directory passed in without its separator gets one.
    TDM_Update bare(sys, dir.path());
    bare.DataModuleCreate();
    EXPECT_EQ(bare.BaseDir, inst.Base());
    EXPECT_EQ(bare.UpdateDir, P("update"));
}

TEST_F(DataModuleTest, MissingDatabaseStopsAtTheConnectionAndTheRunReportsItToo) {
    fs::remove(inst.Database());
    dm = std::make_unique<TDM_Update>(sys, inst.Base());
    EXPECT_THROW(dm->DataModuleCreate(), Error);

    // The steps before the connection happened, the later ones did not.
    EXPECT_NE(dm->IniFile, nullptr);
    EXPECT_TRUE(fs::is_directory(P("update")));
    EXPECT_EQ(dm->ExeFile, "");
    EXPECT_EQ(dm->ExeFile2, "");
    for (TableCursor* t : {&dm->CurSoftInfo, &dm->DownLoadFileLog, &dm->UpdateFileLog}) {
        EXPECT_FALSE(t->IsOpen()) << t->TableName();
    }
    EXPECT_THROW(dm->RunUpdate(), Error);
    EXPECT_TRUE(sys.calls.empty());
    EXPECT_FALSE(fs::exists(inst.Database())) << "the updater never creates the database";
}

TEST_F(DataModuleTest, MissingTableStopsAtItsOpenAfterTheSettingsWereRead) {
    inst.Exec("DROP TABLE DownLoadFileLog");
    dm = std::make_unique<TDM_Update>(sys, inst.Base());
    EXPECT_THROW(dm->DataModuleCreate(), Error);
    EXPECT_EQ(dm->ExeFile, "Main.exe");
    EXPECT_TRUE(dm->CurSoftInfo.IsOpen());
    EXPECT_FALSE(dm->DownLoadFileLog.IsOpen());
    EXPECT_FALSE(dm->UpdateFileLog.IsOpen());
}

TEST_F(DataModuleTest, MissingSettingsFileOrKeysReadAsEmptyNames) {
    fs::remove(P("Update.ini"));
    Create();
    EXPECT_EQ(dm->ExeFile, "");
    EXPECT_EQ(dm->ExeFile2, "");

    inst.WriteIni("[Update]\nExeFile=Main.exe\n");
    Create();
    EXPECT_EQ(dm->ExeFile, "Main.exe");
    EXPECT_EQ(dm->ExeFile2, "");
}

}  // namespace
}  // namespace ue::test
