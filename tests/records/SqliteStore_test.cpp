// The SQLite store: the store contract on it, and what is SQLite's own (a
// damaged header, a write lock held for a moment, its constraints and its
// dynamic typing).
#include "records/Store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "core/Errors.h"
#include "tests/records/StoreContract.h"
#include "tests/sysops/helpers/Support.h"

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

// SQLite opens a file it may not write read-only without a word, and a file
// in a folder it may not write fails only at the first save (the journal goes
// beside it): both are refused at open, as an ordinary user would meet them.
TEST(SqliteStoreOpen, DatabaseThatCannotBeWrittenIsRefusedAtOpenAndLeftAlone) {
    struct Case {
        const char* name;
        mode_t fileMode, folderMode;
        std::string reason;  // "" when it opens
    };
    const Case cases[] = {
        {"writable", 0644, 0755, ""},
        {"read-only file", 0444, 0755, "it is read-only, or UpdateExe may not write it or its folder"},
        {"folder not writable", 0644, 0555,
         "a trial write failed (attempt to write a readonly database): UpdateExe must be able to "
         "create files in its folder \"<folder>\""},
        // The journal's name taken by a link that leads nowhere: SQLite
        // cannot create the journal, and says so only at the first save.
        {"dangling journal link", 0644, 0755,
         "a trial write failed: Cannot create the journal \"<folder>/UpdateFile.mdb-journal\": Too many "
         "levels of symbolic links"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::string folder = dir.file(c.name);
        const std::string path = folder + "/UpdateFile.mdb";
        ASSERT_TRUE(std::filesystem::create_directory(folder));
        test::OpenTestDatabase(path)->Query("CREATE TABLE CurSoftInfo (SoftVer INTEGER)");
        // Owned by the child's user, so that only the modes stand in its way.
        test::HandToUnprivileged(folder);
        test::HandToUnprivileged(path);
        const bool link = std::string(c.name) == "dangling journal link";
        if (link) std::filesystem::create_symlink(folder + "/nowhere/journal", path + "-journal");
        ASSERT_EQ(::chmod(path.c_str(), c.fileMode), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        const std::string before = test::ReadFileBytes(path);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);

        const std::optional<std::string> outcome = test::RunUnprivileged([&] {
            try {
                OpenStoreForFile(path);
                return std::string();
            } catch (const Error& e) {
                return std::string(e.what());
            }
        });
        if (!outcome) GTEST_SKIP() << "cannot run as an ordinary user";
        std::string reason = c.reason;
        for (auto at = reason.find("<folder>"); at != std::string::npos; at = reason.find("<folder>"))
            reason.replace(at, 8, folder);
        EXPECT_EQ(*outcome, reason.empty() ? "" : "The update database \"" + path + "\" cannot be written (" +
                                                      reason + "); UpdateExe changes nothing until it can")
            << c.name;
        // The trial write changes nothing and leaves no journal.
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(test::ReadFileBytes(path), before) << c.name;
        EXPECT_EQ(after.st_mtim.tv_sec, st.st_mtim.tv_sec) << c.name;
        EXPECT_EQ(after.st_mtim.tv_nsec, st.st_mtim.tv_nsec) << c.name;
        std::set<std::string> names{"UpdateFile.mdb"};
        if (link) names.insert("UpdateFile.mdb-journal");
        EXPECT_EQ(test::EntryNames(folder), names) << c.name;
        EXPECT_FALSE(std::filesystem::exists(folder + "/nowhere")) << c.name;
    }
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

// A lock is a cause that passes: the trial of a log row does not take it
// for a refusal, and leaves neither a transaction nor a journal.
TEST_F(SqliteStoreTest, AWriteLockHeldPastTheWaitLeavesATrialUndecided) {
    Connect();
    log.OpenTable();
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(log.TryAppend({{"FileName", V::Text("a.dll")}}));
    sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(writer);
    EXPECT_TRUE(log.TryAppend({{"FileName", V::Text("a.dll")}}));
    EXPECT_EQ(Value("SELECT count(*) FROM UpdateFileLog"), "0");
    EXPECT_EQ(test::EntryNames(dir.path()), (std::set<std::string>{"UpdateFile.mdb"}));
    log.BeginAppend();
    log.SetValue("FileName", V::Text("b.dll"));
    log.SaveRow();
    EXPECT_EQ(Value("SELECT FileName FROM UpdateFileLog"), "b.dll");
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
