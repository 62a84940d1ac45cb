// The bottom layer's file I/O on Linux: the contract that the Windows twin
// must keep as well.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "core/FileIO.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue::fileio {
namespace {

using namespace ue::test;  // TempDir and the whole-file helpers
using Names = std::set<std::string>;

std::string Sample(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(FileIO, ParentDirectory) {
    const struct {
        const char* path;
        const char* parent;
    } cases[] = {
        {"/a/b", "/a"},  {"/a/b/", "/a"}, {"/a//b", "/a"}, {"a/b", "a"}, {"b", "."},
        {"", "."},       {"/b", "/"},     {"//b", "/"},    {"/", "/"},   {"/a/b//", "/a"},
    };
    for (const auto& c : cases) EXPECT_EQ(ParentDirectory(c.path), c.parent) << c.path;
}

TEST(FileIO, FileOwnsItsDescriptorAndMovesIt) {
    TempDir dir;
    WriteFileBytes(dir.file("f"), "x");
    const int first = ::open(dir.file("f").c_str(), O_RDONLY);
    const int second = ::open(dir.file("f").c_str(), O_RDONLY);
    {
        File a(first);
        File b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(b.Native(), first);
        File c(second);
        c = std::move(b);  // closes `second`
        EXPECT_FALSE(IsOpen(second));
        EXPECT_TRUE(IsOpen(first));
        EXPECT_FALSE(c.Close());
        EXPECT_FALSE(IsOpen(first));
        EXPECT_FALSE(c.Close()) << "closing nothing is no error";
    }
}

TEST(FileIO, ReadAllTakesRegularFilesOnly) {
    TempDir dir;
    const std::string content = Sample(300000);
    WriteFileBytes(dir.file("f"), content);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);  // must not block us

    std::string bytes = "stale";
    EXPECT_FALSE(ReadAll(dir.file("f"), bytes));
    EXPECT_EQ(bytes, content);
    EXPECT_EQ(ReadAll(dir.file("missing"), bytes), std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadAll(dir.path(), bytes), std::errc::is_a_directory);
    EXPECT_TRUE(ReadAll(dir.file("fifo"), bytes));
}

TEST(FileIO, WriteAllAndReadAllCarryEveryByteThroughAPipe) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    File reader(fds[0]);
    File writer(fds[1]);
    const std::string content = Sample(1 << 20);  // far more than a pipe holds
    std::string got;
    std::error_code readError;
    std::thread drain([&] { readError = ReadAll(reader, got); });
    EXPECT_FALSE(WriteAll(writer, content));
    writer.Close();
    drain.join();
    EXPECT_FALSE(readError);
    EXPECT_EQ(got, content);
}

TEST(FileIO, CopyAllCopiesTheRestOfTheSource) {
    TempDir dir;
    const std::string content = Sample(200000);
    WriteFileBytes(dir.file("from"), content);
    File from(::open(dir.file("from").c_str(), O_RDONLY));
    File to(::open(dir.file("to").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    ASSERT_EQ(::lseek(from.Native(), 1000, SEEK_SET), 1000);
    EXPECT_FALSE(CopyAll(from, to));
    EXPECT_EQ(ReadFileBytes(dir.file("to")), content.substr(1000));
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
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
    WriteFileBytes(dir.file("sub/inside"), "x");
    EXPECT_TRUE(ReplaceAtomically(dir.file("sub"), dir.file("sub.tmp"), "new"));
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"sub", "target"}));
}

TEST_F(ReplaceAtomicallyTest, NeverWritesThroughWhatAlreadyHasTheTemporaryName) {
    WriteFileBytes(target, "old");
    WriteFileBytes(dir.file("elsewhere"), "keep");
    ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), (target + ".tmp").c_str()), 0);
    EXPECT_EQ(ReplaceAtomically(target, target + ".tmp", "new"), std::errc::file_exists);
    EXPECT_EQ(ReadFileBytes(dir.file("elsewhere")), "keep");
    EXPECT_EQ(ReadFileBytes(target), "old");
    // A template passes over names in use.
    EXPECT_FALSE(ReplaceAtomically(target, dir.file("elsewhereXXXXXX"), "new"));
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"elsewhere", "target", "target.tmp"}));
}

TEST_F(ReplaceAtomicallyTest, KeepsAnExistingTargetWhenAsked) {
    WriteFileBytes(target, "old");
    const ReplaceOptions keep{Existing::Keep, NewFile::Private};
    EXPECT_EQ(ReplaceAtomically(target, target + ".tmp", "new", keep), std::errc::file_exists);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), Names{"target"});
}

TEST_F(ReplaceAtomicallyTest, TemporaryIsPrivateOrHasTheBitsOfANewFile) {
    const mode_t umask = ::umask(022);
    for (const auto& [access, bits] : {std::pair{NewFile::Private, 0600u}, {NewFile::Default, 0644u}}) {
        mode_t seen = 0;
        const auto look = [&seen](const File& file) {
            struct stat st {};
            ::fstat(file.Native(), &st);
            seen = st.st_mode & 07777;
            return std::error_code();
        };
        EXPECT_FALSE(ReplaceAtomically(target, target + ".tmp", look, {Existing::Replace, access}));
        EXPECT_EQ(seen, bits);
    }
    ::umask(umask);
}

}  // namespace
}  // namespace ue::fileio
