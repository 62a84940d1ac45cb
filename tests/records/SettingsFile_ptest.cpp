// The settings object's contract, run against our own reader and writer on
// Linux and against the Windows profile functions under Wine.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/WinText.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace ue {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;
using testing::ThrowsMessage;

std::vector<std::string> EntryNamesOf(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct SettingsFileTest : testing::Test {
    test::TempDir dir;
    std::string path = dir.file("Update.ini");
};

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndIsCreatedByTheFirstWrite) {
    {
        SettingsFile ini(path);
        EXPECT_EQ(ini.ReadSetting("Update", "ExeFile2", "none"), "none");
        EXPECT_FALSE(fs::exists(path));  // reading creates nothing
        ini.WriteSetting("Update", "CurVer", "12");
        ini.WriteSetting("Update", "UpdateTime", "2008-05-09");
        EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "12");
    }
    EXPECT_EQ(ReadFileBytes(path), "[Update]\r\nCurVer=12\r\nUpdateTime=2008-05-09\r\n");
}

TEST_F(SettingsFileTest, ReadsWhatIsThereAndWritesKeepTheRest) {
    WriteFileBytes(path, "[Main]\r\nLeft=10\r\n[update]\r\nexefile = Main.exe\r\nExeFile2=\r\nCurVer=11\r\n"
                         "Long=" + std::string(3000, 'L') + "\r\n[Tail]\r\nx=y\r\n");
    SettingsFile ini(path);
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", ""), "Main.exe");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile2", "default"), "");  // empty, not the default
    EXPECT_EQ(ini.ReadSetting("Update", "Long", ""), std::string(2047, 'L'));
    EXPECT_EQ(ini.ReadSetting("Other", "ExeFile", "d"), "d");

    for (int run = 0; run < 2; ++run) {
        ini.WriteSetting("Update", "CurVer", "-3");
        ini.WriteSetting("Update", "UpdateTime", "2008-05-09");
    }
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "-3");
    EXPECT_EQ(ini.ReadSetting("Update", "UpdateTime", ""), "2008-05-09");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", ""), "Main.exe");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile2", "default"), "");
    EXPECT_EQ(ini.ReadSetting("Main", "Left", ""), "10");
    EXPECT_EQ(ini.ReadSetting("Tail", "x", ""), "y");
    std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("CurVer=-3\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("CurVer=11"), std::string::npos) << bytes;
}

TEST_F(SettingsFileTest, RefusalsAndFailuresNameTheFileAndLeaveItAlone) {
    const std::string original = "[Update]\r\nCurVer=1\r\n";
    WriteFileBytes(path, original);
    SettingsFile ini(path);
    EXPECT_THROW(ini.WriteSetting("Update", "CurVer", "2\r\nExeFile=evil.exe"), Error);
    EXPECT_THROW(ini.WriteSetting("Update]\r\n[Other", "CurVer", "2"), Error);
    EXPECT_THROW(ini.WriteSetting("Update", "Cur=Ver", "2"), Error);
    EXPECT_THROW(ini.WriteSetting("Update", ";CurVer", "2"), Error);

    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_THAT([&] { ini.WriteSetting("Update", "CurVer", "2"); },
                ThrowsMessage<Error>("Unable to write to " + path + ": the file is read-only"));
    EXPECT_EQ(ReadFileBytes(path), original);
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "1");

    // The system's own reason (on Windows FormatMessageW's, as UTF-8).
#ifdef _WIN32
    const int pathNotFound = 3;  // ERROR_PATH_NOT_FOUND
#else
    const int pathNotFound = ENOENT;
#endif
    std::string missing = (fs::path(dir.file("missing")) / "Update.ini").string();
    EXPECT_THAT([&] { SettingsFile(missing).WriteSetting("Update", "CurVer", "2"); },
                ThrowsMessage<OSError>("Unable to write to " + missing + ": " +
                                       SystemReason(SystemError(pathNotFound))));
    EXPECT_EQ(EntryNamesOf(dir.path()), std::vector<std::string>{"Update.ini"});
}

// An installation folder of about 300 characters, with Chinese, a blank and
// a ";" in it: on Windows the profile functions, which take no "\\?\" path,
// reach the file through its folder's short form.
TEST_F(SettingsFileTest, ALongInstallationPathIsWrittenAndReadBack) {
    const std::string folder =
        dir.path() + "/" + std::string(120, 'l') + "/" + std::string(120, 'm') + "/升级 测试;1";
    fs::create_directories(fs::path(reinterpret_cast<const char8_t*>(folder.c_str())));
    const std::string file = folder + "/Update.ini";
    ASSERT_GE(Wide(file).size(), 280u);
    {
        SettingsFile ini(file);
        EXPECT_EQ(ini.ReadSetting("Update", "CurVer", "none"), "none");
        EXPECT_NO_THROW(ini.CheckWritable());
        ini.WriteSetting("Update", "CurVer", "12");
        ini.WriteSetting("Update", "UpdateTime", "2008-05-09");
        ini.WriteSetting("Update", "CurVer", "13");
    }
    EXPECT_EQ(SettingsFile(file).ReadSetting("Update", "CurVer", ""), "13");
    std::string bytes;
    ASSERT_FALSE(fileio::ReadAll(file, bytes));
    EXPECT_EQ(bytes, "[Update]\r\nCurVer=13\r\nUpdateTime=2008-05-09\r\n");
}

// CheckWritable says beforehand what WriteSetting would meet, and touches
// nothing: the file keeps its bytes, and nothing is left beside it.
TEST_F(SettingsFileTest, CheckWritableRefusesWhatAWriteWouldNotGetThrough) {
    const std::string original = "[Update]\r\nCurVer=1\r\n";
    struct Case {
        const char* name;
        std::string reason;  // "" when the file may be written
    };
    const Case cases[] = {
        {"missing", ""},
        {"present", ""},
        {"read-only", "the file is read-only"},
        {"directory", "it is a directory"},
        {"missing folder", "its folder \"<folder>\" does not exist"},
    };
    for (const Case& c : cases) {
        test::TempDir place;
        std::string folder = place.path();
        std::string file = place.file("Update.ini");
        const std::string name = c.name;
        if (name == "present" || name == "read-only") WriteFileBytes(file, original);
        if (name == "read-only") {
            fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        }
        if (name == "directory") fs::create_directory(file);
        if (name == "missing folder") {
            folder = place.file("missing");
            file = (fs::path(folder) / "Update.ini").string();
        }
        std::string reason = c.reason;
        if (auto at = reason.find("<folder>"); at != std::string::npos) reason.replace(at, 8, folder);

        const auto before = EntryNamesOf(place.path());
        if (reason.empty()) {
            EXPECT_NO_THROW(SettingsFile(file).CheckWritable()) << c.name;
        } else {
            EXPECT_THAT([&] { SettingsFile(file).CheckWritable(); },
                        ThrowsMessage<Error>("Unable to write to " + file + ": " + reason))
                << c.name;
            // And the write itself fails as said.
            EXPECT_THROW(SettingsFile(file).WriteSetting("Update", "CurVer", "2"), Error) << c.name;
        }
        EXPECT_EQ(EntryNamesOf(place.path()), before) << c.name;
        if (name == "present" || name == "read-only") {
            EXPECT_EQ(ReadFileBytes(file), original) << c.name;
        }
    }
}

}  // namespace
}  // namespace ue
