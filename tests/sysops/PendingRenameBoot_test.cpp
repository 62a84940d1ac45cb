// The boot-time renamer, run as a child process on a temporary directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sysops/PendingRenames.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

struct Outcome {
    int status = -1;
    std::string errors;  // what it wrote on stderr
    int lines() const { return static_cast<int>(std::count(errors.begin(), errors.end(), '\n')); }
};

// Runs the renamer with `args` and, as its list, `listEnv` or else a file
// that does not exist: never the machine's list.
Outcome RunRenamer(const TempDir& tmp, const std::vector<std::string>& args,
                   const std::string& listEnv = "") {
    const std::string errFile = tmp.file("renamer.stderr");
    std::string list = "UPDATEEXE_PENDING_RENAMES_FILE=" + (listEnv.empty() ? tmp.file("none") : listEnv);
    char* envp[] = {const_cast<char*>("PATH=/usr/bin:/bin"), list.data(), nullptr};
    std::vector<char*> argv{const_cast<char*>(UE_BOOT_RENAMES_PROGRAM)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    Outcome out{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(errFile)};
    fs::remove(errFile);
    return out;
}

std::string Nt(const std::string& path) { return "\\??\\" + path; }

TEST(PendingRenameBoot, CarriesOutTheListInOrderAndClearsIt) {
    TempDir tmp;
    auto f = [&](const std::string& name) { return tmp.file(name); };
    WriteFileBytes(f("a"), "old a");
    WriteFileBytes(f("a.new"), "new a");
    WriteFileBytes(f("b"), "old b");
    WriteFileBytes(f("b.new"), "new b");
    WriteFileBytes(f("c.tmp"), "c");
    fs::create_directory(f("full"));
    WriteFileBytes(f("full/x"), "x");
    WriteFileBytes(f("x"), "first");
    WriteFileBytes(f("n.new"), "n");

    const std::vector<RenamePair> pairs = {
        {Nt(f("a.new")), "!" + Nt(f("a"))},        // replaces
        {Nt(f("b.new")), Nt(f("b"))},              // target exists, kept
        {Nt(f("c.tmp")), ""},                      // deletes
        {Nt(f("full")), ""},                       // only empty directories go
        {Nt(f("missing.new")), "!" + Nt(f("m"))},  // missing source
        {Nt(f("x")), "!" + Nt(f("y"))},            // order: x -> y, then y -> z
        {Nt(f("y")), "!" + Nt(f("z"))},
        {f("n.new"), f("n")},                      // "\??\" is optional here
    };
    const std::string list = f("list");
    WriteFileBytes(list, EncodePendingRenames(pairs));

    Outcome out = RunRenamer(tmp, {list});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.lines(), 3) << out.errors;
    EXPECT_NE(out.errors.find("b.new"), std::string::npos) << out.errors;
    EXPECT_NE(out.errors.find("target exists"), std::string::npos) << out.errors;
    EXPECT_NE(out.errors.find("missing.new"), std::string::npos) << out.errors;
    EXPECT_NE(out.errors.find("full"), std::string::npos) << out.errors;

    EXPECT_EQ(ReadFileBytes(f("a")), "new a");
    EXPECT_FALSE(fs::exists(f("a.new")));
    EXPECT_EQ(ReadFileBytes(f("b")), "old b");
    EXPECT_EQ(ReadFileBytes(f("b.new")), "new b");
    EXPECT_FALSE(fs::exists(f("c.tmp")));
    EXPECT_EQ(ReadFileBytes(f("full/x")), "x");
    EXPECT_FALSE(fs::exists(f("m")));
    EXPECT_EQ(ReadFileBytes(f("z")), "first");
    EXPECT_FALSE(fs::exists(f("x")));
    EXPECT_FALSE(fs::exists(f("y")));
    EXPECT_EQ(ReadFileBytes(f("n")), "n");
    EXPECT_FALSE(fs::exists(list));  // cleared, failed entries included
}

