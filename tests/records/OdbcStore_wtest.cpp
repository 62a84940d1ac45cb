// The ODBC store under Windows (under Wine: Wine's ODBC layer over the host's
// unixODBC and SQLite ODBC driver): the store contract, and what is the ODBC
// store's own (choosing a driver, never creating the file, waiting out a
// lock held by the downloader).
#include "records/OdbcStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/Errors.h"
#include "tests/records/StoreContract.h"

namespace ue {
namespace {

using test::StoreContract;
using test::StoreContractBackend;
using testing::HasSubstr;
using testing::ThrowsMessage;

const StoreContractBackend kOdbcSqlite{
    "OdbcStoreOverSqlite",
    &test::OpenTestDatabase,
    [](const std::string& table) { return "no such table: " + table; },
};

INSTANTIATE_TEST_SUITE_P(Odbc, StoreContract, testing::Values(kOdbcSqlite),
                         [](const auto& info) { return std::string(info.param.name); });

class OdbcStoreTest : public test::StoreFixture {
protected:
    const StoreContractBackend& Backend() const override { return kOdbcSqlite; }
};

TEST(OdbcStoreOpen, NoInstalledDriverNamesTheFileAndTheDriversTried) {
    test::TempDir dir;
    const std::string sqlite = dir.file("UpdateFile.mdb");
    test::OpenTestDatabase(sqlite)->Exec("CREATE TABLE CurSoftInfo (SoftVer INTEGER)");
    const char* const none[] = {"No Such Driver", "Nor This One"};
    EXPECT_THAT([&] { OpenOdbcStore(sqlite, DatabaseFormat::SQLite, none); },
                ThrowsMessage<Error>("The update database \"" + sqlite +
                                     "\" cannot be opened: no ODBC driver for SQLite databases is installed (tried "
                                     "\"No Such Driver\", \"Nor This One\")"));
}

TEST(OdbcStoreOpen, MissingFileIsRefusedAndNotCreated) {
    test::TempDir dir;
    const std::string path = dir.file("UpdateFile.mdb");
    const auto before = std::filesystem::current_path();
    EXPECT_THROW(OpenOdbcStore(path, DatabaseFormat::SQLite), Error);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(before / path));  // the driver's idea of a relative name
}

// The downloader holds a write lock for a moment: the save waits it out.
TEST_F(OdbcStoreTest, SaveWaitsOutAShortLock) {
    Connect({"INSERT INTO CurSoftInfo VALUES (0, 3, 4)"});
    info.OpenTable();
    other->Exec("BEGIN IMMEDIATE");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        other->Exec("COMMIT");
    });
    info.BeginEdit();
    info.SetInt("SoftVer", 4);
    EXPECT_NO_THROW(info.SaveRow());
    release.join();
    EXPECT_EQ(Value("SELECT SoftVer FROM CurSoftInfo"), "4");
}

// A lock is a cause that passes: the trial of a log row does not take it
// for a refusal, and autocommit is back on after it.
TEST_F(OdbcStoreTest, ALockHeldPastTheWaitLeavesATrialUndecided) {
    Connect();
    log.OpenTable();
    other->Exec("BEGIN IMMEDIATE");
    EXPECT_FALSE(log.TryAppend({{"FileName", FieldValue::Text("a.dll")}}));
    other->Exec("ROLLBACK");
    log.BeginAppend();
    log.SetValue("FileName", FieldValue::Text("b.dll"));
    log.SaveRow();
    EXPECT_EQ(Rows("SELECT FileName FROM UpdateFileLog"), (test::SqlRows{{"b.dll"}}));
}

}  // namespace
}  // namespace ue
