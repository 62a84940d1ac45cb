// The file primitives' contract on both platforms. "In use" is a file held
// open the way another program holds it (HeldFile); "read-only" is the
// read-only attribute on Windows and no write permission bit on Linux, which
// std::filesystem sets and reads as such on both.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/FileIO.h"
#include "sysops/FilePrimitives.h"
#include "tests/support/HeldFile.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using test::HeldFile;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Names = std::set<std::string>;

Names EntryNames(const std::string& dir) {
    Names names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

void MakeReadOnly(const std::string& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}
bool IsReadOnly(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

TEST(FilePrimitivesContract, RegularAndHiddenFilesAreFoundWithTimeAndSize) {
    TempDir dir;
    for (const char* name : {"Tool.dll", ".hidden"}) {
        const std::string path = dir.file(name);
        WriteFileBytes(path, "12345");
        EXPECT_TRUE(IsFilePresent(path)) << name;
        EXPECT_EQ(GetFileSizeByName(path), 5) << name;
        EXPECT_GT(GetFileModifiedTime(path), 40000.0) << name;
        EXPECT_FALSE(IsFileInUse(path)) << name;
        EXPECT_FALSE(ReplaceBlocker(path)) << name;
    }
}

TEST(FilePrimitivesContract, MissingFilesAndDirectoriesGiveNeutralResultsAndTouchNothing) {
    TempDir dir;
    const std::string sub = dir.file("sub");
    fs::create_directory(sub);
    const std::string source = dir.file("source"), target = dir.file("target.dll");
    WriteFileBytes(source, "data");
    WriteFileBytes(target, "installed");
    const TDateTime targetTime = GetFileModifiedTime(target);

    for (const std::string& path : {dir.file("missing.dll"), std::string(), sub, dir.file("no/dir.dll")}) {
        EXPECT_FALSE(IsFilePresent(path)) << path;
        EXPECT_EQ(GetFileModifiedTime(path), 0.0) << path;
        EXPECT_EQ(GetFileSizeByName(path), 0) << path;
        EXPECT_FALSE(IsFileInUse(path)) << path;
        EXPECT_FALSE(ShellCopyFile(nullptr, path, target)) << path;
        EXPECT_FALSE(ShellCopyFile(nullptr, path, dir.file("new.dll"))) << path;
    }
    EXPECT_FALSE(ShellCopyFile(nullptr, source, sub));
    EXPECT_TRUE(fs::is_empty(sub));
    EXPECT_EQ(ReadFileBytes(target), "installed");
    EXPECT_EQ(GetFileModifiedTime(target), targetTime);
    EXPECT_EQ(EntryNames(dir.path()), (Names{"source", "sub", "target.dll"}));
}

TEST(FilePrimitivesContract, SizeIsTheLow32BitsAsSignedInteger) {
    TempDir dir;
    const std::string path = dir.file("big");
    WriteFileBytes(path, "");
    constexpr std::uintmax_t GiB = std::uintmax_t{1} << 30;
    struct Case {
        std::uintmax_t size;
        std::int32_t expected;
    };
    for (const Case& c : {Case{3 * GiB, -1073741824}, Case{4 * GiB, 0}, Case{5 * GiB, 1073741824},
                          Case{2 * GiB - 1, 2147483647}, Case{12345, 12345}}) {
        fs::resize_file(path, c.size);  // sparse: no disk space used
        EXPECT_EQ(GetFileSizeByName(path), c.expected) << c.size;
    }
}

TEST(FilePrimitivesContract, CopyReplacesTheTargetWithContentAndTheSourcesTime) {
    TempDir dir;
    const std::string source = dir.file("new.dll"), target = dir.file("installed.dll");
    WriteFileBytes(source, std::string(300000, 'n'));
    WriteFileBytes(target, "old content");
    const auto time = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(source, time);

    ASSERT_FALSE(CopyFileOver(source, target));
    EXPECT_EQ(ReadFileBytes(target), std::string(300000, 'n'));
    EXPECT_EQ(fs::last_write_time(target), fs::last_write_time(source));
    EXPECT_EQ(GetFileModifiedTime(target), GetFileModifiedTime(source));
    EXPECT_EQ(ReadFileBytes(source), std::string(300000, 'n'));
    EXPECT_EQ(EntryNames(dir.path()), (Names{"new.dll", "installed.dll"}));

    // A new target and an empty source.
    WriteFileBytes(source, "");
    ASSERT_TRUE(ShellCopyFile(nullptr, source, dir.file("fresh.dll")));
    EXPECT_EQ(ReadFileBytes(dir.file("fresh.dll")), "");

    // A copy of several pieces tells its progress, rising, up to all its bytes.
    const std::uint64_t size = (std::uint64_t{40} << 20) + 123;
    WriteFileBytes(source, std::string(size, 'p'));
    std::uint64_t done = 0, total = 0;
    int calls = 0;
    bool rising = true;
    ASSERT_FALSE(CopyFileOver(source, target, {}, nullptr, [&](std::uint64_t d, std::uint64_t t) {
        rising = rising && d >= done && d <= t;  // repeated while written out
        done = d;
        total = t;
        ++calls;
    }));
    EXPECT_TRUE(rising);
    EXPECT_GE(calls, 2);
    EXPECT_EQ(done, size);
    EXPECT_EQ(total, size);
    EXPECT_EQ(fs::file_size(target), size);
}

TEST(FilePrimitivesContract, TargetInUseStaysUntouchedAndTheCopySaysWhy) {
    TempDir dir;
    const std::string source = dir.file("new.dll"), target = dir.file("installed.dll");
    WriteFileBytes(source, "new");
    WriteFileBytes(target, "old");
    EXPECT_EQ(CopyFileOver(dir.file("missing.dll"), target), std::errc::no_such_file_or_directory);
    EXPECT_EQ(CopyFileOver(dir.path(), target), std::errc::is_a_directory);
    EXPECT_EQ(CopyFileOver(source, dir.file("no/dir/x.dll")), std::errc::no_such_file_or_directory);
    {
        HeldFile held(target);
        EXPECT_TRUE(IsFileInUse(target));
        EXPECT_EQ(ReplaceBlocker(target), std::errc::device_or_resource_busy);
        EXPECT_EQ(CopyFileOver(source, target), std::errc::device_or_resource_busy);
        EXPECT_FALSE(ShellCopyFile(nullptr, source, target));
        EXPECT_FALSE(IsFileInUse(source));
    }
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"new.dll", "installed.dll"}));
    EXPECT_FALSE(IsFileInUse(target));
    EXPECT_FALSE(CopyFileOver(source, target));
    EXPECT_EQ(ReadFileBytes(target), "new");
}

