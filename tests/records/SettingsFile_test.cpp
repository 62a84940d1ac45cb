// Linux specifics of the settings file: the atomic replacement and what it
// keeps of the old file.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
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
using test::WriteFileBytes;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

std::size_t EntriesIn(const std::string& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

struct SettingsFilePosix : testing::Test {
    test::TempDir dir;
    std::string path = dir.file("Update.ini");
};

TEST_F(SettingsFilePosix, ReplacesAtomicallyKeepingModeAndLeavingNoTemporaryFile) {
    WriteFileBytes(path, "[Update]\nCurVer=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before = StatOf(path);
    int oldFd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(oldFd, 0);

    SettingsFile(path).WriteSetting("Update", "CurVer", "2");

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

TEST_F(SettingsFilePosix, NewFileGetsTheUsualMode) {
    mode_t mask = ::umask(022);
    SettingsFile(path).WriteSetting("Update", "CurVer", "1");
    ::umask(mask);
    EXPECT_EQ(StatOf(path).st_mode & 0777, 0644u);
}

TEST_F(SettingsFilePosix, ValueAlreadyThereLeavesTheFileUntouched) {
    WriteFileBytes(path, "[Update]\nCurVer = 5 \n");
    struct stat before = StatOf(path);
    SettingsFile(path).WriteSetting("update", "CURVER", "5");
    struct stat after = StatOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(SettingsFilePosix, WritesThroughASymbolicLink) {
    std::string real = dir.file("shared.ini");
    WriteFileBytes(real, "[Update]\nCurVer=1\n");
    fs::create_symlink("shared.ini", path);
    SettingsFile(path).WriteSetting("Update", "CurVer", "2");
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ReadFileBytes(real), "[Update]\nCurVer=2\n");
}

TEST_F(SettingsFilePosix, FailuresNameTheFileAndLeaveNothingBehind) {
    fs::create_directory(path);  // the path is a directory
    std::string underFile = dir.file("plain") + "/Update.ini";  // a part of the directory is a file
    WriteFileBytes(dir.file("plain"), "x");
    for (const std::string& p : {path, underFile}) {
        EXPECT_THAT([&] { SettingsFile(p).WriteSetting("Update", "CurVer", "2"); },
                    testing::ThrowsMessage<Error>("Unable to write to " + p));
    }
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

}  // namespace
}  // namespace ue
