#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "sysops/PendingRenames_posix.h"
#include "sysops/PendingRenames.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::EntryNames;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Names = std::set<std::string>;

// Points the store at `path` for the duration of a test.
struct ListFileEnv : test::ScopedEnv {
    explicit ListFileEnv(const std::string& path) : ScopedEnv("UPDATEEXE_PENDING_RENAMES_FILE", path) {}
};

const std::string kPair = "\\??\\/opt/app/update/X.so\0!\\??\\/opt/app/X.so\0"s;

TEST(PendingRenameStore, PathComesFromTheEnvironmentOrTheDefault) {
    if (::geteuid() == 0) {
        ListFileEnv env("");
        EXPECT_EQ(PendingRenamesFilePath(), "/var/lib/updateexe/PendingFileRenameOperations");
    }
    {
        ListFileEnv env("/somewhere/list");
        EXPECT_EQ(PendingRenamesFilePath(), "/somewhere/list");
    }
    // An ordinary user's list lies in that user's state folder.
    const std::optional<std::string> paths = test::RunUnprivileged([] {
        ::unsetenv("UPDATEEXE_PENDING_RENAMES_FILE");
        std::string out;
        for (const char* state : {"/x/state", "relative/state", ""}) {
            ::setenv("HOME", "/home/u", 1);
            ::setenv("XDG_STATE_HOME", state, 1);
            out += PendingRenamesFilePath() + "\n";
        }
        return out;
    });
    if (!paths) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*paths,
              "/x/state/updateexe/PendingFileRenameOperations\n"
              "/home/u/.local/state/updateexe/PendingFileRenameOperations\n"
              "/home/u/.local/state/updateexe/PendingFileRenameOperations\n");
}

TEST(PendingRenameStore, CreatesDirectoryAndWritesJustOurPair) {
    TempDir tmp;
    const std::string dir = tmp.file("state/updateexe");
    ListFileEnv env(dir + "/list");
    ReplaceFileAtRestart("/opt/app/update/X.so", "/opt/app/X.so");
    EXPECT_EQ(ReadFileBytes(dir + "/list"), kPair + '\0');
    EXPECT_EQ(EntryNames(dir), (Names{"list", "list.lock"}));  // no temp left
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/list.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 022, 0u);
}

