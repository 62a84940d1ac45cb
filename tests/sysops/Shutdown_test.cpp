// The restart request runs a script of the test's own in place of the real
// restart command; every test sets UPDATEEXE_REBOOT_COMMAND first.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>

#include "sysops/ProcessControl_posix.h"
#include "sysops/Shutdown.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ScopedEnv;
using test::TempDir;

class ShutdownWindowsTest : public ::testing::Test {
protected:
    // A restart command that appends "$1 $UPDATEEXE_REBOOT_REASON" to the log
    // and then runs `extra`.
    void UseScript(const std::string& extra = "") {
        const std::string script = dir_.file("reboot me.sh");
        test::WriteFileBytes(script, "#!/bin/sh\necho \"$1 $UPDATEEXE_REBOOT_REASON\" >> '" + log_ +
                                         "'\n" + extra + "\n");
        fs::permissions(script, fs::perms::owner_all);
        command_.emplace("UPDATEEXE_REBOOT_COMMAND", "'" + script + "' \"$1\"");
    }
    // The log once it has `lines` lines, or as it is after a while.
    std::string Log(int lines) {
        std::string text;
        test::WaitUntil([&] {
            text = fs::exists(log_) ? test::ReadFileBytes(log_) : "";
            return std::count(text.begin(), text.end(), '\n') >= lines;
        });
        return text;
    }

    TempDir dir_;
    std::string log_ = dir_.file("requests.log");
    // A stale reason from outside must not reach the command.
    ScopedEnv reason_{"UPDATEEXE_REBOOT_REASON", "9"};
    std::optional<ScopedEnv> command_;
};

TEST_F(ShutdownWindowsTest, RestartMakesBothRequestsInOrderOtherModesNone) {
    UseScript();
    for (int mode : {0, 1, 2, 4, -3, 0x103}) ShutdownWindows(mode);
    EXPECT_FALSE(fs::exists(log_));
    // Whatever those might have started would show up before these two.
    ShutdownWindows(kShutdownRestart);
    EXPECT_EQ(Log(2), "2 2\n0 0\n");
}

TEST_F(ShutdownWindowsTest, BlockingCommandDelaysTheSecondRequestOnlyForTheBound) {
    const std::string pidFile = dir_.file("blocked.pid");
    UseScript("[ \"$1\" = 2 ] && echo $$ > '" + pidFile + "' && exec sleep 3");
    auto start = std::chrono::steady_clock::now();
    posix::ShutdownWindowsWithin(kShutdownRestart, 200ms);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 2500ms);
    EXPECT_EQ(Log(2), "2 2\n0 0\n");

    // The blocked command is still ours: end it rather than leave it behind.
    const pid_t blocked = std::stoi(test::ReadFileBytes(pidFile));
    kill(blocked, SIGKILL);
    EXPECT_TRUE(test::Reaped(blocked));
}

TEST_F(ShutdownWindowsTest, EmptyCommandRequestsNothing) {
    command_.emplace("UPDATEEXE_REBOOT_COMMAND", "");
    ShutdownWindows(kShutdownRestart);  // must not fall back to the real restart
    EXPECT_FALSE(fs::exists(log_));
}

}  // namespace
}  // namespace ue
