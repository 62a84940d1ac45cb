// Which store a database file needs, from its first bytes.
#include "records/Store.h"

#include <gtest/gtest.h>

#include "core/Errors.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

std::string DetectError(const std::string& path) {
    try {
        DetectDatabaseFormat(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

std::string AccessHeader(const char* signature) {
    std::string h(4, '\0');
    h += signature;
    h += std::string(200, '\0');
    return h;
}

TEST(DatabaseFormat, FromTheFirstBytes) {
    test::TempDir dir;
    std::string sqlite = dir.file("s.mdb"), jet = dir.file("j.mdb"), ace = dir.file("a.accdb");
    test::WriteFileBytes(sqlite, std::string("SQLite format 3\0", 16) + std::string(84, '\0'));
    test::WriteFileBytes(jet, AccessHeader("Standard Jet DB"));
    test::WriteFileBytes(ace, AccessHeader("Standard ACE DB"));
    EXPECT_EQ(DetectDatabaseFormat(sqlite), DatabaseFormat::SQLite);
    EXPECT_EQ(DetectDatabaseFormat(jet), DatabaseFormat::Access);
    EXPECT_EQ(DetectDatabaseFormat(ace), DatabaseFormat::Access);
}

TEST(DatabaseFormat, MissingEmptyAndForeignFilesNameThePath) {
    test::TempDir dir;
    std::string missing = dir.file("UpdateFile.mdb");
    EXPECT_EQ(DetectError(missing), "The update database \"" + missing + "\" does not exist");

    std::string empty = dir.file("empty.mdb");
    test::WriteFileBytes(empty, "");
    EXPECT_EQ(DetectError(empty), "The update database \"" + empty + "\" is an empty file, not a database");

    std::string text = dir.file("text.mdb");
    test::WriteFileBytes(text, "[Update]\r\nCurVer=3\r\n");
    EXPECT_EQ(DetectError(text), "The update database \"" + text +
                                     "\" is not a database (neither an SQLite nor an Access file)");
    // "SQLite format 3" without its closing zero byte is no SQLite header.
    std::string near = dir.file("near.mdb");
    test::WriteFileBytes(near, "SQLite format 3 and more text");
    EXPECT_NE(DetectError(near).find("is not a database"), std::string::npos);
}

#ifdef _WIN32
TEST(DatabaseFormat, WindowsBuildSaysItHasNoBackendYet) {
    test::TempDir dir;
    std::string jet = dir.file("UpdateFile.mdb");
    test::WriteFileBytes(jet, AccessHeader("Standard Jet DB"));
    try {
        OpenStoreForFile(jet);
        ADD_FAILURE() << "opened";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("ODBC"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(jet), std::string::npos) << e.what();
    }
}
#endif

}  // namespace
}  // namespace ue
