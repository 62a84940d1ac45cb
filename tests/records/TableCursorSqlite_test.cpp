// Cursors over a real SQLite update database, shared with another program
// (a second connection playing the downloader).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "core/Errors.h"
#include "records/TableCursor.h"
#include "tests/records/SqliteTestDb.h"

namespace ue {
namespace {

using test::OtherProgram;
using V = FieldValue;

std::string OpenError(const std::string& path) {
    try {
        OpenStoreForFile(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(SqliteStoreOpen, NeverCreatesAndExplainsWhatItFound) {
    test::TempDir dir;
    std::string path = dir.file("UpdateFile.mdb");
    EXPECT_EQ(OpenError(path), "The update database \"" + path + "\" does not exist");
    EXPECT_FALSE(std::filesystem::exists(path));

    test::WriteFileBytes(path, std::string(4, '\0') + "Standard Jet DB" + std::string(100, '\0'));
    std::string jet = OpenError(path);
    EXPECT_NE(jet.find("\"" + path + "\""), std::string::npos) << jet;
    EXPECT_NE(jet.find("Windows build"), std::string::npos) << jet;
    EXPECT_NE(jet.find("ODBC"), std::string::npos) << jet;

    test::WriteFileBytes(path, "not a database at all, just text");
    EXPECT_NE(OpenError(path).find("\"" + path + "\" is not a database"), std::string::npos);

    // A right header over damaged pages fails when read, still naming the path.
    test::WriteFileBytes(path, std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'));
    EXPECT_NE(OpenError(path).find("Cannot read the update database \"" + path + "\""),
              std::string::npos)
        << OpenError(path);
}

class SqliteCursorTest : public ::testing::Test {
protected:
    void Connect(const std::string& extraSql = "") {
        path = test::MakeUpdateDb(dir, extraSql);
        connection.ConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
                                      ";Persist Security Info=False";
        connection.Open();
        other = std::make_unique<OtherProgram>(path);
    }

    test::TempDir dir;
    std::string path;
    Connection connection;
    std::unique_ptr<OtherProgram> other;
    TableCursor info{connection, "CurSoftInfo"};
    TableCursor down{connection, "DownLoadFileLog"};
    TableCursor log{connection, "UpdateFileLog"};
};

TEST_F(SqliteCursorTest, LogsADownloadedFileAsTheRunDoes) {
    Connect(
        "ALTER TABLE UpdateFileLog ADD COLUMN Remark TEXT;"
        "INSERT INTO DownLoadFileLog VALUES (8589934592, 'soft-1', '升级程序.dll', 7, 5, 1, 'sub\\');"
        "INSERT INTO DownLoadFileLog VALUES (NULL, NULL, 'b.dll', 1, 0, 0, '');");
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
    EXPECT_EQ(other->Query("SELECT FileType FROM DownLoadFileLog WHERE rowid = 1"), "0");

    log.BeginAppend();
    for (const char* f : {"AID", "SoftID", "FileName", "FileVer", "IsClient"}) {
        log.SetValue(f, down.GetValue(f));
    }
    log.SetValue("BakPath", V::Text(dir.path() + "/bak/V0"));
    log.SetValue("IsUpdate", V::Bool(true));
    log.SaveRow();
    EXPECT_EQ(other->Query("SELECT AID || '|' || SoftID || '|' || FileName || '|' || FileVer || '|' || "
                           "IsClient || '|' || IsUpdate || '|' || typeof(IsUpdate) || '|' || "
                           "typeof(Remark) FROM UpdateFileLog"),
              "8589934592|soft-1|升级程序.dll|7|1|1|integer|null");
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("升级程序.dll"), V::Int(7)}));

    // Null identifiers stay null in the copy.
    down.GoNext();
    log.BeginAppend();
    log.SetValue("AID", down.GetValue("AID"));
    log.SetValue("FileName", down.GetValue("FileName"));
    log.SaveRow();
    EXPECT_EQ(other->Query("SELECT typeof(AID) FROM UpdateFileLog WHERE FileName = 'b.dll'"), "null");

    log.Reopen();
    EXPECT_EQ(log.RowCount(), 2u);
    EXPECT_EQ(log.GetText("FileName"), "升级程序.dll");
}

TEST_F(SqliteCursorTest, EmptyVersionTableGetsItsFirstRow) {
    Connect();
    info.OpenTable();
    ASSERT_TRUE(info.AtEnd());
    std::int32_t target = info.GetInt("CurUpdateVer");
    info.BeginEdit();
    info.SetInt("SoftVer", target);
    info.SetBool("IsAllUpdate", true);
    info.SaveRow();
    EXPECT_EQ(other->Query("SELECT IsAllUpdate || '|' || SoftVer || '|' || typeof(CurUpdateVer) "
                           "FROM CurSoftInfo"),
              "1|0|null");
    info.Reopen();
    EXPECT_TRUE(info.GetBool("IsAllUpdate"));
    EXPECT_EQ(info.GetInt("SoftVer"), info.GetInt("CurUpdateVer"));
}

TEST_F(SqliteCursorTest, ChangesByAnotherProgramAreCaughtNotOverwritten) {
    Connect("INSERT INTO CurSoftInfo VALUES (0, 3, 4);");
    info.OpenTable();
    // We hold no lock between calls: the downloader writes while we are open.
    ASSERT_EQ(other->Exec("UPDATE CurSoftInfo SET CurUpdateVer = 5"), SQLITE_OK);
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 4);  // as read

    info.BeginEdit();
    info.SetInt("SoftVer", 4);
    std::string message = MessageOf([&] { info.SaveRow(); });
    EXPECT_NE(message.find("CurSoftInfo: the row was changed or removed by another program"),
              std::string::npos)
        << message;
    EXPECT_EQ(info.GetState(), TableCursor::State::Editing);
    EXPECT_EQ(other->Query("SELECT SoftVer FROM CurSoftInfo"), "3");
    info.DiscardRow();

    info.Reopen();
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 5);
    info.BeginEdit();
    info.SetInt("SoftVer", 5);
    info.SaveRow();
    EXPECT_EQ(other->Query("SELECT SoftVer FROM CurSoftInfo"), "5");

