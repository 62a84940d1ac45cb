// The settings object's contract, run against our own reader/writer on Linux
// and against the Windows profile functions under Wine.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace ue {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(SettingsFile, MissingFileGivesDefaultsAndIsCreatedByTheFirstWrite) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    {
        SettingsFile ini(path);
        EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", ""), "");
        EXPECT_EQ(ini.ReadSetting("Update", "ExeFile2", "none"), "none");
        EXPECT_FALSE(std::filesystem::exists(path));  // reading creates nothing

        ini.WriteSetting("Update", "CurVer", "12");
        ini.WriteSetting("Update", "UpdateTime", "2008-05-09");
        EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "12");
    }
    EXPECT_EQ(ReadFileBytes(path), "[Update]\r\nCurVer=12\r\nUpdateTime=2008-05-09\r\n");
}

TEST(SettingsFile, ReadsWhatIsThere) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    WriteFileBytes(path,
                   "[update]\r\n"
                   "exefile = Main.exe\r\n"
                   "ExeFile2=\r\n"
                   "Long=" + std::string(3000, 'L') + "\r\n");
    SettingsFile ini(path);
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", ""), "Main.exe");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile2", "default"), "");  // empty, not the default
    EXPECT_EQ(ini.ReadSetting("Update", "Long", ""), std::string(2047, 'L'));
    EXPECT_EQ(ini.ReadSetting("Other", "ExeFile", "d"), "d");
}

TEST(SettingsFile, WritesKeepOtherSectionsAndKeys) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    WriteFileBytes(path,
                   "[Main]\r\n"
                   "Left=10\r\n"
                   "[Update]\r\n"
                   "ExeFile=Main.exe\r\n"
                   "ExeFile2=Helper.exe\r\n"
                   "CurVer=11\r\n"
                   "[Tail]\r\n"
                   "x=y\r\n");
    SettingsFile ini(path);
    for (int run = 0; run < 2; ++run) {
        ini.WriteSetting("Update", "CurVer", "-3");
        ini.WriteSetting("Update", "UpdateTime", "2008-05-09");
    }
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "-3");
    EXPECT_EQ(ini.ReadSetting("Update", "UpdateTime", ""), "2008-05-09");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", ""), "Main.exe");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile2", ""), "Helper.exe");
    EXPECT_EQ(ini.ReadSetting("Main", "Left", ""), "10");
    EXPECT_EQ(ini.ReadSetting("Tail", "x", ""), "y");
    std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("CurVer=-3\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("CurVer=11"), std::string::npos) << bytes;
}

TEST(SettingsFile, RefusesLineBreaksAndLeavesTheFileAlone) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    const std::string original = "[Update]\r\nCurVer=1\r\n";
    WriteFileBytes(path, original);
    SettingsFile ini(path);
    EXPECT_THROW(ini.WriteSetting("Update", "CurVer", "2\r\nExeFile=evil.exe"), Error);
    EXPECT_THROW(ini.WriteSetting("Update]\r\n[Other", "CurVer", "2"), Error);
    EXPECT_THROW(ini.WriteSetting("Update", "Cur=Ver", "2"), Error);
    EXPECT_THROW(ini.WriteSetting("Update", ";CurVer", "2"), Error);
    EXPECT_EQ(ReadFileBytes(path), original);
}

TEST(SettingsFile, ReadOnlyFileCannotBeWritten) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    const std::string original = "[Update]\r\nCurVer=1\r\n";
    WriteFileBytes(path, original);
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    SettingsFile ini(path);
    try {
        ini.WriteSetting("Update", "CurVer", "2");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadFileBytes(path), original);
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "1");
}

TEST(SettingsFile, MissingDirectoryCannotBeWritten) {
    TempDir dir;
    std::string path = dir.file("missing") + std::string(1, std::filesystem::path::preferred_separator) +
                       "Update.ini";
    SettingsFile ini(path);
    try {
        ini.WriteSetting("Update", "CurVer", "2");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

}  // namespace
}  // namespace ue
