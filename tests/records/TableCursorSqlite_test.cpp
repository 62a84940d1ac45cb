// Cursors over a real SQLite update database, shared with another program
// (a second connection playing the downloader).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "core/Errors.h"
#include "records/TableCursor.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

using testing::HasSubstr;
using testing::ThrowsMessage;
using V = FieldValue;

// Another program's connection to the same file.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& path, int flags = SQLITE_OPEN_READWRITE) {
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, flags, nullptr), SQLITE_OK);
    }
    ~OtherProgram() { sqlite3_close_v2(db_); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    int Exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
    // First column of the first row as text ("NULL" for null, "" for no row).
    std::string Query(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            out = p ? std::string(p, sqlite3_column_bytes(st, 0)) : "NULL";
        }
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

TEST(SqliteStoreOpen, DamagedFileFailsWhenReadNamingThePath) {
    test::TempDir dir;
    std::string path = dir.file("UpdateFile.mdb");
    test::WriteFileBytes(path, std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'));
    EXPECT_THAT([&] { OpenStoreForFile(path); },
                ThrowsMessage<Error>(HasSubstr("Cannot read the update database \"" + path + "\"")));
}

class SqliteCursorTest : public ::testing::Test {
protected:
    // The database from the shared schema plus `extraSql`, and the connection to it.
    void Connect(const std::string& extraSql = "") {
        auto schema = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "records" / "schema.sql";
        {
            OtherProgram maker(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            ASSERT_EQ(maker.Exec(test::ReadFileBytes(schema.string()) + extraSql), SQLITE_OK) << extraSql;
        }
        connection.ConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
                                      ";Persist Security Info=False";
        connection.Open();
        other = std::make_unique<OtherProgram>(path);
    }

    test::TempDir dir;
    std::string path = dir.file("UpdateFile.mdb");
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

TEST_F(SqliteCursorTest, ChangesByAnotherProgramAreCaughtNotOverwritten) {
    Connect("INSERT INTO CurSoftInfo VALUES (0, 3, 4);");
    info.OpenTable();
    // We hold no lock between calls: the downloader writes while we are open.
    ASSERT_EQ(other->Exec("UPDATE CurSoftInfo SET CurUpdateVer = 5"), SQLITE_OK);
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 4);  // as read

    auto changed = ThrowsMessage<Error>(HasSubstr("CurSoftInfo: the row was changed or removed by another program"));
    info.BeginEdit();
    info.SetInt("SoftVer", 4);
    EXPECT_THAT([&] { info.SaveRow(); }, changed);
    EXPECT_EQ(info.GetState(), TableCursor::State::Editing);
    EXPECT_EQ(other->Query("SELECT SoftVer FROM CurSoftInfo"), "3");
    info.DiscardRow();
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 4);  // still as read

    info.Reopen();
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 5);
    info.BeginEdit();
    info.SetInt("SoftVer", 5);
    info.SaveRow();
    EXPECT_EQ(other->Query("SELECT SoftVer FROM CurSoftInfo"), "5");

    ASSERT_EQ(other->Exec("DELETE FROM CurSoftInfo"), SQLITE_OK);
    info.BeginEdit();
    info.SetBool("IsAllUpdate", true);
    EXPECT_THAT([&] { info.SaveRow(); }, changed);
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
    EXPECT_THAT([&] { extra.SetInt("Twice", 1); }, ThrowsMessage<Error>("Field 'Twice' cannot be modified"));
    extra.SetValue("Name", V::Null());
    EXPECT_THAT([&] { extra.SaveRow(); }, ThrowsMessage<Error>("Field 'Name' must have a value"));
    extra.DiscardRow();

    extra.BeginAppend();
    extra.SetValue("Name", V::Text("n"));
    // Declared with a default, so only the store finds it empty.
    EXPECT_THAT([&] { extra.SaveRow(); }, ThrowsMessage<Error>("Field 'Must' must have a value"));
    extra.SetValue("Must", V::Text("m"));
    extra.SetValue("Short", V::Text("too long"));
    EXPECT_THAT([&] { extra.SaveRow(); }, ThrowsMessage<Error>(HasSubstr("CHECK constraint failed")));
    EXPECT_EQ(extra.GetState(), TableCursor::State::Appending);
    extra.SetValue("Short", V::Text("ok"));
    extra.SaveRow();
    EXPECT_EQ(extra.GetText("Kept"), "k");  // the row as the store holds it
    EXPECT_EQ(extra.GetInt("Twice"), 2);
    extra.BeginEdit();  // and a later update of it passes the optimistic check
    extra.SetValue("Short", V::Text("ok2"));
    EXPECT_NO_THROW(extra.SaveRow());
}

TEST_F(SqliteCursorTest, MissingTableCarriesTheStoreMessage) {
    Connect("DROP TABLE CurSoftInfo;");
    EXPECT_THAT([&] { info.OpenTable(); }, ThrowsMessage<Error>(HasSubstr("no such table: CurSoftInfo")));
    EXPECT_FALSE(info.IsOpen());
}

}  // namespace
}  // namespace ue
