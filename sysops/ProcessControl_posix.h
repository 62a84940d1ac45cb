// Linux pieces of process control that the restart request and the tests
// share. Not part of the portable interface.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ue::posix {

// The name under which a process is listed: the file name of its executable
// (/proc/<pid>/exe), or, when that link cannot be read (another user's
// process, a kernel thread), /proc/<pid>/comm, which the kernel cuts at 15
// bytes; a cut comm is completed from argv[0] when argv[0]'s file name starts
// with it. Empty when the process is gone.
std::string ProcessImageName(pid_t pid);

// FindProcessIdByName passing over the process `excluded`.
std::uint32_t FindProcessIdByNameExcept(const std::string& imageName, std::uint32_t excluded);

// Sends SIGKILL to `pid` when `stoppable`, called after the process was
// pinned, says so. The signal goes through a pidfd opened before the call, so
// a process that ended meanwhile is never mistaken for another that was given
// its pid; where pidfds are not to be had (an old kernel, a sandbox that
// forbids them), kill() after its start time was found unchanged.
void KillIf(pid_t pid, const std::function<bool()>& stoppable);

// Starts `file` with `args` (args[0] included) and `env` through posix_spawn:
// signal mask and dispositions reset, descriptors above 2 not inherited, and,
// with `newSession`, in a session of its own so that it outlives the caller
// and its terminal. Returns 0 and sets `pid`, or the errno of the failure.
int Spawn(const std::string& file, const std::vector<std::string>& args,
          const std::vector<std::string>& env, bool newSession, pid_t& pid);

// The caller's environment as "NAME=value" strings.
std::vector<std::string> CurrentEnvironment();

// Reaps `pid` on a background thread once it ends, so that a child that is
// not waited for leaves no zombie behind.
void ReapInBackground(pid_t pid);

// Waits for `pid` at most `bound`; its exit status when it ended meanwhile
// (and it is reaped), nothing otherwise (it is then reaped in the background).
std::optional<int> WaitWithin(pid_t pid, std::chrono::milliseconds bound);

// ShutdownWindows with the bound on each restart command given.
void ShutdownWindowsWithin(int mode, std::chrono::milliseconds bound);

}  // namespace ue::posix
