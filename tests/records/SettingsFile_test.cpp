// Linux specifics of the settings file: the atomic replacement and what it
// keeps of the old file.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <set>
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

// Update.ini swapped for a link while the run waits (after the object was
// made and checked): where it leads is judged at the write, and a file
// outside the installation is neither written nor replaced.
TEST_F(SettingsFilePosix, ALinkLeadingOutsideItsFolderIsRefusedAtTheWrite) {
    test::TempDir outside;
    const std::string secret = outside.file("owned-by-root.conf");
    const std::string outsideName = fs::path(outside.path()).filename().string();
    const std::string inside = dir.file("sub");
    fs::create_directory(inside);
    for (const std::string& link : {secret, "../" + outsideName + "/owned-by-root.conf",
                                    "sub/../../" + outsideName + "/owned-by-root.conf"}) {
        WriteFileBytes(secret, "key=value\n");
        WriteFileBytes(path, "[Update]\nCurVer=1\n");
        SettingsFile ini(path);
        ASSERT_NO_THROW(ini.CheckWritable());
        fs::remove(path);
        fs::create_symlink(link, path);
        EXPECT_THAT([&] { ini.WriteSetting("Update", "CurVer", "2"); },
                    testing::ThrowsMessage<OSError>(testing::AllOf(
                        testing::StartsWith("Unable to write to " + path + ": it is a link that leads outside"),
                        testing::HasSubstr(secret))))
            << link;
        EXPECT_THAT([&] { ini.CheckWritable(); }, testing::ThrowsMessage<Error>(testing::HasSubstr("leads outside")));
        EXPECT_EQ(ReadFileBytes(secret), "key=value\n") << link;
        EXPECT_TRUE(fs::is_symlink(path)) << link;
        EXPECT_EQ(test::EntryNames(outside.path()), std::set<std::string>{"owned-by-root.conf"});
        EXPECT_EQ(test::EntryNames(dir.path()), (std::set<std::string>{"Update.ini", "sub"}));
        fs::remove(path);
    }
    // A link to a file in a folder beneath stays writable.
    WriteFileBytes(inside + "/shared.ini", "[Update]\nCurVer=1\n");
    fs::create_symlink("sub/shared.ini", path);
    SettingsFile(path).WriteSetting("Update", "CurVer", "2");
    EXPECT_EQ(ReadFileBytes(inside + "/shared.ini"), "[Update]\nCurVer=2\n");
}

// Every failed write says why, in the system's words, and leaves the old
// file whole: a folder where the file should be, a file where a folder
// should be, and a disk that takes no more bytes (a file-size limit stands
// in for a full disk).
TEST_F(SettingsFilePosix, FailuresSayWhyAndLeaveTheOldFileWhole) {
    fs::create_directory(path);  // the path is a directory
    std::string underFile = dir.file("plain") + "/Update.ini";  // a part of the directory is a file
    WriteFileBytes(dir.file("plain"), "x");
    const std::pair<std::string, std::string> cases[] = {
        {path, "Is a directory"},
        {underFile, "Not a directory"},
    };
    for (const auto& [p, reason] : cases) {
        EXPECT_THAT([&] { SettingsFile(p).WriteSetting("Update", "CurVer", "2"); },
                    testing::ThrowsMessage<OSError>("Unable to write to " + p + ": " + reason));
    }
    EXPECT_EQ(EntriesIn(dir.path()), 2u);

    test::TempDir small;
    const std::string ini = small.file("Update.ini");
    const std::string original = "[Update]\nCurVer=1\n";  // 18 bytes
    WriteFileBytes(ini, original);
    test::HandToUnprivileged(small.path());
    test::HandToUnprivileged(ini);
    const std::optional<std::string> outcome = test::RunUnprivileged([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit {16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SettingsFile(ini).WriteSetting("Update", "UpdateTime", "2008-05-09");
            return std::string("written");
        } catch (const Error& e) {
            return std::string(e.what());
        }
    });
    if (!outcome) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*outcome, "Unable to write to " + ini + ": File too large");
    EXPECT_EQ(ReadFileBytes(ini), original);
    EXPECT_EQ(test::EntryNames(small.path()), std::set<std::string>{"Update.ini"});
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