TEST(PendingRenameBoot, QuietSuccessWithTheListFromTheEnvironment) {
    TempDir tmp;
    WriteFileBytes(tmp.file("X.so"), "old");
    fs::create_directory(tmp.file("update"));
    WriteFileBytes(tmp.file("update/X.so"), "new");
    const std::string list = tmp.file("state/list");
    fs::create_directory(tmp.file("state"));
    WriteFileBytes(list, AppendPendingRename("", tmp.file("update/X.so"), tmp.file("X.so")));

    Outcome out = RunRenamer(tmp, {}, list);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.errors, "");
    EXPECT_EQ(ReadFileBytes(tmp.file("X.so")), "new");
    EXPECT_FALSE(fs::exists(list));

    // Nothing queued: nothing to do.
    out = RunRenamer(tmp, {}, list);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.errors, "");
}

TEST(PendingRenameBoot, MalformedEntriesNeverDeleteAnything) {
    TempDir tmp;
    for (const char* name : {"lone", "bang", "rel"}) WriteFileBytes(tmp.file(name), name);
    const std::string list = tmp.file("list");
    WriteFileBytes(list, Nt(tmp.file("bang")) + '\0' + "!" + '\0' +        // "!" and nothing
                             Nt(tmp.file("rel")) + '\0' + "!rel2" + '\0' +  // relative target
                             Nt(tmp.file("lone")) + '\0');                  // no target at all

    Outcome out = RunRenamer(tmp, {list});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.lines(), 3) << out.errors;
    for (const char* name : {"lone", "bang", "rel"}) EXPECT_EQ(ReadFileBytes(tmp.file(name)), name);
    EXPECT_FALSE(fs::exists(list));
}

TEST(PendingRenameBoot, ListThatCannotBeReadIsReportedAndKept) {
    TempDir tmp;
    fs::create_directory(tmp.file("list"));
    Outcome out = RunRenamer(tmp, {tmp.file("list")});
    EXPECT_EQ(out.status, 1);
    EXPECT_NE(out.errors.find("cannot read"), std::string::npos) << out.errors;
    EXPECT_TRUE(fs::is_directory(tmp.file("list")));
}

TEST(PendingRenameBoot, MovesAcrossFileSystemsByCopyThenRename) {
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    TempDir tmp;
    std::optional<TempDir> inShm;  // a fresh directory of its own, removed with it
    {
        test::ScopedEnv tmpdir("TMPDIR", "/dev/shm");
        inShm.emplace();
    }
    const std::string shm = inShm->path();
    struct stat a {}, b {};
    if (::stat(tmp.path().c_str(), &a) != 0 || ::stat(shm.c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at hand";

    const std::string source = shm + "/X.so";
    const std::string kept = shm + "/Y.so";
    WriteFileBytes(source, "new contents");
    WriteFileBytes(kept, "new y");
    WriteFileBytes(shm + "/Z.so", "new z");
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    WriteFileBytes(tmp.file("X.so"), "old contents");
    WriteFileBytes(tmp.file("Y.so"), "old y");

    const std::string list = tmp.file("list");
    WriteFileBytes(list, EncodePendingRenames({{Nt(source), "!" + Nt(tmp.file("X.so"))},
                                               {Nt(kept), Nt(tmp.file("Y.so"))},
                                               {Nt(shm + "/Z.so"), Nt(tmp.file("Z.so"))}}));
    Outcome out = RunRenamer(tmp, {list});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.lines(), 1) << out.errors;

    EXPECT_EQ(ReadFileBytes(tmp.file("X.so")), "new contents");
    EXPECT_FALSE(fs::exists(source));
    struct stat st {};
    ASSERT_EQ(::stat(tmp.file("X.so").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    // Without "!" the existing target stays, and so does the source.
    EXPECT_EQ(ReadFileBytes(tmp.file("Y.so")), "old y");
    EXPECT_EQ(ReadFileBytes(kept), "new y");
    EXPECT_EQ(ReadFileBytes(tmp.file("Z.so")), "new z");
    EXPECT_FALSE(fs::exists(shm + "/Z.so"));
    EXPECT_EQ(test::EntryNames(tmp.path()),
              (std::set<std::string>{"X.so", "Y.so", "Z.so", "list.lock"}));  // no temp files
}

}  // namespace
}  // namespace ue
