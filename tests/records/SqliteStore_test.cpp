// The SQLite store: the store contract on it, and what is SQLite's own (a
// damaged header, a write lock held for a moment, its constraints and its
// dynamic typing).
#include "records/Store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <future>
#include <thread>

#include "core/Errors.h"
#include "tests/records/StoreContract.h"

namespace ue {
namespace {

using test::StoreContract;
using test::StoreContractBackend;
using testing::HasSubstr;
using testing::ThrowsMessage;
using V = FieldValue;

const StoreContractBackend kSqlite{
    "SqliteStore",
    &test::OpenTestDatabase,
    [](const std::string& table) { return "no such table: " + table; },
};

INSTANTIATE_TEST_SUITE_P(Sqlite, StoreContract, testing::Values(kSqlite),
                         [](const auto& info) { return std::string(info.param.name); });

class SqliteStoreTest : public test::StoreFixture {
protected:
    const StoreContractBackend& Backend() const override { return kSqlite; }
};

TEST(SqliteStoreOpen, DamagedFileFailsWhenReadNamingThePath) {
    test::TempDir dir;
    std::string path = dir.file("UpdateFile.mdb");
    test::WriteFileBytes(path, std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'));
    EXPECT_THAT([&] { OpenStoreForFile(path); },
                ThrowsMessage<Error>(HasSubstr("Cannot read the update database \"" + path + "\"")));
}

// SQLite holds any value in any column: identifiers wider than 32 bits and
// text in an INTEGER column are copied whole, as the integers and text they are.
TEST_F(SqliteStoreTest, CarriesWideAndMixedIdentifiersWhole) {
    Connect({"INSERT INTO DownLoadFileLog VALUES (8589934592, 'soft-1', 'a.dll', 7, 0, 1, '')"});
    down.OpenTable();
    log.OpenTable();
    log.BeginAppend();
    for (const char* f : {"AID", "SoftID", "FileName", "FileVer", "IsClient"}) {
        log.SetValue(f, down.GetValue(f));
    }
    log.SetValue("IsUpdate", V::Bool(true));
    log.SaveRow();
    EXPECT_EQ(Value("SELECT AID || '|' || SoftID || '|' || FileName || '|' || FileVer || '|' || "
                    "IsClient || '|' || IsUpdate || '|' || typeof(IsUpdate) || '|' || "
                    "typeof(BakPath) FROM UpdateFileLog"),
              "8589934592|soft-1|a.dll|7|1|1|integer|null");
}

TEST_F(SqliteStoreTest, ABrieflyHeldWriteLockDelaysASaveWithoutFailingIt) {
    Connect();
    log.OpenTable();
    log.BeginAppend();
    log.SetValue("FileName", V::Text("a.dll"));

    // The downloader's connection, holding its write transaction open.
    std::promise<void> locked;
    std::thread downloader([&] {
        sqlite3* writer = nullptr;
        sqlite3_open_v2(path.c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(writer, "BEGIN IMMEDIATE; INSERT INTO DownLoadFileLog (FileName) VALUES ('late.dll');",
                     nullptr, nullptr, nullptr);
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close_v2(writer);
    });
    locked.get_future().wait();
    EXPECT_NO_THROW(log.SaveRow());
    downloader.join();
    EXPECT_EQ(Value("SELECT count(*) FROM UpdateFileLog WHERE FileName = 'a.dll'"), "1");
}

TEST_F(SqliteStoreTest, ConstraintsOfTheStoreGiveTheFieldMessages) {
    Connect({"CREATE TABLE Extra (Name TEXT NOT NULL, Must TEXT NOT NULL DEFAULT NULL, "
             "Kept TEXT NOT NULL DEFAULT 'k', Short TEXT CHECK (length(Short) < 4), "
             "Twice INTEGER GENERATED ALWAYS AS (length(Name) * 2))",
             "INSERT INTO Extra (Name, Must) VALUES ('abc', 'm')"});
    TableCursor extra{connection, "Extra"};
    extra.OpenTable();
    EXPECT_EQ(extra.GetInt("Twice"), 6);
    extra.BeginEdit();
    EXPECT_THAT([&] { extra.SetInt("Twice", 1); }, ThrowsMessage<Error>("Field 'Twice' cannot be modified"));
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

}  // namespace
}  // namespace ue
