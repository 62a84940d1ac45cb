// The boot-time renamer, run as a child process on a temporary directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sysops/PendingRenames.h"
#include "sysops/PendingRenames_posix.h"
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

// Runs the renamer (the built one unless `program` names a copy) with `args`
// and the environment `env`; its exit status (-1 when it did not exit, 127
// when it could not be started) and its stderr go to `out`. Makes no
// assertion, so that a child of RunUnprivileged may call it too.
void RunProgram(const std::string& errFile, const std::vector<std::string>& args,
                const std::vector<std::string>& env, Outcome& out,
                const std::string& program = UE_BOOT_RENAMES_PROGRAM) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::error_code ec;
    out.errors.clear();
    if (fs::exists(errFile, ec)) out.errors = ReadFileBytes(errFile);
    fs::remove(errFile, ec);
}

// Runs the renamer with `args` and, as its list, `listEnv` or else a file
// that does not exist: never the machine's list.
Outcome RunRenamer(const TempDir& tmp, const std::vector<std::string>& args,
                   const std::string& listEnv = "", const std::string& extraEnv = "") {
    Outcome out;
    std::vector<std::string> env{
        "PATH=/usr/bin:/bin",
        "UPDATEEXE_PENDING_RENAMES_FILE=" + (listEnv.empty() ? tmp.file("none") : listEnv)};
    if (!extraEnv.empty()) env.push_back(extraEnv);
    RunProgram(tmp.file("renamer.stderr"), args, env, out);
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

// A crash (or the unit's timeout) after any entry, then the next start: each
// entry is carried out exactly once. Run twice, "A -> B" after "C -> A" would
// move C's content to B; a deletion run twice would delete what a later entry
// put there. A progress file left by a list removed by hand skips nothing of
// the next list.
TEST(PendingRenameBoot, CrashAfterAnyEntryNeitherLosesNorRepeatsOne) {
    TempDir tmp;
    auto f = [&](const std::string& name) { return tmp.file(name); };
    const std::vector<RenamePair> pairs = {
        {Nt(f("A")), "!" + Nt(f("B"))}, {Nt(f("C")), "!" + Nt(f("A"))}, {Nt(f("D")), ""},
        {Nt(f("E")), "!" + Nt(f("D"))}, {Nt(f("F")), Nt(f("G"))},
    };
    const std::string list = f("list");
    for (std::size_t crash = 1; crash <= pairs.size(); ++crash) {
        SCOPED_TRACE("crash after entry " + std::to_string(crash));
        for (const char* name : {"A", "C", "D", "E", "F"}) WriteFileBytes(f(name), name);
        fs::remove(f("B"));
        fs::remove(f("G"));
        WriteFileBytes(list, EncodePendingRenames(pairs));
        Outcome out = RunRenamer(tmp, {list}, "",
                                 "UPDATEEXE_RENAMER_TEST_CRASH_AFTER=" + std::to_string(crash));
        ASSERT_EQ(out.status, 3) << out.errors;
        out = RunRenamer(tmp, {list});
        EXPECT_EQ(out.status, 0) << out.errors;
        EXPECT_EQ(out.errors, "");
        EXPECT_EQ(ReadFileBytes(f("B")), "A");
        EXPECT_EQ(ReadFileBytes(f("A")), "C");
        EXPECT_EQ(ReadFileBytes(f("D")), "E");
        EXPECT_EQ(ReadFileBytes(f("G")), "F");
        for (const char* gone : {"C", "E", "F"}) EXPECT_FALSE(fs::exists(f(gone))) << gone;
        EXPECT_FALSE(fs::exists(list));
        EXPECT_FALSE(fs::exists(list + ".progress"));
    }

    // A crash, then the list removed by hand: the next list is carried out whole.
    WriteFileBytes(f("X"), "X");
    const std::vector<RenamePair> one = {{Nt(f("X")), "!" + Nt(f("Y"))}};
    WriteFileBytes(list, EncodePendingRenames(one));
    ASSERT_EQ(RunRenamer(tmp, {list}, "", "UPDATEEXE_RENAMER_TEST_CRASH_AFTER=1").status, 3);
    fs::remove(list);
    EXPECT_EQ(RunRenamer(tmp, {list}).status, 0);
    WriteFileBytes(f("X"), "X2");
    WriteFileBytes(list, EncodePendingRenames(one));
    EXPECT_EQ(RunRenamer(tmp, {list}).status, 0);
    EXPECT_EQ(ReadFileBytes(f("Y")), "X2");
}

// 200,000 entries end in bounded time: a list rewritten after each entry took
// ten minutes for its first 12,403. Entries of missing files do no file work
// of their own, so this measures the renamer's cost per entry.
TEST(PendingRenameBoot, LongListEndsInBoundedTime) {
    TempDir tmp;
    std::vector<RenamePair> pairs;
    for (int i = 0; i < 200000; ++i) pairs.push_back({Nt(tmp.file("gone" + std::to_string(i))), ""});
    WriteFileBytes(tmp.file("last"), "last");
    pairs.push_back({Nt(tmp.file("last")), "!" + Nt(tmp.file("done"))});
    const std::string list = tmp.file("list");
    WriteFileBytes(list, EncodePendingRenames(pairs));
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = RunRenamer(tmp, {list});
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "200,001 entries in " << seconds << " s\n";
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.lines(), 200000);
    EXPECT_EQ(ReadFileBytes(tmp.file("done")), "last");
    EXPECT_FALSE(fs::exists(list));
    EXPECT_LT(seconds, 120.0);  // a loaded or sanitized build too; the old cost was hours
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

// The renamer acts with the rights of the user it runs as (root at boot), so
// it carries out only a list that no one else could have written, and only
// entries that no link leads elsewhere. Each row spoils one thing of a list
// that replaces app/X.
TEST(PendingRenameBoot, RefusesWhatAnotherUserCouldHaveWritten) {
    struct Case {
        const char* name;
        const char* report;  // in what the renamer writes; "" for silence
    };
    const Case cases[] = {
        {"normal", ""},
        {"list of another user", "owned by user 65534"},
        {"group-writable list", "its group or other users may write it"},
        {"world-writable lock", "cannot take the lock"},
        {"folder others may write", "cannot take the lock"},
        {"entry through a linked folder", "runs through a symbolic link"},
        {"source that is a link", "source is a symbolic link"},
    };
    for (const Case& c : cases) {
        const std::string name = c.name;
        if (name == "list of another user" && ::geteuid() != 0) {
            std::cerr << c.name << ": skipped, only root can give a file away\n";
            continue;
        }
        TempDir tmp;
        auto f = [&](const std::string& n) { return tmp.file(n); };
        fs::create_directories(f("app/update"));
        fs::create_directories(f("outside"));
        fs::create_directory(f("state"));
        ASSERT_EQ(::chmod(f("state").c_str(), 0700), 0);
        WriteFileBytes(f("app/X"), "old");
        WriteFileBytes(f("app/update/X"), "new");
        WriteFileBytes(f("app/update/Y"), "new y");
        WriteFileBytes(f("outside/Y"), "outside y");
        WriteFileBytes(f("outside/Z"), "outside z");
        fs::create_directory_symlink(f("outside"), f("app/lib"));
        std::vector<RenamePair> pairs{{Nt(f("app/update/X")), "!" + Nt(f("app/X"))}};
        if (name == "entry through a linked folder") {
            pairs.push_back({Nt(f("app/update/Y")), "!" + Nt(f("app/lib/Y"))});
            pairs.push_back({Nt(f("app/lib/Z")), ""});
        }
        if (name == "source that is a link") {
            // Moved into place, it would lead wherever its writer chose.
            fs::create_symlink(f("outside/Z"), f("app/update/L"));
            pairs.push_back({Nt(f("app/update/L")), "!" + Nt(f("app/L"))});
        }
        const std::string list = f("state/list");
        const std::string bytes = EncodePendingRenames(pairs);
        WriteFileBytes(list, bytes);
        ASSERT_EQ(::chmod(list.c_str(), 0600), 0);
        if (name == "list of another user") test::HandToUnprivileged(list);
        if (name == "group-writable list") {
            ASSERT_EQ(::chmod(list.c_str(), 0620), 0);
        }
        if (name == "world-writable lock") {
            WriteFileBytes(list + ".lock", "");
            ASSERT_EQ(::chmod((list + ".lock").c_str(), 0666), 0);
        }
        if (name == "folder others may write") {
            ASSERT_EQ(::chmod(f("state").c_str(), 0777), 0);
        }

        const Outcome out = RunRenamer(tmp, {list});
        EXPECT_NE(out.errors.find(c.report), std::string::npos) << c.name << ": " << out.errors;
        const bool refused =
            name != "normal" && name != "entry through a linked folder" && name != "source that is a link";
        if (refused) {
            EXPECT_EQ(out.status, 1) << c.name;
            EXPECT_EQ(out.lines(), 1) << c.name << ": " << out.errors;
            EXPECT_EQ(ReadFileBytes(list), bytes) << c.name;
            EXPECT_EQ(ReadFileBytes(f("app/X")), "old") << c.name;
            continue;
        }
        EXPECT_EQ(ReadFileBytes(f("app/X")), "new") << c.name;
        EXPECT_FALSE(fs::exists(list)) << c.name;
        if (name == "normal") {
            EXPECT_EQ(out.status, 0);
            EXPECT_EQ(out.errors, "");
        } else if (name == "source that is a link") {
            EXPECT_EQ(out.status, 1);
            EXPECT_EQ(out.lines(), 1) << out.errors;
            EXPECT_FALSE(fs::exists(fs::symlink_status(f("app/L"))));
            EXPECT_TRUE(fs::is_symlink(f("app/update/L")));
            EXPECT_EQ(ReadFileBytes(f("outside/Z")), "outside z");
        } else {
            // Both entries through the link are skipped; nothing beyond it changed.
            EXPECT_EQ(out.status, 1);
            EXPECT_EQ(out.lines(), 2) << out.errors;
            EXPECT_EQ(ReadFileBytes(f("outside/Y")), "outside y");
            EXPECT_EQ(ReadFileBytes(f("outside/Z")), "outside z");
            EXPECT_EQ(ReadFileBytes(f("app/update/Y")), "new y");
        }
    }
}

// An ordinary user's UpdateExe queues into that user's state folder, and the
// renamer, started as that user without arguments (as the user unit starts
// it), finds the list by the same rule and carries it out.
TEST(PendingRenameBoot, UserListIsCarriedOutByTheRenamerAsThatUser) {
    TempDir tmp;
    // The build folder may lie where that user cannot enter (a clone in a
    // private folder): the user runs a copy from the test's own folder.
    const std::string renamer = tmp.file("updateexe-boot-renames");
    fs::copy_file(UE_BOOT_RENAMES_PROGRAM, renamer);
    ASSERT_EQ(::chmod(renamer.c_str(), 0755), 0);
    test::HandToUnprivileged(tmp.path());
    const std::string root = tmp.path();
    const std::optional<std::string> outcome = test::RunUnprivileged([&root, &renamer] {
        const std::string state = root + "/state";
        ::unsetenv("UPDATEEXE_PENDING_RENAMES_FILE");
        ::setenv("HOME", (root + "/home").c_str(), 1);
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        std::filesystem::create_directories(root + "/app/update");
        WriteFileBytes(root + "/app/X", "old");
        WriteFileBytes(root + "/app/update/X", "new");
        const std::error_code ec = QueueFileReplacement(root + "/app/update/X", root + "/app/X");
        if (ec) return "queue: " + ec.message();
        const std::string list = state + "/updateexe/PendingFileRenameOperations";
        struct stat st {};
        if (::stat((state + "/updateexe").c_str(), &st) != 0 || (st.st_mode & 07777) != 0700)
            return std::string("the list's folder is not 0700");
        if (!std::filesystem::exists(list)) return std::string("no list at ") + list;
        Outcome out;
        RunProgram(root + "/renamer.stderr", {},
                   {"PATH=/usr/bin:/bin", "HOME=" + root + "/home", "XDG_STATE_HOME=" + state}, out,
                   renamer);
        return "status " + std::to_string(out.status) + " [" + out.errors + "] X=" +
               ReadFileBytes(root + "/app/X") + (std::filesystem::exists(list) ? " list kept" : "");
    });
    if (!outcome) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*outcome, "status 0 [] X=new");
    if (::geteuid() == 0) {
        struct stat st {};
        ASSERT_EQ(::stat(tmp.file("app/X").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, test::kUnprivilegedId);
    }
}

// The warning of the restart question on a machine laid out under a
// temporary root: said while the unit is missing, names a missing program,
// or is not enabled; silent once enabled, wherever systemd reads it from.
TEST(PendingRenameBoot, RestartWarningSaysWhyTheListWouldStay) {
    TempDir tmp;
    const std::string root = tmp.file("root");
    auto put = [&](const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(root + path).parent_path());
        WriteFileBytes(root + path, bytes);
    };
    const std::string renamer = "/usr/libexec/updateexe-boot-renames";
    auto unitText = [](const std::string& program) {
        return "[Service]\nType=oneshot\nExecStart=" + program + "\n";
    };
    struct Row {
        bool system;
        const char* unitDir;
        const char* wantsDir;  // "" for not enabled
        bool program;
        const char* said;      // "" for no warning
    };
    const std::string home = "/home/u/.config";
    const Row rows[] = {
        {true, "", "", false, "updateexe-boot-renames.service, which carries them out, is not installed"},
        {true, "/usr/lib/systemd/system", "", false, "the program \"/usr/libexec/updateexe-boot-renames\""},
        {true, "/usr/lib/systemd/system", "", true, "is not enabled (systemctl enable updateexe-boot-renames"},
        {true, "/lib/systemd/system", "/etc/systemd/system", true, ""},
        {true, "/etc/systemd/system", "/etc/systemd/system", true, ""},
        {false, "", "", false, "updateexe-user-renames.service, which carries them out, is not installed"},
        {false, "/usr/local/lib/systemd/user", "", true, "(systemctl --global enable updateexe-user-renames"},
        {false, "/usr/local/lib/systemd/user", "/etc/systemd/user", true, ""},
        {false, "/home/u/.config/systemd/user", "/home/u/.config/systemd/user", true, ""},
    };
    for (const Row& row : rows) {
        fs::remove_all(root);
        fs::create_directories(root);
        const std::string unit =
            row.system ? "updateexe-boot-renames.service" : "updateexe-user-renames.service";
        if (*row.unitDir) put(std::string(row.unitDir) + "/" + unit, unitText(renamer));
        if (*row.wantsDir) {
            const std::string link = std::string(row.wantsDir) +
                                     (row.system ? "/sysinit.target.wants/" : "/default.target.wants/") + unit;
            fs::create_directories(fs::path(root + link).parent_path());
            fs::create_symlink(std::string(row.unitDir) + "/" + unit, root + link);
        }
        if (row.program) {
            put(renamer, "#!/bin/sh\n");
            fs::permissions(root + renamer, fs::perms::owner_all);
        }
        const std::string said = RenamerUnitWarning(root, row.system, home);
        SCOPED_TRACE(std::string(row.unitDir) + " " + row.wantsDir);
        if (*row.said) {
            EXPECT_NE(said.find(row.said), std::string::npos) << said;
            EXPECT_EQ(said.rfind("Files queued for the restart will not be replaced: ", 0), 0u) << said;
        } else {
            EXPECT_EQ(said, "");
        }
    }
}

