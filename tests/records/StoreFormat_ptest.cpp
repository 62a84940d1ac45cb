// Which store a database file needs, from its first bytes.
#include "records/Store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDatabase.h"

namespace ue {
namespace {

using testing::HasSubstr;
using testing::ThrowsMessage;

std::string AccessHeader(const char* signature) { return std::string(4, '\0') + signature + std::string(200, '\0'); }

// Each header in a plain folder and in one with Chinese, a blank and a ";"
// (on Windows the file is read through the W calls, not the ANSI code page;
// the ";" must not cut a connection text); a database there opens.
TEST(DatabaseFormat, FromTheFirstBytes) {
    test::TempDir dir;
    const std::pair<std::string, DatabaseFormat> cases[] = {
        {std::string("SQLite format 3\0", 16) + std::string(84, '\0'), DatabaseFormat::SQLite},
        {AccessHeader("Standard Jet DB"), DatabaseFormat::Access},
        {AccessHeader("Standard ACE DB"), DatabaseFormat::Access},
    };
    for (const std::string& folder : {dir.path(), dir.path() + "/升级 测试", dir.path() + "/升级 测试;1"}) {
        std::filesystem::create_directories(std::filesystem::path(reinterpret_cast<const char8_t*>(folder.c_str())));
        const std::string path = folder + "/UpdateFile.mdb";
        for (const auto& [bytes, format] : cases) {
            ASSERT_FALSE(fileio::ReplaceAtomically(path, path + ".XXXXXX", bytes)) << folder;
            EXPECT_EQ(DetectDatabaseFormat(path), format) << bytes.substr(0, 19) << " in " << folder;
        }
        ASSERT_FALSE(fileio::RemoveFile(path));
        test::OpenTestDatabase(path)->Exec("CREATE TABLE CurSoftInfo (SoftVer INTEGER); "
                                           "INSERT INTO CurSoftInfo VALUES (7)");
        const TableData table = OpenStoreForFile(path)->ReadTable("CurSoftInfo");
        ASSERT_EQ(table.rows.size(), 1u) << folder;
        EXPECT_EQ(table.rows[0].values.at(0), FieldValue::Int(7)) << folder;
    }
}

TEST(DatabaseFormat, MissingEmptyForeignAndAccessFilesNameThePath) {
    test::TempDir dir;
    std::string path = dir.file("UpdateFile.mdb");
    std::string named = "The update database \"" + path + "\"";
    auto detect = [&] { DetectDatabaseFormat(path); };
    auto open = [&] { OpenStoreForFile(path); };
    EXPECT_THAT(detect, ThrowsMessage<Error>(named + " does not exist"));
    EXPECT_THAT(open, ThrowsMessage<Error>(named + " does not exist"));
    EXPECT_FALSE(std::filesystem::exists(path));  // never created

    test::WriteFileBytes(path, "");
    EXPECT_THAT(detect, ThrowsMessage<Error>(named + " is an empty file, not a database"));
    test::WriteFileBytes(path, "[Update]\r\nCurVer=3\r\n");
    EXPECT_THAT(detect,
                ThrowsMessage<Error>(named + " is not a database (neither an SQLite nor an Access file)"));
    // "SQLite format 3" without its closing zero byte is no SQLite header.
    test::WriteFileBytes(path, "SQLite format 3 and more text");
    EXPECT_THAT(open, ThrowsMessage<Error>(HasSubstr(named + " is not a database")));
    // Access files need the ODBC store of the Windows build; there, with no
    // Access driver installed (as here), the message names the drivers tried.
    test::WriteFileBytes(path, AccessHeader("Standard Jet DB"));
    bool accessLinked = false;
    for (const StoreBackend& backend : LinkedStoreBackends())
        accessLinked = accessLinked || backend.format == DatabaseFormat::Access;
    const char* needs = accessLinked ? "(tried \"Microsoft Access Driver (*.mdb, *.accdb)\", "
                                       "\"Microsoft Access Driver (*.mdb)\")"
                                     : "Windows build";
    EXPECT_THAT(open, ThrowsMessage<Error>(testing::AllOf(HasSubstr(named), HasSubstr(needs), HasSubstr("ODBC"))));
}

}  // namespace
}  // namespace ue
