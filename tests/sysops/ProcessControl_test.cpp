// Process control on real child processes. Every child is a copy of the test
// child program under a name that holds this test process's id, so that no
// other process on the machine can match, and every child is killed and
// reaped at the end of its test.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "core/Errors.h"
#include "sysops/ProcessControl.h"
#include "sysops/ProcessControl_posix.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

extern char** environ;

namespace ue {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ScopedEnv;
using test::TempDir;
using test::WaitUntil;

// A name no other process has: the test process's id and a counter.
std::string Unique(const std::string& stem) {
    static int counter = 0;
    return stem + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

std::string CopyChild(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(UE_TEST_CHILD, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

struct Report {
    pid_t pid = 0;
    std::vector<std::string> argv;
};

// Waits until the child at `exe` has written its report.
std::optional<Report> AwaitReport(const std::string& exe) {
    if (!WaitUntil([&] { return fs::exists(exe + ".report"); })) return std::nullopt;
    std::ifstream in(exe + ".report");
    Report r;
    long pid = 0;
    int argc = 0;
    in >> pid >> argc;
    in.ignore();
    r.pid = static_cast<pid_t>(pid);
    for (std::string line; argc-- > 0 && std::getline(in, line);) r.argv.push_back(line);
    return r;
}

// Present in /proc and not a zombie.
bool Running(pid_t pid) {
    std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(st)), {});
    auto close = all.rfind(')');
    return close != std::string::npos && close + 2 < all.size() && all[close + 2] != 'Z';
}

// A child started by the test itself; killed and reaped when it goes out of
// scope.
class Child {
public:
    explicit Child(const std::string& exe) {
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = 0;
        EXPECT_NE(pid_, 0) << exe;
        EXPECT_TRUE(pid_ == 0 || AwaitReport(exe)) << exe;
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    std::uint32_t id() const { return static_cast<std::uint32_t>(pid_); }
    // Still running: not ended, not killed.
    bool Alive() { return !reaped_ && waitpid(pid_, nullptr, WNOHANG) == 0; }
    // Waits for the end; true when it was stopped: asked to close (SIGTERM,
    // which the test child does not catch) or killed.
    bool Killed() {
        int status = 0;
        reaped_ = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        return reaped_ && WIFSIGNALED(status) &&
               (WTERMSIG(status) == SIGTERM || WTERMSIG(status) == SIGKILL);
    }

private:
    pid_t pid_ = 0;
    bool reaped_ = false;
};

TEST(FindProcessIdByName, MatchesTheExecutableNameInAnyLetterCaseAndNothingElse) {
    TempDir dir;
    const std::string name = Unique("Main") + ".exe";
    Child child(CopyChild(dir.file(name)));

    EXPECT_EQ(FindProcessIdByName(name), child.id());
    EXPECT_EQ(FindProcessIdByName("MAIN" + name.substr(4, name.size() - 8) + ".EXE"), child.id());
    EXPECT_EQ(FindProcessIdByName("main" + name.substr(4)), child.id());
    // The argument is never stripped and never holds a directory.
    for (const std::string& other : {" " + name, name + " ", dir.file(name), name + "x"}) {
        EXPECT_EQ(FindProcessIdByName(other), 0u) << other;
        KillProcessByName(other, dir.path());
    }
    KillProcessByName(Unique("Nothing") + ".exe", dir.path());
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(child.Alive());
}

// The dialog names the program that holds the file open (one that merely
// runs from it: RunningPrograms_ptest), by its executable's name; never
// ourselves, though we hold it too; nothing once it has let go.
TEST(ProgramsHoldingFile, ListsTheProcessThatHoldsTheFileOpen) {
    TempDir dir;
    const std::string held = dir.file("data.dll");
    test::WriteFileBytes(held, "data");
    const int own = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(own, 0);
    EXPECT_TRUE(ProgramsHoldingFile(held).empty());

    const std::string name = Unique("Holder") + ".exe";
    const std::string exe = CopyChild(dir.file(name));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 3, held.c_str(), O_RDONLY, 0);
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(AwaitReport(exe));

    const auto holders = ProgramsHoldingFile(held);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, static_cast<std::uint32_t>(pid));
    EXPECT_EQ(holders[0].name, name);

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(ProgramsHoldingFile(held).empty());
    ::close(own);
}

TEST(FindProcessIdByName, ListedNameIsStrippedNotCutAtFifteenBytesAndNotFoldedAboveAscii) {
    TempDir dir;
    const std::string stem = Unique("Blank");
    Child trailing(CopyChild(dir.file(stem + ".exe  ")));
    Child leading(CopyChild(dir.file(" " + stem + "L.exe")));
    const std::string longName = Unique("AProgramWithALongName") + ".exe";
    Child longer(CopyChild(dir.file(longName)));
    const std::string gbk = stem + "\xD6\xF7\xB3\xCC\xD0\xF2.exe";  // 主程序.exe in GBK
    Child chinese(CopyChild(dir.file(gbk)));

    EXPECT_EQ(FindProcessIdByName(stem + ".exe"), trailing.id());
    EXPECT_EQ(FindProcessIdByName(stem + "l.EXE"), leading.id());
    EXPECT_EQ(FindProcessIdByName(longName), longer.id());
    EXPECT_EQ(FindProcessIdByName(longName.substr(0, 15)), 0u);
    EXPECT_EQ(FindProcessIdByName(stem + "\xD6\xF7\xB3\xCC\xD0\xF2.EXE"), chinese.id());
    EXPECT_EQ(FindProcessIdByName(stem + "\xF6\xF7\xB3\xCC\xD0\xF2.exe"), 0u);
}

TEST(FindProcessIdByName, ProgramReplacedWhileRunningKeepsItsName) {
    TempDir dir;
    const std::string name = Unique("Swap") + ".exe";
    const std::string exe = CopyChild(dir.file(name));
    Child child(exe);
    // Renamed over, as a copy replaces an installed file: /proc shows the
    // running image as "<path> (deleted)".
    CopyChild(dir.file("new"));
    fs::rename(dir.file("new"), exe);

    EXPECT_EQ(posix::ProcessImageName(child.pid()), name);
    EXPECT_EQ(FindProcessIdByName(name), child.id());
}

TEST(FindProcessIdByName, FirstInPidOrderWinsAndZombiesArePassedOver) {
    TempDir dir;
    const std::string name = Unique("Main") + ".exe";
    Child a(CopyChild(dir.file("a/" + name)));
    Child b(CopyChild(dir.file("b/" + name)));
    const Child& first = a.pid() < b.pid() ? a : b;
    const Child& second = a.pid() < b.pid() ? b : a;

    EXPECT_EQ(FindProcessIdByName(name), first.id());
    EXPECT_EQ(posix::FindProcessIdByNameExcept(name, first.id()), second.id());

    // The first one ended but is not reaped yet: it runs no more.
    kill(first.pid(), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !Running(first.pid()); }));
    EXPECT_EQ(FindProcessIdByName(name), second.id());
}