// The units as systemd reads them, with ExecStart= pointing at the built
// renamer (the installed one need not exist here).
TEST(PendingRenameBoot, UnitsPassSystemdVerification) {
    std::string analyze;
    for (const char* p : {"/usr/bin/systemd-analyze", "/bin/systemd-analyze"}) {
        if (::access(p, X_OK) == 0) analyze = p;
    }
    if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed";
    TempDir tmp;
    const fs::path built = fs::path(UE_BOOT_RENAMES_PROGRAM).parent_path();
    for (const char* unit : {"updateexe-boot-renames.service", "updateexe-user-renames.service"}) {
        std::string text = ReadFileBytes((built / unit).string());
        const std::size_t exec = text.find("ExecStart=");
        ASSERT_NE(exec, std::string::npos) << unit;
        text.replace(exec, text.find('\n', exec) - exec, "ExecStart="s + UE_BOOT_RENAMES_PROGRAM);
        WriteFileBytes(tmp.file(unit), text);
        const bool user = std::string(unit).find("-user-") != std::string::npos;
        // The user manager needs a runtime folder even to verify.
        fs::create_directory(tmp.file("run"));
        fs::permissions(tmp.file("run"), fs::perms::owner_all, fs::perm_options::replace);
        const std::string command = "XDG_RUNTIME_DIR=" + tmp.file("run") + " " + analyze +
                                    (user ? " --user" : "") + " verify " + tmp.file(unit) + " >" +
                                    tmp.file("verify.out") + " 2>&1";
        const int status = std::system(command.c_str());
        const std::string said = ReadFileBytes(tmp.file("verify.out"));
        EXPECT_EQ(status, 0) << unit << ": " << said;
        EXPECT_EQ(said.find(unit), std::string::npos) << said;  // warnings about it
    }
}

}  // namespace
}  // namespace ue
