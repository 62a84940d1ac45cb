// The bottom layer's file I/O: the contract that both platforms keep.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "core/FileIO.h"
#include "core/Root.h"
#include "sysops/FilePrimitives.h"
#include "sysops/Platform.h"
#include "tests/support/TempDir.h"

#ifdef _WIN32
#include <windows.h>

#include "core/WinText.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ue::fileio {
namespace {

using namespace ue::test;  // TempDir and the whole-file helpers
using Names = std::set<std::string>;

Names EntryNames(const std::string& dir) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string Sample(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

// An existing file opened for reading, or a new one for writing.
File Open(const std::string& path, bool create) {
#ifdef _WIN32
    return File(::CreateFileW(WidePath(path).c_str(), create ? GENERIC_WRITE : GENERIC_READ,
                              FILE_SHARE_READ, nullptr, create ? CREATE_NEW : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
#else
    return File(create ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600)
                       : ::open(path.c_str(), O_RDONLY));
#endif
}

TEST(FileIO, ParentDirectory) {
    const struct {
        const char* path;
        const char* parent;
    } cases[] = {
        {"/a/b", "/a"},  {"/a/b/", "/a"}, {"/a//b", "/a"}, {"a/b", "a"}, {"b", "."},
        {"", "."},       {"/b", "/"},     {"//b", "/"},    {"/", "/"},   {"/a/b//", "/a"},
#ifdef _WIN32
        {"C:\\a\\b", "C:\\a"}, {"C:\\a\\b\\", "C:\\a"}, {"C:\\a", "C:\\"}, {"C:\\", "C:\\"},
        {"C:a", "C:"},         {"C:/a/b", "C:/a"},      {"a\\b/c", "a\\b"}, {"\\b", "\\"},
#endif
    };
    for (const auto& c : cases) EXPECT_EQ(ParentDirectory(c.path), c.parent) << c.path;
}

TEST(FileIO, ReadAllTakesRegularFilesOnly) {
    TempDir dir;
    const std::string content = Sample(300000);
    WriteFileBytes(dir.file("f"), content);
    std::string bytes = "stale";
    EXPECT_FALSE(ReadAll(dir.file("f"), bytes));
    EXPECT_EQ(bytes, content);
    EXPECT_EQ(ReadAll(dir.file("missing"), bytes), std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadAll(dir.file("missing/f"), bytes), std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadAll(dir.path(), bytes), std::errc::is_a_directory);
}

TEST(FileIO, CopyAllCopiesEveryByte) {
    TempDir dir;
    const std::string content = Sample(600000);
    WriteFileBytes(dir.file("from"), content);
    {
        File from = Open(dir.file("from"), false);
        File to = Open(dir.file("to"), true);
        ASSERT_TRUE(from.Valid() && to.Valid());
        EXPECT_FALSE(CopyAll(from, to));
    }
    EXPECT_EQ(ReadFileBytes(dir.file("to")), content);
}

TEST(FileIO, RenameFileKeepsAnExistingTargetWhenAsked) {
    TempDir dir;
    WriteFileBytes(dir.file("a"), "a");
    WriteFileBytes(dir.file("b"), "b");
    EXPECT_EQ(RenameFile(dir.file("a"), dir.file("b"), Existing::Keep), std::errc::file_exists);
    EXPECT_EQ(ReadFileBytes(dir.file("b")), "b");
    EXPECT_FALSE(RenameFile(dir.file("a"), dir.file("b"), Existing::Replace));
    EXPECT_EQ(EntryNames(dir.path()), Names{"b"});
    EXPECT_EQ(ReadFileBytes(dir.file("b")), "a");
    EXPECT_FALSE(RenameFile(dir.file("b"), dir.file("c"), Existing::Keep));
    EXPECT_EQ(EntryNames(dir.path()), Names{"c"});
}

TEST(FileIO, LinkFileGivesAFurtherNameButNeverReplaces) {
    TempDir dir;
    WriteFileBytes(dir.file("a"), "content");
    WriteFileBytes(dir.file("taken"), "keep");
    ASSERT_FALSE(LinkFile(dir.file("a"), dir.file("b")));
    EXPECT_EQ(ReadFileBytes(dir.file("b")), "content");
    WriteFileBytes(dir.file("b"), "changed");  // the same file under both names
    EXPECT_EQ(ReadFileBytes(dir.file("a")), "changed");
    EXPECT_EQ(LinkFile(dir.file("a"), dir.file("taken")), std::errc::file_exists);
    EXPECT_EQ(ReadFileBytes(dir.file("taken")), "keep");
}

// The run refuses a download that would replace one of its own records by
// comparing identities: every spelling of one file must agree, and a file
// that took the name's place by a rename must not.
TEST(FileIO, IdentityIsTheFileNotItsName) {
    TempDir dir;
    const std::string records = dir.file("UpdateRecords.db");
    WriteFileBytes(records, "records");
    WriteFileBytes(dir.file("other"), "other");
    ASSERT_FALSE(LinkFile(records, dir.file("second name")));
    ASSERT_FALSE(CreateDirectories(dir.file("sub")));
    const auto id = [](const std::string& path, LastLink last = LastLink::Stay) {
        FileIdentity identity;
        bool found = true;
        const std::error_code ec = IdentityOf(path, last, identity, found);
        EXPECT_FALSE(ec) << path << ": " << ec.message();
        return found ? std::optional(identity) : std::nullopt;
    };
    const auto original = id(records);
    ASSERT_TRUE(original);
    std::vector<std::string> sameFile = {
        dir.file("second name"), dir.file("sub") + PathSeparator() + ".." + PathSeparator() + "UpdateRecords.db"};
#ifdef _WIN32
    sameFile.push_back(dir.file("UPDATERECORDS.DB"));
    // The short alias of the name itself, where the volume makes them.
    wchar_t shortPath[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(WidePath(records).c_str(), shortPath, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    std::string alias = Narrow(shortPath);
    if (alias.ends_with("UpdateRecords.db")) alias.clear();
    if (!alias.empty()) sameFile.push_back(alias);
#else
    ASSERT_EQ(::symlink("UpdateRecords.db", dir.file("link").c_str()), 0);
    EXPECT_EQ(id(dir.file("link"), LastLink::Follow), original);
    EXPECT_NE(id(dir.file("link")), original);
#endif
    for (const std::string& name : sameFile) EXPECT_EQ(id(name), original) << name;
    EXPECT_NE(id(dir.file("other")), original);
    EXPECT_EQ(id(dir.file("missing")), std::nullopt);
    EXPECT_EQ(id(dir.file("other") + PathSeparator() + "below"), std::nullopt);
    // Replaced by a rename: another file under the same name.
    ASSERT_FALSE(ReplaceAtomically(records, records + ".tmp", "download"));
    EXPECT_NE(id(records), original);
#ifdef _WIN32
    if (alias.empty()) GTEST_SKIP() << "the volume makes no short names";
#endif
}

class ReplaceAtomicallyTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::string target = dir.file("target");
};

TEST_F(ReplaceAtomicallyTest, ReplacesOrCreatesTheTargetAndLeavesNoTemporary) {
    EXPECT_FALSE(ReplaceAtomically(target, target + ".tmp", "first"));
    EXPECT_EQ(ReadFileBytes(target), "first");
    const std::string content = Sample(100000);
    EXPECT_FALSE(ReplaceAtomically(target, target + ".tmpXXXXXX", content));
    EXPECT_EQ(ReadFileBytes(target), content);
    EXPECT_EQ(EntryNames(dir.path()), Names{"target"});
}

TEST_F(ReplaceAtomicallyTest, AnyFailureLeavesTheTargetAndRemovesTheTemporary) {
    WriteFileBytes(target, "old");
    const auto failing = [](const File& file) {
        (void)WriteAll(file, "half");
        return std::make_error_code(std::errc::no_space_on_device);
    };
    const auto throwing = [](const File& file) -> std::error_code {
        (void)WriteAll(file, "half");
        throw std::runtime_error("stream broke");
    };
    EXPECT_EQ(ReplaceAtomically(target, target + ".tmp", failing), std::errc::no_space_on_device);
    EXPECT_THROW(ReplaceAtomically(target, target + ".tmpXXXXXX", throwing), std::runtime_error);
    // The rename itself fails: a directory stands in the target's place.
    std::filesystem::create_directory(dir.file("sub"));
    WriteFileBytes(dir.file("sub/inside"), "x");
    EXPECT_TRUE(ReplaceAtomically(dir.file("sub"), dir.file("sub.tmp"), "new"));
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"sub", "target"}));
}

TEST_F(ReplaceAtomicallyTest, NeverWritesThroughWhatAlreadyHasTheTemporaryName) {
    WriteFileBytes(target, "old");
    WriteFileBytes(target + ".tmp", "a file of that name");
    EXPECT_EQ(ReplaceAtomically(target, target + ".tmp", "new"), std::errc::file_exists);
    EXPECT_EQ(ReadFileBytes(target + ".tmp"), "a file of that name");
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"target", "target.tmp"}));
}