// Which programs KillProcessByName stops. Paths are relative to the test's
// folder, '%' standing for a number no other process's name holds. The
// installation is "inst"; "out" lies beside it, "inst-old" begins like it,
// "inst/lib" is a link to "out/lib" and "link" a link to "inst".
struct KillCase {
    const char* title;
    std::vector<std::pair<const char*, bool>> programs;  // where one runs; whether it is stopped
    const char* argument = "Main%.exe";
    const char* installDir = "inst/";
    bool replaced = false;  // each program's file is renamed over once it runs
    // A copy of the launcher there makes the call instead of the test.
    const char* caller = nullptr;
};

const KillCase kKillCases[] = {
    {"InsideIsStoppedSameNameElsewhereIsNot",
     {{"inst/Main%.exe", true}, {"out/Main%.exe", false}, {"inst-old/Main%.exe", false}}},
    {"EveryOneInsideIsStoppedInFoldersBelowToo",
     {{"inst/Main%.exe", true}, {"inst/a/Main%.exe", true}, {"inst/a/b/Main%.exe", true}}},
    {"NameInAnyLetterCaseOtherNamesNot",
     {{"inst/Main%.exe", true}, {"inst/Main%.ex", false}, {"inst/Main%.exe.bak", false}},
     "MAIN%.EXE"},
    {"FolderLinkedOutsideIsOutside", {{"inst/lib/Main%.exe", false}, {"inst/Main%.exe", true}}},
    {"InstallationNamedThroughALink", {{"inst/Main%.exe", true}, {"out/Main%.exe", false}},
     "Main%.exe", "link"},
    {"ReplacedWhileRunningStillRunsFromInside",
     {{"inst/Main%.exe", true}, {"out/Main%.exe", false}}, "Main%.exe", "inst/", true},
    {"NoInstallationNothingStopped", {{"inst/Main%.exe", false}}, "Main%.exe", "missing/"},
    {"CallerItselfIsNeverStopped", {{"inst/sub/Main%.exe", true}}, "Main%.exe", "inst/", false,
     "inst/Main%.exe"},
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.title; }

class KillTest : public testing::TestWithParam<KillCase> {};