TEST(PendingRenameStore, RewritesByReplacingTheFileAndKeepsItsMode) {
    TempDir tmp;
    const std::string list = tmp.file("list");
    const std::string others = "\\??\\/var/a.tmp\0\0\\??\\/b.new\0!\\??\\/b\0"s;
    WriteFileBytes(list, others);  // without its closing NUL
    ASSERT_EQ(::chmod(list.c_str(), 0600), 0);
    int before = ::open(list.c_str(), O_RDONLY);
    ASSERT_GE(before, 0);

    ListFileEnv env(list);
    ReplaceFileAtRestart("/opt/app/update/X.so", "/opt/app/X.so");

    EXPECT_EQ(ReadFileBytes(list), others + kPair + '\0');
    // The old file was replaced whole, not written over in place.
    char old[256];
    EXPECT_EQ(::pread(before, old, sizeof old, 0), static_cast<ssize_t>(others.size()));
    ::close(before);
    struct stat st {};
    ASSERT_EQ(::stat(list.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(EntryNames(tmp.path()), (Names{"list", "list.lock"}));
}

// Every failure is reported with its cause and leaves the list and its folder
// as they were; the caller then knows the file was not queued. The rows that
// need an ordinary user's rights run as one. A list, lock or folder that
// another user could have written is refused: the renamer would refuse it too.
TEST(PendingRenameStore, FailuresAreReportedAndLeaveTheListAlone) {
    const std::string others = "\\??\\/b.new\0!\\??\\/b\0\0"s;
    struct Case {
        const char* name;
        std::string list;  // under the row's folder
        std::error_code cause;
        bool asUser;
    };
    using E = PendingRenamesError;
    auto sys = [](std::errc e) { return std::make_error_code(e); };
    const Case cases[] = {
        // A directory and a FIFO stand for lists we cannot read (even as root).
        {"list is a directory", "list", sys(std::errc::is_a_directory), false},
        {"list is a fifo", "list", sys(std::errc::invalid_argument), false},
        {"folder cannot be created", "file/sub/list", sys(std::errc::not_a_directory), false},
        {"lock is a link", "list", sys(std::errc::too_many_symbolic_link_levels), false},
        {"lock others may write", "list", E::LockUnsafe, false},
        {"folder others may write", "list", E::FolderUnsafe, false},
        {"group-writable list", "list", E::ListUnsafe, false},
        {"list of another user", "list", E::ListUnsafe, false},
        {"list is a link", "list", E::ListUnsafe, false},
        {"list unreadable", "list", sys(std::errc::permission_denied), true},
        {"folder not writable", "list", sys(std::errc::permission_denied), true},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        const std::string name = c.name;
        const std::string list = tmp.file(c.list);
        if (name == "list is a directory") {
            fs::create_directory(list);
            WriteFileBytes(list + "/inside", "x");
        }
        if (name == "list is a fifo") {
            ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0);
        }
        if (name == "folder cannot be created") WriteFileBytes(tmp.file("file"), "x");
        if (name == "lock is a link") {
            WriteFileBytes(list, others);
            fs::create_symlink("missing/list.lock", list + ".lock");
        }
        if (name == "lock others may write" || name == "folder others may write" ||
            name == "group-writable list" || name == "list of another user") {
            WriteFileBytes(list, others);
        }
        if (name == "lock others may write") {
            WriteFileBytes(list + ".lock", "");
            ASSERT_EQ(::chmod((list + ".lock").c_str(), 0666), 0);
        }
        if (name == "folder others may write") {
            ASSERT_EQ(::chmod(tmp.path().c_str(), 0777), 0);
        }
        if (name == "group-writable list") {
            ASSERT_EQ(::chmod(list.c_str(), 0664), 0);
        }
        if (name == "list is a link") {
            // To a list of ours that the renamer would take: the link is what
            // makes it unsafe, as its target may change.
            WriteFileBytes(tmp.file("real"), others);
            ASSERT_EQ(::chmod(tmp.file("real").c_str(), 0600), 0);
            fs::create_symlink("real", list);
        }
        if (name == "list of another user") {
            if (::geteuid() != 0) continue;  // only root can give it away
            test::HandToUnprivileged(list);
        }
        if (name == "list unreadable" || name == "folder not writable") {
            WriteFileBytes(list, others);
            test::HandToUnprivileged(list);
            ASSERT_EQ(::chmod(list.c_str(), name == "list unreadable" ? 0200 : 0644), 0);
            if (name == "list unreadable") test::HandToUnprivileged(tmp.path());
            else ASSERT_EQ(::chmod(tmp.path().c_str(), 0555), 0);
        }
        Names before = EntryNames(tmp.path());

        ListFileEnv env(list);
        auto queue = [] {
            const std::error_code ec = QueueFileReplacement("/opt/app/update/X.so", "/opt/app/X.so");
            return ec ? ec.message() : std::string("queued");
        };
        std::optional<std::string> outcome = c.asUser ? test::RunUnprivileged(queue) : queue();
        if (!outcome) {
            std::cerr << c.name << ": skipped, cannot run as an ordinary user\n";
            continue;
        }
        EXPECT_EQ(*outcome, c.cause.message()) << c.name;

        ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
        Names after = EntryNames(tmp.path());
        after.erase("list.lock");  // the lock file may stay; it holds nothing
        before.erase("list.lock");
        EXPECT_EQ(after, before) << c.name;
        if (name == "list is a directory") {
            EXPECT_EQ(ReadFileBytes(list + "/inside"), "x");
        }
        if (fs::is_regular_file(list)) {
            ASSERT_EQ(::chmod(list.c_str(), 0644), 0);
            EXPECT_EQ(ReadFileBytes(list), others) << c.name;
        }
    }
}

// Another process holding the lock (any user could, with a readable lock)
// makes the queueing fail after the bound instead of hanging the run.
TEST(PendingRenameStore, LockHeldElsewhereFailsAfterTheBound) {
    using namespace std::chrono;
    TempDir tmp;
    const std::string list = tmp.file("list");
    const std::string others = "\\??\\/b.new\0!\\??\\/b\0\0"s;
    WriteFileBytes(list, others);
    ListFileEnv env(list);
    const int holder = ::open((list + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    const milliseconds previous = SetPendingRenamesLockWait(milliseconds(200));
    const auto start = steady_clock::now();
    const std::error_code ec = QueueFileReplacement("/opt/app/update/X.so", "/opt/app/X.so");
    const auto waited = steady_clock::now() - start;
    EXPECT_EQ(ec, PendingRenamesError::LockBusy) << ec.message();
    EXPECT_GE(waited, milliseconds(200));
    EXPECT_LT(waited, seconds(5));
    EXPECT_EQ(ReadFileBytes(list), others);

    ::close(holder);
    EXPECT_FALSE(QueueFileReplacement("/opt/app/update/X.so", "/opt/app/X.so"));
    SetPendingRenamesLockWait(previous);
    EXPECT_EQ(ReadFileBytes(list), others.substr(0, others.size() - 1) + kPair + '\0');
}

TEST(PendingRenameStore, ConcurrentWritersKeepEachOthersPairs) {
    TempDir tmp;
    ListFileEnv env(tmp.file("list"));
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([w] {
            for (int i = 0; i < 20; ++i) {
                std::string name = std::to_string(w) + "-" + std::to_string(i);
                ReplaceFileAtRestart("/u/" + name, "/t/" + name);
            }
        });
    }
    for (auto& t : writers) t.join();
    PendingList list = DecodePendingRenames(ReadFileBytes(tmp.file("list")));
    EXPECT_EQ(list.pairs.size(), 80u);
    EXPECT_FALSE(list.dangling);
}

}  // namespace
}  // namespace ue