// A read-only file is replaced, as the shell's copy replaces it, and no copy
// is read-only: a read-only download never makes an installed file that
// refuses every later update.
TEST(FilePrimitivesContract, ReadOnlyFilesAreReplacedAndTheirCopiesAreNotReadOnly) {
    TempDir dir;
    const std::string source = dir.file("new.dll"), target = dir.file("installed.dll");
    WriteFileBytes(source, "new");
    WriteFileBytes(target, "old");
    MakeReadOnly(source);
    MakeReadOnly(target);

    // No reason for the in-use dialog or for ending the run.
    EXPECT_FALSE(ReplaceBlocker(target)) << ReplaceBlocker(target).message();
    EXPECT_FALSE(IsFileInUse(target));
    EXPECT_FALSE(IsFileInUse(source));
    ASSERT_FALSE(CopyFileOver(source, target));
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_FALSE(IsReadOnly(target));
    EXPECT_TRUE(IsReadOnly(source));
    // Nor is a copy made afresh, or the one queued for the restart.
    ASSERT_TRUE(ShellCopyFile(nullptr, source, dir.file("fresh.dll")));
    EXPECT_FALSE(IsReadOnly(dir.file("fresh.dll")));
    std::string queued;
    ASSERT_FALSE(CopyToTemporaryBeside(source, target, queued));
    EXPECT_EQ(ReadFileBytes(queued), "new");
    EXPECT_FALSE(IsReadOnly(queued));
    ASSERT_FALSE(fileio::RemoveFile(queued));
    // The next update of the installed copy goes through as well.
    WriteFileBytes(dir.file("newer.dll"), "newer");
    ASSERT_FALSE(CopyFileOver(dir.file("newer.dll"), target));
    EXPECT_EQ(ReadFileBytes(target), "newer");

    // A read-only target that another program holds stays in use, and keeps
    // its attribute and content.
    MakeReadOnly(target);
    {
        HeldFile held(target);
        EXPECT_EQ(ReplaceBlocker(target), std::errc::device_or_resource_busy);
        EXPECT_EQ(CopyFileOver(source, target), std::errc::device_or_resource_busy);
    }
    EXPECT_TRUE(IsReadOnly(target));
    EXPECT_EQ(ReadFileBytes(target), "newer");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"new.dll", "installed.dll", "fresh.dll", "newer.dll"}));
}

