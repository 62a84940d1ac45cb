// The restart request on Linux.
//
// Each of the two requests (reason 2, then reason 0) runs the shell command in
// UPDATEEXE_REBOOT_COMMAND through /bin/sh; when the variable is not set, the
// command is "systemctl reboot". A variable set to the empty text makes no
// request at all. The command gets the reason as its first argument ($1) and
// in UPDATEEXE_REBOOT_REASON. Its result is not examined.
//
// The second request follows the first once the first has ended, or after
// five seconds at most, so that a command that blocks neither holds the
// updater nor changes the order; such a command runs on, in a session of its
// own, and is reaped when it ends.

#include "sysops/Shutdown.h"

#include <cstdlib>

#include "sysops/ProcessControl_posix.h"

namespace ue {

namespace posix {

namespace {

void RunRestartCommand(const std::string& command, int reason, std::chrono::milliseconds bound) {
    static const std::string kReasonVar = "UPDATEEXE_REBOOT_REASON=";
    std::string reasonText = std::to_string(reason);
    std::vector<std::string> env;
    for (auto& e : CurrentEnvironment()) {
        if (!e.starts_with(kReasonVar)) env.push_back(std::move(e));
    }
    env.push_back(kReasonVar + reasonText);
    pid_t pid = 0;
    if (Spawn("/bin/sh", {"sh", "-c", command, "sh", reasonText}, env, true, pid) != 0) return;
    WaitWithin(pid, bound);
}

}  // namespace

void ShutdownWindowsWithin(int mode, std::chrono::milliseconds bound) {
    if (mode != kShutdownRestart) return;
    const char* set = std::getenv("UPDATEEXE_REBOOT_COMMAND");
    std::string command = set ? set : "systemctl reboot";
    if (command.empty()) return;
    for (int reason : {2, 0}) RunRestartCommand(command, reason, bound);
}

}  // namespace posix

void ShutdownWindows(int mode) { posix::ShutdownWindowsWithin(mode, std::chrono::seconds(5)); }

}  // namespace ue
