#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
    {
        ListFileEnv env("");
        EXPECT_EQ(PendingRenamesFilePath(), "/var/lib/updateexe/PendingFileRenameOperations");
    }
    ListFileEnv env("/somewhere/list");
    EXPECT_EQ(PendingRenamesFilePath(), "/somewhere/list");
}

TEST(PendingRenameStore, CreatesDirectoryAndWritesJustOurPair) {
    TempDir tmp;
    const std::string dir = tmp.file("state/updateexe");
    ListFileEnv env(dir + "/list");
    ReplaceFileAtRestart("/opt/app/update/X.so", "/opt/app/X.so");
    EXPECT_EQ(ReadFileBytes(dir + "/list"), kPair + '\0');
    EXPECT_EQ(EntryNames(dir), (Names{"list", "list.lock"}));  // no temp left
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
// need an ordinary user's rights run as one.
TEST(PendingRenameStore, FailuresAreReportedAndLeaveTheListAlone) {
    const std::string others = "\\??\\/b.new\0!\\??\\/b\0\0"s;
    struct Case {
        const char* name;
        std::string list;  // under the row's folder
        std::errc cause;
        bool asUser;
    };
    const Case cases[] = {
        // A directory and a FIFO stand for lists we cannot read (even as root).
        {"list is a directory", "list", std::errc::is_a_directory, false},
        {"list is a fifo", "list", std::errc::invalid_argument, false},
        {"folder cannot be created", "file/sub/list", std::errc::not_a_directory, false},
        {"lock cannot be taken", "list", std::errc::no_such_file_or_directory, false},
        {"list unreadable", "list", std::errc::permission_denied, true},
        {"folder not writable", "list", std::errc::permission_denied, true},
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
        if (name == "lock cannot be taken") {
            WriteFileBytes(list, others);
            fs::create_symlink("missing/list.lock", list + ".lock");
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
        EXPECT_EQ(*outcome, std::make_error_code(c.cause).message()) << c.name;

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
