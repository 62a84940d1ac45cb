#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/Errors.h"
#include "sysops/Registration.h"
#include "sysops/InstanceLock.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

// Each library is copied under a name of its own into the test's directory,
// so that its mapping can be looked for after the call. The test program does
// not take the child's option: the launcher, which does, is the child.
class RegisterServerLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetRegistrationProgram(UE_TEST_LAUNCHER); }
    static void TearDownTestSuite() { SetRegistrationProgram(""); }
    std::string Install(const char* built, const std::string& name) {
        std::string path = dir_.file(name);
        fs::copy_file(built, path);
        return path;
    }
    std::string Calls() { return fs::exists(log_) ? test::ReadFileBytes(log_) : ""; }
    static bool Mapped(const std::string& path) {
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);) {
            if (line.ends_with(" " + path)) return true;
        }
        return false;
    }

    TempDir dir_;
    std::string log_ = dir_.file("calls.log");
    ScopedEnv env_{"UE_REG_LOG", log_};
};

TEST_F(RegisterServerLibraryTest, NonNegativeStatusIsSuccessAndTheLibraryIsUnloaded) {
    const std::string zero = Install(UE_REG_OK, "Reg Zero.dll");
    const std::string one = Install(UE_REG_ONE, "RegOne.dll");
    EXPECT_NO_THROW(RegisterServerLibrary(zero));
    EXPECT_NO_THROW(RegisterServerLibrary(one));
    EXPECT_EQ(Calls(), "0\n1\n");
    EXPECT_FALSE(Mapped(zero));
    EXPECT_FALSE(Mapped(one));
}

TEST_F(RegisterServerLibraryTest, NegativeStatusRaisesAndTheLibraryIsUnloaded) {
    const std::string lib = Install(UE_REG_FAIL, "100%s Fail.dll");
    EXPECT_EQ(test::PlainErrorOf<OSError>([&] { RegisterServerLibrary(lib); }),
              "DllRegisterServer in " + lib + " failed.");
    EXPECT_EQ(Calls(), "-2147483648\n");
    EXPECT_FALSE(Mapped(lib));
}

TEST_F(RegisterServerLibraryTest, MissingEntryRaisesOperatingSystemError) {
    const std::string none = Install(UE_REG_NONE, "None.dll");
    // This one's dependency has the entry; only the library's own counts.
    const std::string forward = Install(UE_REG_FORWARD, "Forward.dll");
    for (const auto& lib : {none, forward}) {
        try {
            RegisterServerLibrary(lib);
            ADD_FAILURE() << "no error for " << lib;
        } catch (const OSError& e) {
            EXPECT_EQ(e.Code(), 127u);
            const std::string head = "System Error.  Code: 127.\r\n";
            std::string message = e.what();
            ASSERT_TRUE(message.starts_with(head)) << message;
            std::string text = message.substr(head.size());
            EXPECT_NE(text.find("DllRegisterServer"), std::string::npos) << text;
            EXPECT_FALSE(text.starts_with(lib)) << text;
        }
        EXPECT_FALSE(Mapped(lib));
    }
    EXPECT_EQ(Calls(), "");
}

// True once `pid` runs no more: gone, or a zombie that its new parent has not
// reaped yet.
bool Ended(pid_t pid) {
    return test::WaitUntil([pid] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        const auto close = line.rfind(')');
        return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
    });
}

std::vector<pid_t> Pids(const std::string& file) {
    std::vector<pid_t> pids;
    std::ifstream in(file);
    for (long pid = 0; in >> pid;) pids.push_back(static_cast<pid_t>(pid));
    return pids;
}

// The entry runs in a process of its own: whatever it does, the caller carries
// on soon, with an error naming the file when the entry does not return its
// status, no child and no process the entry started left behind, and its own
// unwritten stdio buffers not written by the child. The program itself is the
// child as well as the launcher.
TEST_F(RegisterServerLibraryTest, EntryThatDoesNotReturnFailsWithoutHarmingTheCaller) {
    using std::chrono::milliseconds;
    struct Case {
        const char* built;
        const char* name;
        milliseconds bound;  // 0: the default one
        std::string failure;  // after "DllRegisterServer in <file>"; empty: none
        std::string calls;
        const char* program = UE_TEST_LAUNCHER;
    };
    const Case cases[] = {
        {UE_REG_OK, "Ok.dll", milliseconds(0), "", "0\n"},
        {UE_REG_ABORT, "Abort.dll", milliseconds(0), " failed: it crashed (signal 6, Aborted).",
         "crash\n"},
        {UE_REG_SEGV, "Segv.dll", milliseconds(0),
         " failed: it crashed (signal 11, Segmentation fault).", "crash\n"},
        {UE_REG_HANG, "Hang.dll", milliseconds(500), " failed: it did not return within 500 ms.",
         "crash\n"},
        // exit() is not success: the entry never returned its status. It ends
        // at once: the child is a fresh process with nothing to tear down.
        {UE_REG_EXIT, "Exit.dll", milliseconds(0),
         " failed: it ended its process with exit code 0.", "crash\n"},
        // Returned 0: registered, and the helper it left goes with it.
        {UE_REG_HELPER, "Helper.dll", milliseconds(0), "", "helper\n"},
#ifdef UE_UPDATEEXE
        {UE_REG_OK, "Ok.dll", milliseconds(0), "", "0\n", UE_UPDATEEXE},
        {UE_REG_EXIT, "Exit.dll", milliseconds(0),
         " failed: it ended its process with exit code 0.", "crash\n", UE_UPDATEEXE},
#endif
    };
    const std::string pids = dir_.file("pids.txt");
    const ScopedEnv pidsEnv("UE_REG_PIDS", pids);
    const std::string pending = dir_.file("pending.txt");
    std::FILE* buffered = std::fopen(pending.c_str(), "w");
    ASSERT_NE(buffered, nullptr);
    std::fputs("unwritten", buffered);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " run by " + c.program);
        SetRegistrationProgram(c.program);
        const std::string lib = dir_.file(c.name);
        if (!fs::exists(lib)) Install(c.built, c.name);
        const auto start = std::chrono::steady_clock::now();
        const std::string message = test::PlainErrorOf<OSError>([&] {
            if (c.bound.count() > 0) RegisterServerLibraryWithin(lib, c.bound);
            else RegisterServerLibrary(lib);
        });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(message,
                  c.failure.empty() ? "no error" : "DllRegisterServer in " + lib + c.failure);
        EXPECT_EQ(Calls(), c.calls);
        EXPECT_FALSE(Mapped(lib));
        for (pid_t pid : Pids(pids)) EXPECT_TRUE(Ended(pid)) << "process " << pid << " runs on";
        fs::remove(log_);
        fs::remove(pids);
    }
    SetRegistrationProgram(UE_TEST_LAUNCHER);
    // A killed child ends a moment after the kill: give it that moment.
    pid_t unreaped = 0;
    test::WaitUntil(
        [&] {
            siginfo_t ended{};
            if (waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) == 0) unreaped = ended.si_pid;
            return unreaped != 0;
        },
        milliseconds(200));
    EXPECT_EQ(unreaped, 0);
    std::fclose(buffered);
    EXPECT_EQ(test::ReadFileBytes(pending), "unwritten");
}

