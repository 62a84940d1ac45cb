// The example of docs/database.md, run as it stands with the sqlite3 shell in
// an empty folder, and then the update run over what it made: the page
// cannot promise what the program does not do.
#include <gtest/gtest.h>

#include <cstdlib>

#include "run/DMUpdateEx.h"
#include "tests/support/StandIns.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDatabase.h"

namespace ue::test {
namespace {

// The first "```sh" block after the line that says a test runs it.
std::string ExampleScript() {
    const std::string page = ReadFileBytes(std::string(UE_SOURCE_DIR) + "/docs/database.md");
    const std::size_t marker = page.find("run by tests/run/DatabaseExample_test.cpp");
    if (marker == std::string::npos) return {};
    const std::size_t open = page.find("\n```sh\n", marker);
    if (open == std::string::npos) return {};
    const std::size_t start = open + 7;
    const std::size_t close = page.find("\n```\n", start);
    if (close == std::string::npos) return {};
    return page.substr(start, close - start + 1);
}

TEST(DatabaseExample, MakesADatabaseTheRunApplies) {
    const std::string script = ExampleScript();
    ASSERT_NE(script, "") << "docs/database.md has no marked sh block";
    TempDir dir;
    WriteFileBytes(dir.file("example.sh"), script);
    // The script's own folder is the installation; it must run without a fault.
    const std::string command = "cd '" + dir.path() + "' && sh -e example.sh && rm example.sh";
    ASSERT_EQ(std::system(command.c_str()), 0) << script;

    RecordingSystem sys;
    TDM_Update run(sys, dir.path() + "/");
    run.DataModuleCreate();
    run.RunUpdate();

    EXPECT_EQ(ReadFileBytes(dir.file("readme.txt")), "readme, version 2\n");
    EXPECT_EQ(ReadFileBytes(dir.file("data/config.xml")), "<config version=\"2\"/>\n");
    auto db = OpenTestDatabase(dir.file("UpdateFile.mdb"));
    EXPECT_EQ(db->Query("SELECT AID, FileName, FileVer, IsUpdate FROM UpdateFileLog ORDER BY rowid"),
              (SqlRows{{"101", "readme.txt", "2", "1"}, {"102", "config.xml", "2", "1"}}));
    EXPECT_EQ(db->Query("SELECT * FROM CurSoftInfo"), (SqlRows{{"1", "2", "2"}}));
    // Every row carries its size and hash, so the run above checked both.
    EXPECT_EQ(db->Query("SELECT count(*) FROM DownLoadFileLog WHERE FileSize > 0 AND "
                        "length(FileHash) = 64"),
              (SqlRows{{"2"}}));
}

}  // namespace
}  // namespace ue::test
