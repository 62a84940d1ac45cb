// One updater per installation. Two updaters on one installation would apply
// and log the same files twice, each in its own order; the second to start
// ends at once instead, before it has touched anything.
//
// On Linux the lock is an flock on the file ".UpdateExe.lock" in the
// installation directory, created when missing and never written: the system
// releases it when the process ends, however it ends, so a crash leaves
// nothing to clean up. The programs the updater starts do not inherit it.
// Only who may write the installation directory may open the file (see
// InstanceLock_posix.cpp), so nobody else can hold the lock to stop updates. On Windows it is a named mutex derived from the
// installation's final path, so no file is made.
#pragma once

#include <string>
#include <system_error>

#include "core/FileIO.h"

namespace ue {

class InstanceLock {
public:
    enum class State {
        Held,         // ours until this object goes
        Busy,         // another process holds it
        Unavailable,  // it cannot be taken at all (see Why)
    };

    // Tries once, never waits. `installationDir` may end with a separator;
    // empty means the working directory. The lock file is never followed
    // through a symbolic link, and one that is not a regular file is not
    // used: both give Unavailable, as does a lock file we may not write.
    static InstanceLock Acquire(const std::string& installationDir);

    State GetState() const { return state_; }
    bool IsBusy() const { return state_ == State::Busy; }
    // Why the lock is Unavailable; empty otherwise.
    std::error_code Why() const { return why_; }

private:
    InstanceLock(State state, fileio::File file, std::error_code why)
        : state_(state), file_(std::move(file)), why_(why) {}

    State state_;
    fileio::File file_;  // holds the lock while open
    std::error_code why_;
};

// The name of the lock file in the installation directory.
inline constexpr char kInstanceLockName[] = ".UpdateExe.lock";

}  // namespace ue