    ASSERT_EQ(other->Exec("DELETE FROM CurSoftInfo"), SQLITE_OK);
    info.BeginEdit();
    info.SetBool("IsAllUpdate", true);
    EXPECT_NE(MessageOf([&] { info.SaveRow(); }).find("changed or removed"), std::string::npos);
}

TEST_F(SqliteCursorTest, ABrieflyHeldWriteLockDelaysASaveWithoutFailingIt) {
    Connect();
    log.OpenTable();
    log.BeginAppend();
    log.SetValue("FileName", V::Text("a.dll"));

    std::promise<void> locked;
    std::thread downloader([&] {
        OtherProgram writer(path);
        writer.Exec("BEGIN IMMEDIATE; INSERT INTO DownLoadFileLog (FileName) VALUES ('late.dll');");
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        writer.Exec("COMMIT");
    });
    locked.get_future().wait();
    EXPECT_NO_THROW(log.SaveRow());
    downloader.join();
    EXPECT_EQ(other->Query("SELECT count(*) FROM UpdateFileLog WHERE FileName = 'a.dll'"), "1");
}

TEST_F(SqliteCursorTest, ConstraintsOfTheStoreGiveTheFieldMessages) {
    Connect(
        "CREATE TABLE Extra (Name TEXT NOT NULL, Must TEXT NOT NULL DEFAULT NULL, "
        "Kept TEXT NOT NULL DEFAULT 'k', Short TEXT CHECK (length(Short) < 4), "
        "Twice INTEGER GENERATED ALWAYS AS (length(Name) * 2));"
        "INSERT INTO Extra (Name, Must) VALUES ('abc', 'm');");
    TableCursor extra{connection, "Extra"};
    extra.OpenTable();
    EXPECT_EQ(extra.GetInt("Twice"), 6);
    extra.BeginEdit();
    EXPECT_EQ(MessageOf([&] { extra.SetInt("Twice", 1); }), "Field 'Twice' cannot be modified");
    extra.SetValue("Name", V::Null());
    EXPECT_EQ(MessageOf([&] { extra.SaveRow(); }), "Field 'Name' must have a value");
    extra.DiscardRow();

    extra.BeginAppend();
    extra.SetValue("Name", V::Text("n"));
    // Declared with a default, so only the store finds it empty.
    EXPECT_EQ(MessageOf([&] { extra.SaveRow(); }), "Field 'Must' must have a value");
    extra.SetValue("Must", V::Text("m"));
    extra.SetValue("Short", V::Text("too long"));
    EXPECT_NE(MessageOf([&] { extra.SaveRow(); }).find("CHECK constraint failed"), std::string::npos);
    EXPECT_EQ(extra.GetState(), TableCursor::State::Appending);
    extra.SetValue("Short", V::Text("ok"));
    extra.SaveRow();
    EXPECT_EQ(extra.GetText("Kept"), "k");  // the row as the store holds it
    EXPECT_EQ(extra.GetInt("Twice"), 2);
    extra.BeginEdit();  // and a later update of it passes the optimistic check
    extra.SetValue("Short", V::Text("ok2"));
    EXPECT_NO_THROW(extra.SaveRow());
}

TEST_F(SqliteCursorTest, FindRowOverStoredAndNewRows) {
    Connect(
        "INSERT INTO UpdateFileLog (FileName, FileVer) VALUES ('it''s.dll', 2), ('a.dll', NULL), "
        "(NULL, 3), ('a.dll', 1);");
    log.OpenTable();
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("it's.dll"), V::Int(2)}));
    EXPECT_FALSE(log.FindRow("FileName;FileVer", {V::Text("a.dll"), V::Int(0)}));
    EXPECT_FALSE(log.FindRow("FileName;FileVer", {V::Text(""), V::Int(3)}));
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("a.dll"), V::Int(1)}));
    EXPECT_EQ(log.CurrentRow(), 3u);

    log.BeginAppend();
    log.SetValue("FileName", V::Text("a.dll"));
    log.SetValue("FileVer", V::Int(4));
    log.SaveRow();
    log.GoFirst();
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("a.dll"), V::Int(4)}));
    EXPECT_EQ(log.CurrentRow(), 4u);

    // Rows another program adds appear only after Reopen.
    ASSERT_EQ(other->Exec("INSERT INTO UpdateFileLog (FileName, FileVer) VALUES ('z.dll', 1)"),
              SQLITE_OK);
    EXPECT_FALSE(log.FindRow("FileName;FileVer", {V::Text("z.dll"), V::Int(1)}));
    log.Reopen();
    EXPECT_TRUE(log.FindRow("FileName;FileVer", {V::Text("z.dll"), V::Int(1)}));
}

TEST_F(SqliteCursorTest, MissingTableCarriesTheStoreMessage) {
    Connect("DROP TABLE CurSoftInfo;");
    EXPECT_NE(MessageOf([&] { info.OpenTable(); }).find("no such table: CurSoftInfo"),
              std::string::npos);
    EXPECT_FALSE(info.IsOpen());
}

}  // namespace
}  // namespace ue
