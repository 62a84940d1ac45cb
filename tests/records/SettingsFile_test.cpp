// Linux specifics of the settings file: the atomic replacement and what it
// keeps of the old file.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
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

// What only the Linux writer meets: modes that hold for an ordinary user (the
// check runs as one), other kinds of file, and links.
TEST(SettingsFileCheckWritable, RefusesWhatTheAtomicReplaceWouldNotGetThrough) {
    struct Case {
        const char* name;
        mode_t fileMode;  // 0: no file
        mode_t folderMode;
        std::string reason;  // "" when the file may be written
    };
    const Case cases[] = {
        {"writable", 0644, 0755, ""},
        {"missing in a writable folder", 0, 0755, ""},
        {"not ours to write", 0020, 0755, "UpdateExe may not read and write it (Permission denied)"},
        {"folder not writable", 0644, 0555, "its folder \"<folder>\" cannot be written (Permission denied)"},
        {"missing in a folder not writable", 0, 0555,
         "its folder \"<folder>\" cannot be written (Permission denied)"},
        {"fifo", 0, 0755, "it is not a regular file"},
        {"dangling link", 0, 0755, "its link cannot be followed (No such file or directory)"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::string folder = dir.file(c.name);
        const std::string path = folder + "/Update.ini";
        const std::string name = c.name;
        ASSERT_TRUE(fs::create_directory(folder));
        test::HandToUnprivileged(folder);
        if (c.fileMode != 0) {
            WriteFileBytes(path, "[Update]\nCurVer=1\n");
            test::HandToUnprivileged(path);
            ASSERT_EQ(::chmod(path.c_str(), c.fileMode), 0);
        }
        if (name == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
        }
        if (name == "dangling link") fs::create_symlink("elsewhere/Update.ini", path);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        const auto before = test::EntryNames(folder);

        const std::optional<std::string> outcome = test::RunUnprivileged([&] {
            try {
                SettingsFile(path).CheckWritable();
                return std::string();
            } catch (const Error& e) {
                return std::string(e.what());
            }
        });
        if (!outcome) GTEST_SKIP() << "cannot run as an ordinary user";
        std::string reason = c.reason;
        if (auto at = reason.find("<folder>"); at != std::string::npos) reason.replace(at, 8, folder);
        EXPECT_EQ(*outcome, reason.empty() ? "" : "Unable to write to " + path + ": " + reason) << c.name;
        EXPECT_EQ(test::EntryNames(folder), before) << c.name;
        if (c.fileMode != 0) {
            ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
            EXPECT_EQ(ReadFileBytes(path), "[Update]\nCurVer=1\n") << c.name;
        }
    }
}

}  // namespace
}  // namespace ue