TEST_F(ReplaceAtomicallyTest, KeepsAnExistingTargetWhenAsked) {
    WriteFileBytes(target, "old");
    const ReplaceOptions keep{Existing::Keep, NewFile::Private};
    EXPECT_EQ(ReplaceAtomically(target, target + ".tmp", "new", keep), std::errc::file_exists);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), Names{"target"});
}

// The installation as a root: a path is used beneath it or not at all.
TEST(Root, LocatesNamesBeneathItAndNothingElse) {
    TempDir dir;
    // Chinese, a blank and ';', as installation folders are named.
    const std::string base = dir.file("升级 测试;1");
    ASSERT_FALSE(CreateDirectories(base + "/子目录"));
    Root root;
    ASSERT_FALSE(Root::Open(base, root));
    const std::string in = root.Path();

    Place place;
    ASSERT_FALSE(root.Locate(in + "子目录/配置.dat", place));
    EXPECT_EQ(place.Name(), "配置.dat");
    ASSERT_FALSE(place.Replace("配置.dat.~ueXXXXXX", [](const File& f) { return WriteAll(f, "新"); }));
    File file;
    ASSERT_FALSE(place.OpenForReading(file));
    std::string bytes;
    EXPECT_FALSE(ReadAll(file, bytes));
    EXPECT_EQ(bytes, "新");
    Status status;
    EXPECT_FALSE(place.StatusOf(status));
    EXPECT_EQ(status.kind, Kind::Regular);
    EXPECT_EQ(ReadFileBytes(base + "/子目录/配置.dat"), "新");

    const std::errc outside = std::errc::cross_device_link;
    for (const std::string& path : {in + "../x", in + "子目录/../../x", in + "子目录/..", in,
                                    dir.file("升级 测试;1-old/x"), dir.file("x")}) {
        EXPECT_EQ(root.Locate(path, place), outside) << path;
    }
    EXPECT_TRUE(root.Locate(in + "missing/x", place)) << "a missing folder is not created";
    EXPECT_FALSE(root.Locate(in + "新.dll", place)) << "a name directly in the root";
    EXPECT_FALSE(place.Remove()) << "nothing there is no error";

    // Missing folders are made beneath it, and only there.
    EXPECT_FALSE(root.CreateFolders(in + "子目录/新 层/深"));
    EXPECT_FALSE(StatusOf(base + "/子目录/新 层/深", status));
    EXPECT_EQ(status.kind, Kind::Directory);
    EXPECT_FALSE(root.CreateFolders(in + "子目录/新 层/深")) << "what is there is no error";
    EXPECT_FALSE(root.CreateFolders(in)) << "the root itself";
    EXPECT_TRUE(root.CreateFolders(in + "子目录/配置.dat/x")) << "a file in the way";
    for (const std::string& path : {in + "../up", in + "子目录/../../up", dir.file("up")}) {
        EXPECT_EQ(root.CreateFolders(path), outside) << path;
    }
    EXPECT_FALSE(StatusOf(dir.file("up"), status));
    EXPECT_EQ(status.kind, Kind::Missing);
}

}  // namespace
}  // namespace ue::fileio