TEST_P(KillTest, StopsOnlyProgramsRunningFromTheInstallation) {
    const KillCase& c = GetParam();
    TempDir dir;
    const std::string id = Unique("");
    auto at = [&](std::string path) {
        if (auto pct = path.find('%'); pct != std::string::npos) path.replace(pct, 1, id);
        return dir.file(path);
    };
    fs::create_directories(at("inst"));
    fs::create_directories(at("out/lib"));
    fs::create_directory_symlink("../out/lib", at("inst/lib"));
    fs::create_directory_symlink("inst", at("link"));

    std::vector<std::unique_ptr<Child>> children;
    for (const auto& [path, stopped] : c.programs) {
        children.push_back(std::make_unique<Child>(CopyChild(at(path))));
        if (c.replaced) {
            CopyChild(at(path) + ".new");
            fs::rename(at(path) + ".new", at(path));
        }
    }

    const std::string argument = at(c.argument).substr(dir.path().size() + 1);
    if (c.caller) {
        fs::copy_file(UE_TEST_LAUNCHER, at(c.caller));
        const std::string caller = at(c.caller);
        const std::string installDir = at(c.installDir);
        char* argv[] = {const_cast<char*>(caller.c_str()), const_cast<char*>("--kill"),
                        const_cast<char*>(argument.c_str()),
                        const_cast<char*>(installDir.c_str()), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, caller.c_str(), nullptr, nullptr, argv, environ), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    } else {
        KillProcessByName(argument, at(c.installDir));
    }

    // The stopped ones first: by the time they are gone, a wrong kill of the
    // others would have shown too.
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (c.programs[i].second) {
            EXPECT_TRUE(children[i]->Killed()) << c.programs[i].first;
        }
    }
    std::this_thread::sleep_for(50ms);
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (!c.programs[i].second) {
            EXPECT_TRUE(children[i]->Alive()) << c.programs[i].first;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, KillTest, testing::ValuesIn(kKillCases),
                         [](const auto& info) { return std::string(info.param.title); });

// Run as an ordinary user beside a program of the same name that root runs
// from the installation (and that this user may neither inspect nor stop):
// the user's own program is stopped all the same, and root's is left alone.
TEST(KillProcessByName, AnotherUsersProgramIsPassedOverAndTheSearchGoesOn) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can run a program as another user";
    TempDir dir;
    const std::string name = Unique("Main") + ".exe";
    const std::string inst = dir.file("inst");
    Child roots(CopyChild(inst + "/root/" + name));  // started first: the lower pid, mostly
    const std::string own = CopyChild(inst + "/user/" + name);
    fs::permissions(own, fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    test::HandToUnprivileged(inst + "/user");

    const auto outcome = test::RunUnprivileged([&]() -> std::string {
        char* argv[] = {const_cast<char*>(own.c_str()), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, own.c_str(), nullptr, nullptr, argv, environ) != 0) return "no start";
        if (!AwaitReport(own)) return "no report";
        KillProcessByName(name, inst);
        int status = 0;
        if (WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }) &&
            WIFSIGNALED(status) && (WTERMSIG(status) == SIGTERM || WTERMSIG(status) == SIGKILL)) {
            return "stopped";
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return "not stopped";
    });
    if (!outcome) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*outcome, "stopped");
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(roots.Alive());
}

// The kill goes through the pidfd opened before the checks, never by the pid:
// a process that ended during the checks and whose pid went to another
// process is never hit. In a PID namespace of our own the pid is handed on at
// will (ns_last_pid), so the reuse happens every time. Exit codes of the
// namespace's first process: 0 shown, 1 the newcomer was killed, 2 and above
// the scene could not be set up here.
TEST(KillProcessByName, ThePidOfAProcessThatEndedDuringTheChecksIsNeverHit) {
    const pid_t outer = ::fork();
    ASSERT_GE(outer, 0);
    if (outer == 0) {
        // Single-threaded here, as a new user namespace needs.
        if (::unshare(CLONE_NEWPID | (::geteuid() == 0 ? 0 : CLONE_NEWUSER)) != 0) ::_exit(2);
        const pid_t init = ::fork();
        if (init < 0) ::_exit(3);
        if (init == 0) {
            const long self = ::syscall(SYS_pidfd_open, ::getpid(), 0);
            if (self < 0) ::_exit(4);  // no pidfds: the fallback is the kill by pid
            ::close(static_cast<int>(self));
            const pid_t first = ::fork();
            if (first == 0) {
                for (;;) ::pause();
            }
            pid_t newcomer = -1;
            posix::KillIf(first, [&] {
                ::kill(first, SIGKILL);
                ::waitpid(first, nullptr, 0);
                const int fd = ::open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
                const std::string last = std::to_string(first - 1);
                if (fd < 0 || ::write(fd, last.data(), last.size()) != static_cast<ssize_t>(last.size())) {
                    ::_exit(5);
                }
                ::close(fd);
                newcomer = ::fork();
                if (newcomer == 0) {
                    for (;;) ::pause();
                }
                return true;
            });
            if (newcomer != first) ::_exit(6);
            // A process that was sent SIGKILL is already dying and drops any
            // later signal, so its end tells which came first.
            ::kill(newcomer, SIGTERM);
            int ended = 0;
            if (::waitpid(newcomer, &ended, 0) != newcomer || !WIFSIGNALED(ended)) ::_exit(8);
            ::_exit(WTERMSIG(ended) == SIGKILL ? 1 : 0);
        }
        int status = 0;
        ::waitpid(init, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 7);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(outer, &status, 0), outer);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) >= 2) GTEST_SKIP() << "cannot hand a pid on here: " << WEXITSTATUS(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the process that took the pid was killed";
}

