// Linux specifics of the settings file: the atomic replacement and what it
// keeps of the old file.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace ue {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

std::size_t EntriesIn(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++n;
    return n;
}

TEST(SettingsFilePosix, ReplacesAtomicallyKeepingModeAndLeavingNoTemporaryFile) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    WriteFileBytes(path, "[Update]\nCurVer=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before = StatOf(path);
    int oldFd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(oldFd, 0);

    SettingsFile ini(path);
    ini.WriteSetting("Update", "CurVer", "2");

    struct stat after = StatOf(path);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file was renamed over it
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(path), "[Update]\nCurVer=2\n");
    // A reader that had the old file open still sees it whole.
    char buffer[64] = {};
    ASSERT_GT(::read(oldFd, buffer, sizeof buffer - 1), 0);
    ::close(oldFd);
    EXPECT_STREQ(buffer, "[Update]\nCurVer=1\n");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(SettingsFilePosix, NewFileGetsTheUsualMode) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    mode_t mask = ::umask(022);
    SettingsFile(path).WriteSetting("Update", "CurVer", "1");
    ::umask(mask);
    EXPECT_EQ(StatOf(path).st_mode & 0777, 0644u);
}

TEST(SettingsFilePosix, ValueAlreadyThereLeavesTheFileUntouched) {
    TempDir dir;
    std::string path = dir.file("Update.ini");
    WriteFileBytes(path, "[Update]\nCurVer = 5 \n");
    struct stat before = StatOf(path);
    SettingsFile(path).WriteSetting("update", "CURVER", "5");
    struct stat after = StatOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(SettingsFilePosix, WritesThroughASymbolicLink) {
    TempDir dir;
    std::string real = dir.file("shared.ini");
    std::string link = dir.file("Update.ini");
    WriteFileBytes(real, "[Update]\nCurVer=1\n");
    fs::create_symlink("shared.ini", link);
    SettingsFile(link).WriteSetting("Update", "CurVer", "2");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(real), "[Update]\nCurVer=2\n");
}

TEST(SettingsFilePosix, FailuresNameTheFileAndLeaveNothingBehind) {
    TempDir dir;
    auto expectUnable = [](const std::string& path) {
        try {
            SettingsFile(path).WriteSetting("Update", "CurVer", "2");
            ADD_FAILURE() << "no error for " << path;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    };
    // The path is a directory.
    fs::create_directory(dir.file("Update.ini"));
    expectUnable(dir.file("Update.ini"));
    // A part of the directory is a file.
    WriteFileBytes(dir.file("plain"), "x");
    expectUnable(dir.file("plain") + "/Update.ini");
    // Read-only by its mode even though root could write it.
    std::string ro = dir.file("ro.ini");
    WriteFileBytes(ro, "[Update]\nCurVer=1\n");
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
    expectUnable(ro);
    EXPECT_EQ(ReadFileBytes(ro), "[Update]\nCurVer=1\n");
    EXPECT_EQ(EntriesIn(dir.path()), 3u);
}

}  // namespace
}  // namespace ue
