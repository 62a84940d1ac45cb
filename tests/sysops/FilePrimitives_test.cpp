// Linux-only cases: FIFOs, time zones, other processes, links. The contract
// of both platforms is in FilePrimitives_ptest.cpp.
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <linux/fs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "sysops/FilePrimitives.h"
#include "sysops/FilePrimitives_posix.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

using test::EntryNames;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Names = std::set<std::string>;

void SetModifiedTime(const std::string& path, std::time_t seconds, long nanoseconds = 0) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The local time zone (a POSIX TZ rule, no tzdata needed) for one test.
struct ScopedTimeZone {
    explicit ScopedTimeZone(const char* rule) : tz(std::in_place, "TZ", rule) { ::tzset(); }
    ~ScopedTimeZone() {
        tz.reset();
        ::tzset();
    }
    std::optional<test::ScopedEnv> tz;
};

// A child process of ours that holds a file open (or only mapped) until it is
// released; it inherits the hold, which this process then drops.
class HoldingChild {
public:
    enum class Hold { Reading, Writing, Mapping };

    HoldingChild(const std::string& path, Hold hold) {
        int fd = ::open(path.c_str(), hold == Hold::Writing ? O_RDWR : O_RDONLY);
        void* map = MAP_FAILED;
        if (fd >= 0 && hold == Hold::Mapping) {
            map = ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
            ::close(fd);
            fd = -1;
        }
        int release[2];
        if ((fd >= 0 || map != MAP_FAILED) && ::pipe(release) == 0) {
            pid_ = ::fork();
            if (pid_ == 0) {
                char c;
                ::close(release[1]);
                while (::read(release[0], &c, 1) > 0) {
                }
                ::_exit(0);
            }
            ::close(release[0]);
            release_ = release[1];
        }
        if (fd >= 0) ::close(fd);
        if (map != MAP_FAILED) ::munmap(map, 1);
    }
    ~HoldingChild() { Release(); }

    bool ready() const { return pid_ > 0; }

