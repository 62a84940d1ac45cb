// The boot-time renamer, run as a child process on a temporary directory.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "sysops/PendingRenames.h"
#include "tests/support/TempDir.h"

extern char** environ;

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

// Runs the renamer with `args`; `listEnv` (when given) is its
// UPDATEEXE_PENDING_RENAMES_FILE.
Outcome RunRenamer(const TempDir& tmp, const std::vector<std::string>& args,
                   const std::string& listEnv = "") {
#ifndef UE_BOOT_RENAMES_PROGRAM
    (void)tmp, (void)args, (void)listEnv;
    ADD_FAILURE() << "the boot renamer is not part of this build";
    return {};
#else
    const std::string program = UE_BOOT_RENAMES_PROGRAM;
    const std::string errFile = tmp.file("renamer.stderr");
    std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
    // Never the machine's list, even when no list is named.
    env.push_back("UPDATEEXE_PENDING_RENAMES_FILE=" + (listEnv.empty() ? tmp.file("none") : listEnv));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Outcome out;
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return out;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.errors = ReadFileBytes(errFile);
    fs::remove(errFile);
    return out;
#endif
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

// A directory of its own in /dev/shm, which is a different file system from
// the temporary directory on most machines.
class ShmDir {
public:
    ShmDir() {
        char name[] = "/dev/shm/ue-test-XXXXXX";
        if (::mkdtemp(name)) path_ = name;
    }
    ~ShmDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(PendingRenameBoot, MovesAcrossFileSystemsByCopyThenRename) {
    TempDir tmp;
    ShmDir shm;
    struct stat a {}, b {};
    if (shm.path().empty() || ::stat(tmp.path().c_str(), &a) != 0 ||
        ::stat(shm.path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at hand";

    const std::string source = shm.path() + "/X.so";
    const std::string kept = shm.path() + "/Y.so";
    WriteFileBytes(source, "new contents");
    WriteFileBytes(kept, "new y");
    WriteFileBytes(shm.path() + "/Z.so", "new z");
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    WriteFileBytes(tmp.file("X.so"), "old contents");
    WriteFileBytes(tmp.file("Y.so"), "old y");

    const std::string list = tmp.file("list");
    WriteFileBytes(list, EncodePendingRenames({{Nt(source), "!" + Nt(tmp.file("X.so"))},
                                               {Nt(kept), Nt(tmp.file("Y.so"))},
                                               {Nt(shm.path() + "/Z.so"), Nt(tmp.file("Z.so"))}}));
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
    EXPECT_FALSE(fs::exists(shm.path() + "/Z.so"));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(tmp.path())) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"X.so", "Y.so", "Z.so", "list.lock"}));  // no temp files
}

}  // namespace
}  // namespace ue