TEST(RunProgram, StartsLongPathWithParametersSplitAtBlanksAndReturnsExitCode) {
    TempDir dir;
    ASSERT_LT(dir.path().size(), 150u);
    const std::string exe = CopyChild(dir.file(std::string(190 - dir.path().size(), 'd') + "/Main.exe"));
    ASSERT_EQ(exe.size(), 200u);
    ScopedEnv code("UE_CHILD_EXIT_CODE", "7");

    EXPECT_EQ(RunProgram(exe, true, "", kShowNormal), 7u);
    auto report = AwaitReport(exe);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->argv, std::vector<std::string>{exe});

    fs::remove(exe + ".report");
    EXPECT_EQ(RunProgram(exe, true, "  -a\tb  100%d ", kShow), 7u);
    report = AwaitReport(exe);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->argv, (std::vector<std::string>{exe, "-a", "b", "100%d"}));
}

TEST(RunProgram, WithoutWaitingReturnsAtOnceAndLeavesNoZombie) {
    TempDir dir;
    const std::string exe = CopyChild(dir.file(Unique("Main") + ".exe"));
    ScopedEnv code("UE_CHILD_EXIT_CODE", std::nullopt);

    EXPECT_EQ(RunProgram(exe, false, "", kShow), 0u);
    auto report = AwaitReport(exe);
    ASSERT_TRUE(report);
    const pid_t pid = report->pid;
    EXPECT_EQ(report->argv, std::vector<std::string>{exe});
    EXPECT_TRUE(Running(pid));
    EXPECT_EQ(getsid(pid), pid);  // a session of its own
    kill(pid, SIGKILL);
    EXPECT_TRUE(test::Reaped(pid));  // by us: it does not stay a zombie
}

TEST(RunProgram, StartedProgramOutlivesTheStarter) {
    TempDir dir;
    const std::string exe = CopyChild(dir.file(Unique("Main") + ".exe"));
    ScopedEnv code("UE_CHILD_EXIT_CODE", std::nullopt);

    // Orphans come to this process instead of to init, so the test can reap
    // the program once the starter has ended.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Restore {
        ~Restore() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    } restore;
    std::string launcher = UE_TEST_LAUNCHER;
    char* argv[] = {launcher.data(), const_cast<char*>(exe.c_str()), nullptr};
    pid_t starter = 0;
    ASSERT_EQ(posix_spawn(&starter, launcher.c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(starter, &status, 0), starter);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto report = AwaitReport(exe);
    ASSERT_TRUE(report);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(Running(report->pid));
    kill(report->pid, SIGKILL);
    EXPECT_EQ(waitpid(report->pid, &status, 0), report->pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

void ExpectStartFailure(const std::string& file, std::uint32_t code) {
    EXPECT_EQ(test::PlainErrorOf<OSError>([&] { RunProgram(file, false, "", kShowNormal); }),
              "运行程序失败" + file + ". 错误代码 " + std::to_string(code));
}

TEST(RunProgram, FailureToStartRaisesWithPathAndCode) {
    TempDir dir;
    ExpectStartFailure(dir.file("Missing.exe"), 2);
    fs::create_directory(dir.file("100%d%s"));
    ExpectStartFailure(dir.file("100%d%s/Missing.exe"), 2);
    ExpectStartFailure(dir.file("NoDir/Missing.exe"), 2);
    ExpectStartFailure("", 2);
    // A NUL would cut the path to that of a program that exists.
    const std::string cut = CopyChild(dir.file("Main.exe"));
    EXPECT_THROW(RunProgram(cut + std::string(1, '\0') + "x", true, "", kShowNormal), Error);
    EXPECT_FALSE(fs::exists(cut + ".report"));

    const std::string plain = dir.file("NotExecutable.exe");
    CopyChild(plain);
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    ExpectStartFailure(plain, 13);  // EACCES
    ExpectStartFailure(dir.path(), 13);

    const std::string text = dir.file("Text.exe");
    test::WriteFileBytes(text, "no program\n");
    fs::permissions(text, fs::perms::owner_all);
    ExpectStartFailure(text, 8);  // ENOEXEC
}

}  // namespace
}  // namespace ue
