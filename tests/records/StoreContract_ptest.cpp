// The store contract's cases (see StoreContract.h). Plain CREATE TABLE,
// INSERT, UPDATE and DELETE only, so that every backend's test database runs
// them.
#include "tests/records/StoreContract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Errors.h"

namespace ue {
namespace {

using test::StoreContract;
using testing::HasSubstr;
using testing::ThrowsMessage;
using V = FieldValue;

// Instantiated where each backend's test database is built.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(StoreContract);

TEST_P(StoreContract, ReadsTheSchemasKindsAndStoresTextAsGiven) {
    Connect({"INSERT INTO UpdateFileLog (FileName, FileVer) VALUES ('it''s 升级.dll', 1)"});
    down.OpenTable();
    info.OpenTable();
    const std::pair<const ColumnInfo*, FieldKind> kinds[] = {
        {&info.Columns().at(0), FieldKind::Boolean},  // IsAllUpdate
        {&info.Columns().at(1), FieldKind::Integer},  // SoftVer
        {&down.Columns().at(2), FieldKind::Text},     // FileName
        {&down.Columns().at(3), FieldKind::Integer},  // FileVer
        {&down.Columns().at(5), FieldKind::Boolean},  // IsClient
        {&down.Columns().at(6), FieldKind::Text},     // UpdatePath
    };
    for (const auto& [column, kind] : kinds) EXPECT_EQ(column->kind, kind) << column->name;

    // Quotes and non-ASCII text pass both ways untouched.
    log.OpenTable();
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("it's 升级.dll"), V::Int(1)}));
    log.BeginAppend();
    log.SetValue("FileName", V::Text("'; DROP TABLE UpdateFileLog; --"));
    log.SetInt("FileVer", 2);
    log.SaveRow();
    EXPECT_EQ(Value("SELECT FileName FROM UpdateFileLog WHERE FileVer = 2"), "'; DROP TABLE UpdateFileLog; --");
}

TEST_P(StoreContract, LogsADownloadedFileAsTheRunDoes) {
    Connect({"ALTER TABLE UpdateFileLog ADD COLUMN Remark TEXT",
             "INSERT INTO DownLoadFileLog VALUES (2147483647, 12, '升级程序.dll', 7, 5, 1, 'sub\\')",
             "INSERT INTO DownLoadFileLog VALUES (NULL, NULL, 'b.dll', 1, 0, 0, '')"});
    down.OpenTable();
    log.OpenTable();
    ASSERT_EQ(log.Columns().size(), 8u);
    EXPECT_EQ(log.Columns().back().name, "Remark");
    EXPECT_EQ(down.GetText("FileName"), "升级程序.dll");
    EXPECT_TRUE(down.GetValue("FileType").EqualsNumber(5));
    EXPECT_TRUE(down.GetBool("IsClient"));
    EXPECT_FALSE(log.FindRow("FileName;FileVer", {V::Text(down.GetText("FileName")), V::Int(7)}));

    // The payload was expanded: FileType becomes 0 at once.
    down.BeginEdit();
    down.SetValue("FileType", V::Int(0));
    down.FinishEdit();
    EXPECT_EQ(Value("SELECT FileType FROM DownLoadFileLog WHERE FileName = '升级程序.dll'"), "0");

    log.BeginAppend();
    for (const char* f : {"AID", "SoftID", "FileName", "FileVer", "IsClient"}) {
        log.SetValue(f, down.GetValue(f));
    }
    log.SetValue("BakPath", V::Text(dir.path() + "/bak/V0"));
    log.SetValue("IsUpdate", V::Bool(true));
    log.SaveRow();
    EXPECT_EQ(Rows("SELECT AID, SoftID, FileName, FileVer, IsClient, IsUpdate, Remark FROM UpdateFileLog"),
              (test::SqlRows{{"2147483647", "12", "升级程序.dll", "7", "1", "1", "NULL"}}));
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("升级程序.dll"), V::Int(7)}));

    // Null identifiers stay null in the copy; a row holding nulls passes the
    // optimistic check of a later save.
    down.GoNext();
    log.BeginAppend();
    log.SetValue("AID", down.GetValue("AID"));
    log.SetValue("FileName", down.GetValue("FileName"));
    log.SaveRow();
    EXPECT_EQ(Value("SELECT AID FROM UpdateFileLog WHERE FileName = 'b.dll'"), "NULL");
    log.BeginEdit();
    log.SetValue("BakPath", V::Text("p"));
    EXPECT_NO_THROW(log.SaveRow());
    EXPECT_EQ(Value("SELECT BakPath FROM UpdateFileLog WHERE FileName = 'b.dll'"), "p");

    log.Reopen();
    EXPECT_EQ(log.RowCount(), 2u);
    EXPECT_EQ(log.GetText("FileName"), "升级程序.dll");
}

