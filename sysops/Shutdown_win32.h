// Windows piece of the restart request that the tests use: the system calls
// it makes, replaceable by stand-ins so that a test never restarts anything.
#pragma once

namespace ue::win32 {

struct ShutdownCalls {
    // Enables SeShutdownPrivilege in the process's token; false when it
    // could not (the result is not looked at: the requests follow anyway).
    bool (*enableShutdownPrivilege)();
    // ExitWindowsEx(flags, reason).
    int (*exitWindowsEx)(unsigned flags, unsigned long reason);
};

// The real calls.
ShutdownCalls SystemShutdownCalls();

// Makes ShutdownWindows use `calls` from now on; returns those used before.
ShutdownCalls SetShutdownCalls(ShutdownCalls calls);

// The real privilege step, on its own (harmless: it changes our token only).
bool EnableShutdownPrivilege();

}  // namespace ue::win32