// The child holds none of the caller's descriptors: neither it nor a helper
// the entry leaves behind keeps the installation's lock once the caller lets
// it go. And when the caller dies while the entry runs (a SIGTERM to the
// updater), the child dies with it and does not keep the lock either.
TEST_F(RegisterServerLibraryTest, NeitherTheChildNorItsHelpersKeepTheCallersLock) {
    const std::string pids = dir_.file("pids.txt");
    const ScopedEnv pidsEnv("UE_REG_PIDS", pids);
    {
        const InstanceLock lock = InstanceLock::Acquire(dir_.path());
        ASSERT_EQ(lock.GetState(), InstanceLock::State::Held);
        EXPECT_NO_THROW(RegisterServerLibrary(Install(UE_REG_HELPER, "Helper.dll")));
    }
    EXPECT_EQ(InstanceLock::Acquire(dir_.path()).GetState(), InstanceLock::State::Held);
    ASSERT_EQ(Pids(pids).size(), 1u);
    fs::remove(pids);

    // The caller: a program of its own that takes the lock and registers.
    const std::string hang = Install(UE_REG_HANG, "Hang.dll");
    const pid_t caller = ::fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        ::execl(UE_TEST_LAUNCHER, UE_TEST_LAUNCHER, "--register", dir_.path().c_str(),
                hang.c_str(), "60000", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(test::WaitUntil([&] { return Pids(pids).size() == 1; }));
    EXPECT_EQ(InstanceLock::Acquire(dir_.path()).GetState(), InstanceLock::State::Busy);
    ::kill(caller, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(caller, &status, 0), caller);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(Ended(Pids(pids).at(0))) << "the child outlives its parent";
    EXPECT_EQ(InstanceLock::Acquire(dir_.path()).GetState(), InstanceLock::State::Held);
}

// The child of an entry that does not return is killed and reaped before the
// call returns: one left running would hold the test's output open (and keep
// CTest waiting for it). The call runs in a process of its own, so that no
// other child counts, in a process group of its own, which is killed
// afterwards whatever the call left.
TEST_F(RegisterServerLibraryTest, ChildOfAnEntryThatDoesNotReturnIsKilledAndReaped) {
    const std::string lib = Install(UE_REG_HANG, "Hang.dll");
    const pid_t caller = ::fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        ::setpgid(0, 0);
        try {
            RegisterServerLibraryWithin(lib, std::chrono::milliseconds(200));
        } catch (const Error&) {
        }
        siginfo_t child{};
        const int rc = ::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT);
        ::_exit(rc != 0 && errno == ECHILD ? 0 : rc == 0 && child.si_pid == 0 ? 2 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(caller, &status, 0), caller);
    ::kill(-caller, SIGKILL);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2) << "the child still runs";
    EXPECT_NE(WEXITSTATUS(status), 3) << "the child was not reaped";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// "<platform text>: <path>", the text not repeating the path and without
// trailing blanks, line ends or full stops.
void ExpectLoadFailure(const std::string& path) {
    const std::string message = test::PlainErrorOf<OSError>([&] { RegisterServerLibrary(path); });
    const std::string tail = ": " + path;
    ASSERT_TRUE(message.ends_with(tail)) << message;
    const std::string text = message.substr(0, message.size() - tail.size());
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(text.starts_with(path + ":")) << message;
    const unsigned char last = static_cast<unsigned char>(text.back());
    EXPECT_TRUE(last > 32 && last != '.') << message;
}

TEST_F(RegisterServerLibraryTest, FileThatIsNoLibraryRaisesLoadFailure) {
    ExpectLoadFailure(dir_.file("Missing.dll"));
    const std::string text = dir_.file("Text.dll");
    test::WriteFileBytes(text, "not a library\n");
    ExpectLoadFailure(text);
    ExpectLoadFailure(dir_.path());
    // An empty name would load the program itself.
    ExpectLoadFailure("");
    EXPECT_EQ(Calls(), "");
}

}  // namespace
}  // namespace ue