TEST(FilePrimitivesContract, ForceDirectoriesCreatesMissingParents) {
    TempDir dir;
    EXPECT_TRUE(ForceDirectories(dir.file("bak/V3/sub")));
    EXPECT_TRUE(fs::is_directory(dir.file("bak/V3/sub")));
    EXPECT_TRUE(ForceDirectories(dir.file("bak/V3/sub")));
    EXPECT_TRUE(ForceDirectories(dir.file("bak//V4/")));
    EXPECT_TRUE(fs::is_directory(dir.file("bak/V4")));
    WriteFileBytes(dir.file("file"), "x");
    EXPECT_FALSE(ForceDirectories(dir.file("file")));
    EXPECT_FALSE(ForceDirectories(dir.file("file/sub")));
    EXPECT_FALSE(ForceDirectories(""));
    EXPECT_EQ(CreateDirectories(dir.file("file/sub")), std::errc::not_a_directory);
}

// Longer than MAX_PATH (260) on Windows; nothing special on Linux.
TEST(FilePrimitivesContract, PathsLongerThan260CharactersWork) {
    TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; i < 8; ++i) deep += "/" + std::string(40, static_cast<char>('a' + i));
    const std::string target = deep + "/Tool.dll";
    ASSERT_GT(target.size(), 300u);
    WriteFileBytes(dir.file("source"), "payload");
    ASSERT_TRUE(ForceDirectories(deep));
    ASSERT_FALSE(CopyFileOver(dir.file("source"), target));
    EXPECT_TRUE(IsFilePresent(target));
    EXPECT_EQ(GetFileSizeByName(target), 7);
    EXPECT_EQ(GetFileModifiedTime(target), GetFileModifiedTime(dir.file("source")));
    EXPECT_FALSE(IsFileInUse(target));
    EXPECT_FALSE(CheckDownloadedFile(target));
    EXPECT_FALSE(CheckBeneath(dir.path(), target)) << CheckBeneath(dir.path(), target).message();
    std::string bytes;
    EXPECT_FALSE(fileio::ReadAll(target, bytes));
    EXPECT_EQ(bytes, "payload");
    EXPECT_FALSE(CopyFileOver(dir.file("source"), target));  // over an existing one
}

// The parts of the beneath check that need no link: a path is beneath its
// base unless a ".." leads above it; what is missing may be created.
TEST(FilePrimitivesContract, CheckBeneathWithoutLinks) {
    TempDir dir;
    const std::string base = dir.file("suite");
    fs::create_directories(base + "/sub/deep");
    WriteFileBytes(base + "/file", "file");
    const struct {
        std::string path;  // below base
        std::errc expected;
    } rows[] = {
        {"/missing/../../x", std::errc::cross_device_link},
        {"/..", std::errc::cross_device_link},
        {"/sub/../../suite", std::errc::cross_device_link},
        {"/file/x", std::errc::not_a_directory},
    };
    for (const char* beneath : {"", "/", "/missing/new/name", "/sub/../sub/deep/new", "/file", "/sub/deep"}) {
        EXPECT_FALSE(CheckBeneath(base, base + beneath)) << beneath;
    }
    for (const auto& row : rows) EXPECT_EQ(CheckBeneath(base, base + row.path), row.expected) << row.path;
    EXPECT_EQ(CheckBeneath(base + "/", dir.file("outside")), std::errc::cross_device_link);
    EXPECT_EQ(CheckBeneath(base + "/", base + "x/y"), std::errc::cross_device_link);
}

TEST(FilePrimitivesContract, CheckDownloadedFileTakesARegularFile) {
    TempDir dir;
    WriteFileBytes(dir.file("plain"), "x");
    EXPECT_FALSE(CheckDownloadedFile(dir.file("plain")));
    EXPECT_EQ(CheckDownloadedFile(dir.path()), std::errc::invalid_argument);
    EXPECT_EQ(CheckDownloadedFile(dir.file("missing")), std::errc::no_such_file_or_directory);
}

}  // namespace
}  // namespace ue
