// Windows specifics of the settings file: the profile functions work on a
// copy beside Update.ini, which replaces the file whole or not at all.
#include "records/SettingsFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

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

}  // namespace
}  // namespace ue
