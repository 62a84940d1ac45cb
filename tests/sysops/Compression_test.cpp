// Linux-only expansion cases: permission bits, links, an ordinary user, a
// full disk. Both platforms' cases are in Compression_ptest.cpp.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "sysops/Compression.h"
#include "tests/sysops/CompressionSamples.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

using test::EntryNames;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using test::Compress;
using test::SampleContent;

// Each test expands the payload Tool.dll in a directory of its own, where
// nothing else may be left behind.
class ExpandCompressedFileOnLinux : public ::testing::Test {
protected:
    std::string ExpandError(const std::string& file) {
        try {
            ExpandCompressedFile(file);
        } catch (const Error& e) {
            return e.what();
        }
        return "no error";
    }
    std::string ExpandError() { return ExpandError(path); }

    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    const std::set<std::string> onlyPayload{"Tool.dll"};
};

TEST_F(ExpandCompressedFileOnLinux, KeepsThePayloadsModeAndReplacesAStaleTemporaryCopy) {
    const std::string content = SampleContent(1 << 20);
    WriteFileBytes(path, Compress(content));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(ExpansionTemporary(path), path + "bakr");
    WriteFileBytes(path + "bakr", "left over from an earlier run");
    ASSERT_EQ(::chmod((path + "bakr").c_str(), 0444), 0);

    ExpandCompressedFile(path, LeftTemporary::Replace);
    EXPECT_EQ(ReadFileBytes(path), content);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

// Unless the caller knows it for its own leftover, whatever holds the
// temporary's name (a download of that name, a link) stays as it is, and so
// does the payload.
TEST_F(ExpandCompressedFileOnLinux, AFileUnderTheTemporarysNameIsRefusedUnlessItIsOurs) {
    const std::string payload = Compress("content");
    const std::string outside = dir.file("outside");
    for (const bool link : {false, true}) {
        WriteFileBytes(path, payload);
        std::filesystem::remove(path + "bakr");
        if (link) {
            std::filesystem::create_symlink(outside, path + "bakr");
        } else {
            WriteFileBytes(path + "bakr", "a download named Tool.dllbakr");
        }
        EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "bakr\". File exists") << link;
        EXPECT_EQ(ReadFileBytes(path), payload) << link;
        EXPECT_FALSE(std::filesystem::exists(outside)) << link;
        if (!link) {
            EXPECT_EQ(ReadFileBytes(path + "bakr"), "a download named Tool.dllbakr");
        }
    }
}

TEST_F(ExpandCompressedFileOnLinux, PayloadInADirectoryWeMayNotWrite) {
    const std::string sub = dir.file("update");
    std::filesystem::create_directory(sub);
    const std::string file = sub + "/Tool.dll";
    const std::string payload = Compress("content");
    WriteFileBytes(file, payload);
    test::HandToUnprivileged(file);
    ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
    // Root may write any directory: an ordinary user expands it.
    const auto error = test::RunUnprivileged([&] { return ExpandError(file); });
    if (!error) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*error, "Cannot create file \"" + file + "\". Permission denied");
    EXPECT_EQ(ReadFileBytes(file), payload);
}

TEST_F(ExpandCompressedFileOnLinux, FailedWriteLeavesThePayload) {
    const std::string payload = Compress(SampleContent(1 << 20));
    WriteFileBytes(path, payload);
    ASSERT_LT(payload.size(), 256u * 1024);

    // A child with a file size limit stands in for a full disk; the message
    // names the file and the system's cause, and carries its code.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ExpandCompressedFile(path);
        } catch (const OSError& e) {
            ::_exit(e.what() == "Stream write error while expanding \"" + path + "\": " +
                                    std::strerror(EFBIG) &&
                            e.Code() == EFBIG
                        ? 0
                        : 1);
        } catch (...) {
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

}  // namespace
}  // namespace ue
