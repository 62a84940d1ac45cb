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
#include "core/Root.h"
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
    std::string ExpandError(const std::string& file, const fileio::Root* root = nullptr) {
        try {
            ExpandCompressedFile(file, LeftTemporary::Refuse, root);
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

// A child with a file size limit stands in for a full disk; the message names
// the file and the system's cause, and carries its code. Rows: a write that
// fails on the way, and the last buffered write (all of 40,000 bytes is held
// back until the end) failing under a 20,000-byte limit.
TEST_F(ExpandCompressedFileOnLinux, FailedWriteLeavesThePayload) {
    const struct {
        std::size_t content;
        rlim_t limit;
    } rows[] = {{1 << 20, 256 * 1024}, {40000, 20000}};
    for (const auto& row : rows) {
        const std::string payload = Compress(SampleContent(row.content));
        WriteFileBytes(path, payload);
        ASSERT_LT(payload.size(), row.limit);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {row.limit, row.limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                ExpandCompressedFile(path);
            } catch (const OSError& e) {
                ::_exit(e.what() == "Stream write error while expanding \"" + path + "\": File too large" &&
                                e.Code() == EFBIG
                            ? 0
                            : 1);
            } catch (...) {
            }
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row.content;
        EXPECT_EQ(ReadFileBytes(path), payload) << row.content;
        EXPECT_EQ(EntryNames(dir.path()), onlyPayload) << row.content;
    }
}

// A payload swapped for a link to a file that its writer may not read is
// never read: the link and the file stay as they are, and the error names the
// payload.
TEST_F(ExpandCompressedFileOnLinux, PayloadThatIsALinkIsNeverRead) {
    const std::string secret = dir.file("secret");
    const std::string payload = Compress("root only");
    WriteFileBytes(secret, payload);
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(secret.c_str(), path.c_str()), 0);
    EXPECT_EQ(ExpandError(), "Cannot open file \"" + path + "\". Too many levels of symbolic links");
    EXPECT_EQ(ReadFileBytes(secret), payload);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(EntryNames(dir.path()), (std::set<std::string>{"Tool.dll", "secret"}));
}

// Through the installation opened as a root, a payload's folder that leads
// outside (swapped for a link since the caller looked) is no way to it:
// nothing there is read or written.
TEST_F(ExpandCompressedFileOnLinux, ThroughTheRootAFolderLinkedOutsideLeadsNowhere) {
    const std::string base = dir.file("inst");
    const std::string outside = dir.file("outside");
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
    const std::string payload = Compress("outside");
    WriteFileBytes(outside + "/Tool.dll", payload);
    ASSERT_EQ(::symlink(outside.c_str(), (base + "/update").c_str()), 0);
    fileio::Root root;
    ASSERT_FALSE(fileio::Root::Open(base, root));
    EXPECT_EQ(ExpandError(base + "/update/Tool.dll", &root),
              "Cannot open file \"" + base + "/update/Tool.dll\". " +
                  std::make_error_code(std::errc::cross_device_link).message());
    EXPECT_EQ(ReadFileBytes(outside + "/Tool.dll"), payload);
    EXPECT_EQ(EntryNames(outside), onlyPayload);
}

}  // namespace
}  // namespace ue
