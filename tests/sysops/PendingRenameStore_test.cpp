#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
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

TEST(PendingRenameStore, ListThatCannotBeReadWholeIsLeftAlone) {
    TempDir tmp;
    // A directory and a FIFO stand for lists we cannot read (even as root).
    const std::string dirList = tmp.file("dir");
    fs::create_directory(dirList);
    WriteFileBytes(dirList + "/inside", "x");
    const std::string fifoList = tmp.file("fifo");
    ASSERT_EQ(::mkfifo(fifoList.c_str(), 0600), 0);

    for (const std::string& list : {dirList, fifoList}) {
        ListFileEnv env(list);
        ReplaceFileAtRestart("/opt/app/update/X.so", "/opt/app/X.so");
        EXPECT_FALSE(ReadPendingRenamesFile(list));
    }
    EXPECT_TRUE(fs::is_directory(dirList));
    EXPECT_EQ(ReadFileBytes(dirList + "/inside"), "x");
    EXPECT_TRUE(fs::is_fifo(fifoList));
    EXPECT_EQ(EntryNames(tmp.path()), (Names{"dir", "dir.lock", "fifo", "fifo.lock"}));
}

TEST(PendingRenameStore, DirectoryThatCannotBeCreatedMeansNothingHappens) {
    TempDir tmp;
    WriteFileBytes(tmp.file("file"), "x");
    ListFileEnv env(tmp.file("file/sub/list"));
    ReplaceFileAtRestart("/opt/app/update/X.so", "/opt/app/X.so");
    EXPECT_EQ(EntryNames(tmp.path()), (Names{"file"}));
    EXPECT_EQ(ReadFileBytes(tmp.file("file")), "x");
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
