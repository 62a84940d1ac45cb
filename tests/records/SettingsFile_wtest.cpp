// Windows specifics of the settings file: the profile functions work on a
// copy beside Update.ini, which replaces the file whole or not at all.
#include "records/SettingsFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/Errors.h"
#include "tests/support/HeldFile.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

namespace fs = std::filesystem;

std::size_t EntriesIn(const std::string& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// The copy is written, and then its rename over the file fails (another
// program holds the file without letting it be replaced): the file keeps
// every old byte, the reason is the system's, and no copy is left behind.
TEST(SettingsFileWin, AReplacementThatFailsLeavesTheFileWhollyOld) {
    test::TempDir dir;
    const std::string path = dir.file("Update.ini");
    const std::string original = "; kept\r\n[Update]\r\nExeFile=Main.exe\r\nCurVer=1\r\n[Tail]\r\nx=y";
    test::WriteFileBytes(path, original);
    SettingsFile ini(path);
    {
        test::HeldFile held(path);
        try {
            ini.WriteSetting("Update", "CurVer", "2");
            ADD_FAILURE() << "the write went through a held file";
        } catch (const OSError& e) {
            EXPECT_THAT(e.Code(), testing::AnyOf(ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED));
            EXPECT_EQ(std::string(e.what()),
                      "Unable to write to " + path + ": " + SystemReason(SystemError(static_cast<int>(e.Code()))));
        }
        EXPECT_EQ(test::ReadFileBytes(path), original);
        EXPECT_EQ(EntriesIn(dir.path()), 1u);
    }
    // Released, the same write replaces the file, keeping the rest.
    ini.WriteSetting("Update", "CurVer", "2");
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "2");
    EXPECT_EQ(ini.ReadSetting("Update", "ExeFile", ""), "Main.exe");
    EXPECT_EQ(ini.ReadSetting("Tail", "x", ""), "y");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// A disk that fills up while the profile functions write the copy: the
// records_tests_full_disk entry runs this process under a file-size limit
// (UE_TEST_FILE_SIZE_LIMIT bytes, full-disk.sh). Update.ini is as large as
// the limit allows, so its copy is made but the change does not fit: under
// Wine the profile functions then report success with the copy cut inside
// its last value, which is longer than a read gives. The file keeps every
// old byte, the error names it with a reason, and no copy is left. A change
// that fits goes through whole.
TEST(SettingsFileWin, AFullDiskLeavesTheFileWhollyOldAndAChangeThatFitsWhollyNew) {
    const char* limitText = std::getenv("UE_TEST_FILE_SIZE_LIMIT");
    if (limitText == nullptr) GTEST_SKIP() << "runs in records_tests_full_disk, under a file-size limit";
    const std::size_t limit = std::stoul(limitText);
    test::TempDir dir;
    const std::string path = dir.file("Update.ini");
    // A few long values, so that the cut falls past what a read gives.
    std::string original = "[Update]\r\nExeFile=Main.exe\r\nCurVer=1\r\n[Tail]\r\n";
    const std::size_t room = limit - original.size() - 8 * 10;
    for (int i = 0; i < 8; ++i) {
        const std::string value(room / 8, static_cast<char>('a' + i));
        original += "k" + std::to_string(i) + "=" + value + "\r\n";
    }
    ASSERT_LE(original.size(), limit);
    ASSERT_GT(original.size() + 100, limit);
    test::WriteFileBytes(path, original);

    SettingsFile ini(path);
    const std::string prefix = "Unable to write to " + path + ": ";
    try {
        ini.WriteSetting("Update", "UpdateTime", std::string(200, '9'));
        ADD_FAILURE() << "a write past the limit went through";
    } catch (const Error& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
        EXPECT_GT(message.size(), prefix.size() + 10) << message;
    }
    EXPECT_TRUE(test::ReadFileBytes(path) == original) << "the file is no longer wholly old";
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    ini.WriteSetting("Update", "CurVer", "2");
    EXPECT_EQ(ini.ReadSetting("Update", "CurVer", ""), "2");
    EXPECT_EQ(ini.ReadSetting("Tail", "k7", "").size(), std::min<std::size_t>(room / 8, 2047));
    std::string expected = original;
    expected.replace(expected.find("CurVer=1"), 8, "CurVer=2");
    EXPECT_TRUE(test::ReadFileBytes(path) == expected) << "the file is not wholly new";
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace ue