TEST_P(StoreContract, ChangesByAnotherProgramAreCaughtNotOverwritten) {
    Connect({"INSERT INTO CurSoftInfo VALUES (0, 3, 4)"});
    info.OpenTable();
    // We hold no lock between calls: the downloader writes while we are open.
    other->Exec("UPDATE CurSoftInfo SET CurUpdateVer = 5");
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 4);  // as read

    auto changed = ThrowsMessage<Error>(HasSubstr("CurSoftInfo: the row was changed or removed by another program"));
    info.BeginEdit();
    info.SetInt("SoftVer", 4);
    EXPECT_THAT([&] { info.SaveRow(); }, changed);
    EXPECT_EQ(info.GetState(), TableCursor::State::Editing);
    EXPECT_EQ(Value("SELECT SoftVer FROM CurSoftInfo"), "3");
    info.DiscardRow();
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 4);  // still as read

    info.Reopen();
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 5);
    info.BeginEdit();
    info.SetInt("SoftVer", 5);
    info.SaveRow();
    EXPECT_EQ(Value("SELECT SoftVer FROM CurSoftInfo"), "5");
    // The row as saved passes the check of the next save.
    info.BeginEdit();
    info.SetBool("IsAllUpdate", true);
    info.SaveRow();
    EXPECT_EQ(Value("SELECT IsAllUpdate FROM CurSoftInfo"), "1");

    other->Exec("DELETE FROM CurSoftInfo");
    info.BeginEdit();
    info.SetBool("IsAllUpdate", true);
    EXPECT_THAT([&] { info.SaveRow(); }, changed);
}

TEST_P(StoreContract, RequiredColumnsGiveTheFieldMessage) {
    Connect({"CREATE TABLE Extra (Name VARCHAR(20) NOT NULL, Note VARCHAR(20))",
             "INSERT INTO Extra (Name) VALUES ('abc')"});
    TableCursor extra{connection, "Extra"};
    extra.OpenTable();
    auto required = ThrowsMessage<Error>("Field 'Name' must have a value");
    extra.BeginEdit();
    extra.SetValue("Name", V::Null());
    EXPECT_THAT([&] { extra.SaveRow(); }, required);
    EXPECT_EQ(extra.GetState(), TableCursor::State::Editing);
    extra.DiscardRow();

    extra.BeginAppend();
    extra.SetValue("Note", V::Text("n"));
    EXPECT_THAT([&] { extra.SaveRow(); }, required);
    EXPECT_EQ(extra.GetState(), TableCursor::State::Appending);
    extra.SetValue("Name", V::Text("x"));
    extra.SaveRow();
    EXPECT_EQ(Rows("SELECT Name, Note FROM Extra"), (test::SqlRows{{"abc", "NULL"}, {"x", "n"}}));
}

// The trial of a log row before its file is applied: it meets what the save
// would meet, and nothing of it stays, nor a transaction that would keep
// later saves from the other program.
TEST_P(StoreContract, TrialAppendMeetsWhatTheSaveWouldAndKeepsNothing) {
    Connect({"CREATE UNIQUE INDEX OneRowPerName ON UpdateFileLog (FileName)",
             "INSERT INTO UpdateFileLog (FileName, FileVer) VALUES ('a.dll', 1)"});
    log.OpenTable();
    const TableCursor::FieldValues row = {{"FileName", V::Text("b.dll")}, {"FileVer", V::Int(2)}};
    EXPECT_TRUE(log.TryAppend(row));
    EXPECT_THAT([&] { log.TryAppend({{"FileName", V::Text("a.dll")}, {"FileVer", V::Int(2)}}); },
                ThrowsMessage<Error>(HasSubstr("UNIQUE")));
    // A value the column does not take is refused as SetValue refuses it.
    EXPECT_THAT([&] { log.TryAppend({{"FileName", V::Text("c.dll")}, {"IsClient", V::Int(2)}}); },
                ThrowsMessage<Error>("Cannot access field 'IsClient' as type Integer"));
    EXPECT_EQ(Rows("SELECT FileName, FileVer FROM UpdateFileLog"), (test::SqlRows{{"a.dll", "1"}}));
    EXPECT_EQ(log.RowCount(), 1u);
    EXPECT_EQ(log.GetState(), TableCursor::State::Browsing);

    // The save after the trials is committed at once: the other program sees it.
    log.BeginAppend();
    for (const auto& [field, value] : row) log.SetValue(field, value);
    log.SaveRow();
    EXPECT_EQ(Rows("SELECT FileName, FileVer FROM UpdateFileLog ORDER BY FileName"),
              (test::SqlRows{{"a.dll", "1"}, {"b.dll", "2"}}));
}

TEST_P(StoreContract, MissingTableCarriesTheStoreMessage) {
    Connect({"DROP TABLE CurSoftInfo"});
    EXPECT_THAT([&] { info.OpenTable(); },
                ThrowsMessage<Error>(HasSubstr(GetParam().missingTableMessage("CurSoftInfo"))));
    EXPECT_FALSE(info.IsOpen());
}

}  // namespace
}  // namespace ue
