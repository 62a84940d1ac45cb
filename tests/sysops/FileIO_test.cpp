// The bottom layer's file I/O on Linux: descriptors, FIFOs, pipes, links and
// permission bits. The contract of both platforms is in FileIO_ptest.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/FileIO.h"
#include "core/Root.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

// While armed, fsync, close and rename of this process are noted by the
// path they act on, and the close of one path can be made to fail after the
// descriptor is closed, as a file system that reports a failed write only
// there does. Unarmed they only pass the call to the kernel.
namespace ue::fileio::watch {
std::mutex mutex;
std::atomic<bool> armed{false};
std::vector<std::string> events;
std::string failClose;  // the path whose close reports EIO

std::string PathOf(int fd) {
    char buffer[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Returns true when the call on `path` is to fail.
bool Note(const char* call, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(std::string(call) + " " + path);
    return std::string(call) == "close" && path == failClose;
}

struct Armed {
    explicit Armed(std::string failing = "") {
        std::lock_guard<std::mutex> lock(mutex);
        events.clear();
        failClose = std::move(failing);
        armed = true;
    }
    ~Armed() {
        std::lock_guard<std::mutex> lock(mutex);
        armed = false;
    }
    // The events that name a path starting with `prefix`, in order.
    static std::vector<std::string> About(const std::string& prefix) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (const std::string& e : events) {
            if (e.find(" " + prefix) != std::string::npos) out.push_back(e);
        }
        return out;
    }
};
}  // namespace ue::fileio::watch

extern "C" {
int fsync(int fd) {
    namespace watch = ue::fileio::watch;
    if (watch::armed) watch::Note("fsync", watch::PathOf(fd));
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
int close(int fd) {
    namespace watch = ue::fileio::watch;
    const bool fail = watch::armed && watch::Note("close", watch::PathOf(fd));
    const int rc = static_cast<int>(::syscall(SYS_close, fd));
    if (fail && rc == 0) {
        errno = EIO;
        return -1;
    }
    return rc;
}
int rename(const char* from, const char* to) noexcept {
    if (ue::fileio::watch::armed) ue::fileio::watch::Note("rename", from);
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
}
}

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

TEST(FileIO, ReadAllRefusesAFifoWithoutWaiting) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);  // must not block us
    std::string bytes;
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

class ReplaceAtomicallyOnLinux : public ::testing::Test {
protected:
    TempDir dir;
    const std::string target = dir.file("target");
};

TEST_F(ReplaceAtomicallyOnLinux, NeverWritesThroughALinkUnderTheTemporaryName) {
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

TEST_F(ReplaceAtomicallyOnLinux, TemporaryIsPrivateOrHasTheBitsOfANewFile) {
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

// A folder or a download swapped for a link after the run looked at it (while
// a dialog waits, say) leads nowhere outside the installation.
TEST(Root, SwapsForLinksLeadNowhereOutside) {
    TempDir dir;
    const std::string base = dir.file("inst");
    const std::string outside = dir.file("outside");
    for (const std::string& d : {base, base + "/lib", base + "/update", outside}) {
        ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    }
    WriteFileBytes(outside + "/secret", "secret");
    WriteFileBytes(base + "/update/a.dll", "new");
    Root root;
    ASSERT_FALSE(Root::Open(base, root));

    // The target's folder, located, then swapped: the file goes where the
    // folder went, never outside.
    Place target;
    ASSERT_FALSE(root.Locate(base + "/lib/a.dll", target));
    ASSERT_EQ(::rename((base + "/lib").c_str(), (base + "/lib.old").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (base + "/lib").c_str()), 0);
    EXPECT_FALSE(target.Replace("a.dll.~ueXXXXXX", [](const File& f) { return WriteAll(f, "new"); }));
    EXPECT_EQ(ReadFileBytes(base + "/lib.old/a.dll"), "new");
    EXPECT_FALSE(::access((outside + "/a.dll").c_str(), F_OK) == 0);
    // Located after the swap: refused, relative or absolute link alike.
    EXPECT_EQ(root.Locate(base + "/lib/a.dll", target), std::errc::cross_device_link);
    ASSERT_EQ(::symlink("../../outside", (base + "/lib.old/up").c_str()), 0);
    EXPECT_EQ(root.Locate(base + "/lib.old/up/secret", target), std::errc::cross_device_link);
    // A link made with the installation's own path stays usable.
    ASSERT_EQ(::symlink((base + "/lib.old").c_str(), (base + "/abs").c_str()), 0);
    EXPECT_FALSE(root.Locate(base + "/abs/a.dll", target));
    EXPECT_EQ(target.Name(), "a.dll");
    // Folders are made through a link only where it stays inside.
    EXPECT_FALSE(root.CreateFolders(base + "/abs/new"));
    EXPECT_TRUE(std::filesystem::is_directory(base + "/lib.old/new"));
    EXPECT_EQ(root.CreateFolders(base + "/lib/new/deeper"), std::errc::cross_device_link);
    EXPECT_FALSE(std::filesystem::exists(outside + "/new"));

    // The download swapped for a link to a secret is never read.
    Place download;
    ASSERT_FALSE(root.Locate(base + "/update/a.dll", download));
    ASSERT_EQ(::unlink((base + "/update/a.dll").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/secret").c_str(), (base + "/update/a.dll").c_str()), 0);
    File file;
    EXPECT_EQ(download.OpenForReading(file), std::errc::too_many_symbolic_link_levels);
    EXPECT_FALSE(file.Valid());
}

// The temporary's content is on the disk before its name replaces the
// target's, and the folder is synced after the rename; a close that reports a
// failed write leaves the target as it was and no temporary behind.
TEST_F(ReplaceAtomicallyOnLinux, SyncsBeforeTheRenameAndHonoursTheClosesError) {
    WriteFileBytes(target, "old");
    const std::string temporary = target + ".tmp";
    // The kernel names an open file by its real path.
    const std::string real = std::filesystem::canonical(dir.path()).string();
    const std::string realTemporary = real + "/target.tmp";
    {
        watch::Armed armed;
        ASSERT_FALSE(ReplaceAtomically(target, temporary, "new"));
        EXPECT_EQ(watch::Armed::About(real),
                  (std::vector<std::string>{"fsync " + realTemporary, "close " + realTemporary,
                                            "rename " + temporary, "fsync " + real, "close " + real}));
    }
    EXPECT_EQ(ReadFileBytes(target), "new");
    {
        watch::Armed armed(realTemporary);
        EXPECT_EQ(ReplaceAtomically(target, temporary, "newer"), std::errc::io_error);
    }
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"target"}));
}

}  // namespace
}  // namespace ue::fileio