    void Release() {
        if (release_ >= 0) ::close(release_);
        release_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

TEST(FilePrimitives, MissingDirectoriesAndSpecialFilesGiveNeutralResultsAndTouchNothing) {
    TempDir dir;
    const std::string sub = dir.file("sub"), fifo = dir.file("fifo");
    std::filesystem::create_directory(sub);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string source = dir.file("source"), target = dir.file("target.dll");
    WriteFileBytes(source, "data");
    WriteFileBytes(target, "installed");
    SetModifiedTime(target, 1000000000);
    const TDateTime targetTime = GetFileModifiedTime(target);

    for (const std::string& path : {dir.file("missing.dll"), std::string(), sub, fifo, fifo + "/"}) {
        EXPECT_FALSE(IsFilePresent(path)) << path;
        EXPECT_EQ(GetFileModifiedTime(path), 0.0) << path;
        EXPECT_EQ(GetFileSizeByName(path), 0) << path;
        EXPECT_FALSE(IsFileInUse(path)) << path;
        EXPECT_FALSE(ShellCopyFile(nullptr, path, target)) << path;  // a FIFO must not block
        EXPECT_FALSE(ShellCopyFile(nullptr, path, dir.file("new.dll"))) << path;
    }
    EXPECT_FALSE(ShellCopyFile(nullptr, source, sub));
    EXPECT_TRUE(std::filesystem::is_empty(sub));
    EXPECT_EQ(ReadFileBytes(target), "installed");
    EXPECT_EQ(GetFileModifiedTime(target), targetTime);
    EXPECT_EQ(EntryNames(dir.path()), (Names{"fifo", "source", "sub", "target.dll"}));
}

TEST(FilePrimitives, FilesOutsideTheDosDateRangeArePresent) {
    ScopedTimeZone utc("UTC0");
    TempDir dir;
    const std::string path = dir.file("old.dll");
    WriteFileBytes(path, "old");
    struct Case {
        std::time_t seconds;
        double expected;
    };
    for (const Case& c : {Case{0, 25569.0}, Case{-631152000, 18264.0}, Case{7258118400, 109575.0}}) {
        SetModifiedTime(path, c.seconds);
        EXPECT_TRUE(IsFilePresent(path)) << c.seconds;
        EXPECT_EQ(GetFileModifiedTime(path), c.expected) << c.seconds;
        EXPECT_EQ(GetFileSizeByName(path), 3) << c.seconds;
        EXPECT_FALSE(IsFileInUse(path)) << c.seconds;
        const std::string copy = dir.file("copy.dll");
        EXPECT_TRUE(ShellCopyFile(nullptr, path, copy)) << c.seconds;
        EXPECT_EQ(GetFileModifiedTime(copy), c.expected) << c.seconds;
    }
}

TEST(FilePrimitives, ModifiedTimeIsLocalWithTheOffsetOfItsDate) {
    ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    TempDir dir;
    const std::string path = dir.file("file");
    WriteFileBytes(path, "x");
    SetModifiedTime(path, 315572400);  // 1980-01-01 11:00 UTC, noon in winter
    EXPECT_EQ(GetFileModifiedTime(path), 29221.5);
    SetModifiedTime(path, 1625133600);  // 2021-07-01 10:00 UTC, noon in summer
    EXPECT_EQ(GetFileModifiedTime(path), 44378.5);
    // Truncated to the millisecond, as a Windows system time.
    SetModifiedTime(path, 1625133600, 123999999);
    EXPECT_EQ(GetFileModifiedTime(path), EncodeDateTime(2021, 7, 1, 12, 0, 0, 123));
}

TEST(FilePrimitives, FileTimeCountsFrom1601Utc) {
    ScopedTimeZone utc("UTC0");
    constexpr std::uint64_t kTicks = 10000000;
    constexpr std::uint64_t k1601To1970 = 11644473600ULL;
    EXPECT_EQ(FileTimeToLocalDateTime((k1601To1970 + 315576000) * kTicks), 29221.5);
    EXPECT_EQ(FileTimeToLocalDateTime((k1601To1970 + 315576000) * kTicks + 4567890),
              EncodeDateTime(1980, 1, 1, 12, 0, 0, 456));
    EXPECT_EQ(FileTimeToLocalDateTime(0), EncodeDateTime(1601, 1, 1, 0, 0, 0, 0));
    ScopedTimeZone tokyo("JST-9");
    EXPECT_EQ(FileTimeToLocalDateTime((k1601To1970 + 315576000) * kTicks), 29221.875);
}

bool HeldByScan(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return posix::IsHeldOpenByAnyProcess(st, path);
}

TEST(IsFileInUse, FileHeldOpenOrMappedByAnotherProcess) {
    TempDir dir;
    const std::string path = dir.file("held.dll");
    const std::string other = dir.file("other.dll");
    WriteFileBytes(path, "library");
    WriteFileBytes(other, "library");
    using Hold = HoldingChild::Hold;
    for (auto hold : {Hold::Reading, Hold::Writing, Hold::Mapping}) {
        SCOPED_TRACE(static_cast<int>(hold));
        HoldingChild child(path, hold);
        ASSERT_TRUE(child.ready());
        EXPECT_TRUE(IsFileInUse(path));
        EXPECT_FALSE(IsFileInUse(other));
        // The /proc scan on its own, as used where leases are not available.
        EXPECT_TRUE(HeldByScan(path));
        EXPECT_FALSE(HeldByScan(other));
        child.Release();
        EXPECT_FALSE(IsFileInUse(path));
        EXPECT_FALSE(HeldByScan(path));
    }
}

TEST(IsFileInUse, RunningProgramIsInUse) {
    TempDir dir;
    const std::string program = dir.file("Suite.exe");
    std::filesystem::copy_file("/bin/sleep", program);
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the child runs the program rather than our own image.
    const std::string exeLink = "/proc/" + std::to_string(child) + "/exe";
    std::error_code ec;
    EXPECT_TRUE(test::WaitUntil([&] { return std::filesystem::read_symlink(exeLink, ec) == program; }));
    EXPECT_TRUE(IsFileInUse(program));
    EXPECT_TRUE(HeldByScan(program));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(IsFileInUse(program));
}

// The replacement is a rename in the folder: what refuses that rename blocks
// the file (the run ends with the reason, and the copy leaves it whole), and
// nothing else does, its own write bits included. The permission rows run as
// an ordinary user, for whom root's rights do not decide; the flag rows need
// root and are passed over without it.
TEST(ReplaceBlocker, OnlyWhatRefusesTheRenameBlocksAFile) {
    const bool root = ::geteuid() == 0;
    struct Row {
        const char* name;
        int fileFlag, folderFlag;  // inode flags, 0 for none
        mode_t fileMode, folderMode;
        bool fileOurs;  // else root's, in a root folder
        int blocker;    // errno, 0 when the file is replaced
    };
    const Row rows[] = {
        {"no write bits", 0, 0, 0444, 0755, true, 0},
        {"no write bits, someone else's", 0, 0, 0444, 0777, false, 0},
        {"folder we may not write", 0, 0, 0644, 0555, true, EACCES},
        {"someone else's file in a sticky folder", 0, 0, 0666, 01777, false, EPERM},
        {"immutable file", FS_IMMUTABLE_FL, 0, 0644, 0755, true, EPERM},
        {"immutable file without write bits", FS_IMMUTABLE_FL, 0, 0444, 0755, true, EPERM},
        {"append-only file", FS_APPEND_FL, 0, 0644, 0755, true, EPERM},
        {"append-only folder", 0, FS_APPEND_FL, 0644, 0755, true, EPERM},
    };
    for (const Row& row : rows) {
        if (!row.fileOurs && !root) continue;  // only root makes a file someone else's
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const std::string folder = dir.file("suite"), target = folder + "/a.dll", source = dir.file("a.dll");
        std::filesystem::create_directory(folder);
        WriteFileBytes(target, "old");
        WriteFileBytes(source, "new");
        ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
        if (row.fileOurs) {
            test::HandToUnprivileged(folder);
            test::HandToUnprivileged(target);
        }
        ASSERT_EQ(::chmod(target.c_str(), row.fileMode), 0);
        ASSERT_EQ(::chmod(folder.c_str(), row.folderMode), 0);
        if ((row.fileFlag != 0 && !test::SetInodeFlag(target, row.fileFlag, true)) ||
            (row.folderFlag != 0 && !test::SetInodeFlag(folder, row.folderFlag, true))) {
            continue;  // not root, or no such flags here
        }
        const std::optional<std::string> seen = test::RunUnprivileged([&] {
            return std::to_string(ReplaceBlocker(target).value()) + " " +
                   std::to_string(IsFileInUse(target)) + " " +
                   std::to_string(CopyFileOver(source, target).value());
        });
        if (row.fileFlag != 0) test::SetInodeFlag(target, row.fileFlag, false);
        if (row.folderFlag != 0) test::SetInodeFlag(folder, row.folderFlag, false);
        if (!seen) GTEST_SKIP() << "cannot run as an ordinary user";
        const std::string why = std::to_string(row.blocker);
        EXPECT_EQ(*seen, why + (row.blocker != 0 ? " 1 " : " 0 ") + why) << row.name;
        EXPECT_EQ(ReadFileBytes(target), row.blocker != 0 ? "old" : "new") << row.name;
        EXPECT_EQ(EntryNames(folder), Names{"a.dll"}) << row.name;
    }
}

TEST(ShellCopyFile, ReplacesTargetWithContentModeAndExactTime) {
    TempDir dir;
    const std::string source = dir.file("new.dll");
    const std::string target = dir.file("installed.dll");
    WriteFileBytes(source, std::string(300000, 'n'));
    WriteFileBytes(target, "old content");
    ASSERT_EQ(::chmod(source.c_str(), 0750), 0);
    SetModifiedTime(source, 1700000000, 123456789);

    ASSERT_TRUE(ShellCopyFile(nullptr, source, target));
    EXPECT_EQ(ReadFileBytes(target), std::string(300000, 'n'));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(ReadFileBytes(source), std::string(300000, 'n'));
    EXPECT_EQ(EntryNames(dir.path()), (Names{"new.dll", "installed.dll"}));

    // A new target and an empty source.
    WriteFileBytes(source, "");
    ASSERT_TRUE(ShellCopyFile(nullptr, source, dir.file("fresh.dll")));
    EXPECT_EQ(ReadFileBytes(dir.file("fresh.dll")), "");
}

TEST(ShellCopyFile, TargetInUseOrUnreachableStaysUntouched) {
    TempDir dir;
    const std::string source = dir.file("new.dll");
    const std::string target = dir.file("installed.dll");
    WriteFileBytes(source, "new");
    WriteFileBytes(target, "old");
    {
        HoldingChild child(target, HoldingChild::Hold::Reading);
        ASSERT_TRUE(child.ready());
        EXPECT_FALSE(ShellCopyFile(nullptr, source, target));
    }
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_FALSE(ShellCopyFile(nullptr, source, dir.file("no/such/dir/x.dll")));
    EXPECT_EQ(EntryNames(dir.path()), (Names{"new.dll", "installed.dll"}));
}

TEST(ShellCopyFile, TargetIsNeverSeenHalfWritten) {
    TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b"), target = dir.file("target");
    const std::string contentA(4 << 20, 'a'), contentB(3 << 20, 'b');
    WriteFileBytes(a, contentA);
    WriteFileBytes(b, contentB);
    ASSERT_TRUE(ShellCopyFile(nullptr, a, target));

    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        std::string buffer(8 << 20, '\0');
        while (!done) {
            const int fd = ::open(target.c_str(), O_RDONLY);
            if (fd < 0) {
                ++torn;  // the target must always exist
                continue;
            }
            std::size_t total = 0;
            for (ssize_t n; (n = ::read(fd, buffer.data() + total, buffer.size() - total)) > 0;) total += n;
            ::close(fd);
            const std::string_view seen(buffer.data(), total);
            if (seen != contentA && seen != contentB) ++torn;
            ++reads;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    int copies = 0;
    for (int attempt = 0; attempt < 2000 && copies < 20; ++attempt) {
        // While the reader holds the target open it is in use and the copy
        // refuses; the reader pauses between reads.
        if (ShellCopyFile(nullptr, copies % 2 ? a : b, target)) ++copies;
    }
    done = true;
    reader.join();
    EXPECT_EQ(copies, 20);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(EntryNames(dir.path()), (Names{"a", "b", "target"}));
}

// What an installed file inherits: the installation's owner (the existing
// target's, else the folder's) and no group or other write bit that the
// installation did not grant, whoever wrote the download. The queued copy of
// a replacement at the restart gets the same. Owners are checked as root only.
TEST(ShellCopyFile, InstalledFileTakesTheInstallationsOwnerAndNeverItsWritersWriteBits) {
    const bool root = ::geteuid() == 0;
    constexpr uid_t kSuite = 4321, kDownloader = 1234;
    const struct {
        const char* name;
        mode_t download, folder;
        int target;  // its mode, -1: no target yet
        mode_t expected;
    } rows[] = {
        {"world-writable download over 0644", 0666, 0755, 0644, 0644},
        {"world-writable program, new", 0777, 0755, -1, 0755},
        {"group write kept from the target", 0644, 0755, 0664, 0664},
        {"new file in a group-writable folder", 0664, 0775, -1, 0664},
        {"new file in a sticky world-writable folder", 0666, 01777, -1, 0644},
        {"read-only download gains its owner's write bit alone", 0444, 0775, 0444, 0644},
        {"read-only program, new", 0555, 0777, -1, 0755},
    };
    for (const bool queued : {false, true}) {
        for (const auto& row : rows) {
            const std::string what = std::string(row.name) + (queued ? " (queued)" : "");
            TempDir dir;
            const std::string suite = dir.file("suite");
            std::filesystem::create_directories(dir.file("update"));
            std::filesystem::create_directory(suite);
            const std::string source = dir.file("update/a.dll"), target = suite + "/a.dll";
            WriteFileBytes(source, "new");
            ASSERT_EQ(::chmod(source.c_str(), row.download), 0);
            SetModifiedTime(source, 1700000000, 5);
            if (row.target >= 0) {
                WriteFileBytes(target, "old");
                ASSERT_EQ(::chmod(target.c_str(), static_cast<mode_t>(row.target)), 0);
            }
            if (root) {
                ASSERT_EQ(::chown(source.c_str(), kDownloader, kDownloader), 0);
                ASSERT_EQ(::chown(suite.c_str(), kSuite, kSuite + 1), 0);
                if (row.target >= 0) {
                    ASSERT_EQ(::chown(target.c_str(), kSuite, kSuite + 2), 0);
                }
            }
            ASSERT_EQ(::chmod(suite.c_str(), row.folder), 0);

            std::string installed = target;
            if (queued) {
                ASSERT_FALSE(CopyToTemporaryBeside(source, target, installed)) << what;
                EXPECT_EQ(installed.rfind(target + kRestartTemporaryMark, 0), 0u) << installed;
                EXPECT_EQ(installed.size(), target.size() + 4 + 6) << installed;
                if (row.target >= 0) EXPECT_EQ(ReadFileBytes(target), "old") << what;
                else EXPECT_FALSE(std::filesystem::exists(target)) << what;
            } else {
                ASSERT_FALSE(CopyFileOver(source, target)) << what;
            }
            EXPECT_EQ(ReadFileBytes(installed), "new") << what;
            struct stat st {};
            ASSERT_EQ(::stat(installed.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, row.expected) << what;
            EXPECT_EQ(st.st_mtim.tv_sec, 1700000000) << what;
            if (root) {
                EXPECT_EQ(st.st_uid, kSuite) << what;
                EXPECT_EQ(st.st_gid, row.target >= 0 ? kSuite + 2 : kSuite + 1) << what;
            }
            ASSERT_EQ(::chmod(suite.c_str(), 0755), 0);
        }
    }
}

// A download swapped for a link to a file that its writer may not read is
// never read: the copy and the restart's copy both refuse it, and nothing is
// written or left.
TEST(ShellCopyFile, DownloadThatIsALinkIsNeverRead) {
    TempDir dir;
    const std::string secret = dir.file("secret"), link = dir.file("a.dll"), target = dir.file("installed.dll");
    WriteFileBytes(secret, "root only");
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(secret.c_str(), link.c_str()), 0);
    WriteFileBytes(target, "old");
    EXPECT_EQ(CopyFileOver(link, target), std::errc::too_many_symbolic_link_levels);
    std::string temporary = "unchanged";
    EXPECT_EQ(CopyToTemporaryBeside(link, target, temporary), std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(temporary, "");
    EXPECT_EQ(CopyToTemporaryBeside(dir.file("missing"), target, temporary),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(EntryNames(dir.path()), (Names{"secret", "a.dll", "installed.dll"}));
}

// The kernel road decides every path whose links are relative on its own: the
// walk is for absolute links only. A ".." after a missing name is refused
// there too.
TEST(CheckBeneath, TheKernelDecidesPathsWithoutAbsoluteLinks) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string base = dir.file("suite");
    fs::create_directories(base + "/sub/deep");
    fs::create_directories(dir.file("outside"));
    WriteFileBytes(base + "/file", "file");
    fs::create_symlink("sub", base + "/in");
    fs::create_symlink(fs::canonical(base).string() + "/sub", base + "/absIn");
    struct open_how how {};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH;
    const long probe = ::syscall(SYS_openat2, AT_FDCWD, ".", &how, sizeof how);
    if (probe < 0) GTEST_SKIP() << "no openat2 here: " << std::strerror(errno);
    ::close(static_cast<int>(probe));
    const struct {
        std::string path;
        int expected;
    } rows[] = {
        {"", 0},
        {"/", 0},
        {"/sub/deep", 0},
        {"/file", 0},
        {"/missing/new/name", 0},
        {"/in/deep/new", 0},
        {"/missing/../../x", EXDEV},
        {"/sub/missing/../../../outside/x", EXDEV},
        {"/missing/..", EXDEV},
        {"/file/x", ENOTDIR},
        {"/absIn/deep", EOPNOTSUPP},  // left to the walk
    };
    for (const auto& row : rows) {
        EXPECT_EQ(posix::CheckBeneath(base, base + row.path, posix::BeneathResolver::KernelAlone).value(),
                  row.expected)
            << row.path;
    }
}

// One layout of links beneath "suite" and beside it in "outside", resolved by
// the kernel and by the walk that serves kernels without openat2.
TEST(CheckBeneath, FollowsLinksOnlyWhileTheyStayBeneath) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string base = dir.file("suite");
    const std::string outside = dir.file("outside");
    fs::create_directories(base + "/sub/deep");
    fs::create_directories(outside);
    WriteFileBytes(base + "/sub/f", "f");
    WriteFileBytes(base + "/file", "file");
    WriteFileBytes(outside + "/secret", "secret");
    const std::string realBase = fs::canonical(base).string();
    for (const auto& [link, target] : std::initializer_list<std::pair<const char*, std::string>>{
             {"in", "sub"},
             {"absIn", realBase + "/sub"},
             {"inFile", "sub/f"},
             {"out", "../outside"},
             {"absOut", outside},
             {"outFile", "../outside/secret"},
             {"danglingOut", "../outside/missing"},
             {"sub/up", "../.."},
             {"chain", "in/../out"},
             {"absInThenUp", realBase + "/../outside"},
             {"magic", "/proc/self/cwd"},
             {"loop", "loop"},
         }) {
        fs::create_symlink(target, base + "/" + link);
    }
    const int outsideError = EXDEV;
    const struct {
        std::string path;  // below base
        int expected;      // errno, 0 when beneath
    } rows[] = {
        {"", 0},
        {"/", 0},
        {"/missing/new/name", 0},
        {"/sub/../sub/deep/new", 0},
        {"/in/deep/new", 0},
        {"/absIn/deep", 0},
        {"/inFile", 0},
        {"/file", 0},
        {"/out", outsideError},
        {"/out/new", outsideError},
        {"/absOut", outsideError},
        {"/outFile", outsideError},
        {"/danglingOut/new", outsideError},
        {"/sub/up/x", outsideError},
        {"/chain/secret", outsideError},
        {"/absInThenUp", outsideError},
        {"/magic", outsideError},
        {"/..", outsideError},
        {"/missing/../../x", outsideError},
        {"/loop/x", ELOOP},
        {"/file/x", ENOTDIR},
    };
    for (const auto resolver : {posix::BeneathResolver::Kernel, posix::BeneathResolver::Walk}) {
        for (const auto& row : rows) {
            EXPECT_EQ(posix::CheckBeneath(base, base + row.path, resolver).value(), row.expected)
                << row.path << (resolver == posix::BeneathResolver::Walk ? " (walk)" : "");
        }
        // A path that does not start with the base is not beneath it.
        EXPECT_EQ(posix::CheckBeneath(base + "/", outside + "/secret", resolver).value(), outsideError);
        EXPECT_EQ(posix::CheckBeneath(base + "/", base + "x/y", resolver).value(), outsideError);
    }
    EXPECT_FALSE(CheckBeneath(base + "/", base + "/in/f"));
    // An absolute link made with the path the base was given by.
    fs::create_symlink(base, dir.file("alias"));
    fs::create_symlink(dir.file("alias") + "/sub", base + "/absAlias");
    EXPECT_FALSE(CheckBeneath(dir.file("alias"), dir.file("alias") + "/absAlias/f"));
    EXPECT_EQ(CheckBeneath(dir.file("alias"), dir.file("alias") + "/absOut"), std::errc::cross_device_link);
}

TEST(CheckDownloadedFile, TakesOnlyARegularFileThatIsNoLink) {
    TempDir dir;
    WriteFileBytes(dir.file("plain"), "x");
    ASSERT_EQ(::symlink("plain", dir.file("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(CheckDownloadedFile(dir.file("plain")));
    EXPECT_EQ(CheckDownloadedFile(dir.file("link")), std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(CheckDownloadedFile(dir.file("fifo")), std::errc::invalid_argument);
    EXPECT_EQ(CheckDownloadedFile(dir.path()), std::errc::invalid_argument);
    EXPECT_EQ(CheckDownloadedFile(dir.file("missing")), std::errc::no_such_file_or_directory);
}

}  // namespace
}  // namespace ue
