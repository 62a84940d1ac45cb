// The restart request on Windows: SeShutdownPrivilege is enabled in the
// process's own token (ExitWindowsEx refuses a restart without it), then the
// two requests are made, EWX_REBOOT with reason 2 and EWX_REBOOT with reason
// 0, the second whatever the first returned. Nothing is reported.

#include "sysops/Shutdown.h"

#include <windows.h>

#include <atomic>

#include "sysops/Shutdown_win32.h"

namespace ue {

namespace win32 {

namespace {

int SystemExitWindowsEx(unsigned flags, unsigned long reason) {
    return ::ExitWindowsEx(flags, reason);
}

std::atomic<bool (*)()> enableCall{&EnableShutdownPrivilege};
std::atomic<int (*)(unsigned, unsigned long)> exitCall{&SystemExitWindowsEx};

}  // namespace

bool EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = false;
    if (::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
        // Success with ERROR_NOT_ALL_ASSIGNED: the token lacks the privilege.
        enabled = ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                  ::GetLastError() == ERROR_SUCCESS;
    }
    ::CloseHandle(token);
    return enabled;
}

ShutdownCalls SystemShutdownCalls() { return {&EnableShutdownPrivilege, &SystemExitWindowsEx}; }

ShutdownCalls SetShutdownCalls(ShutdownCalls calls) {
    return {enableCall.exchange(calls.enableShutdownPrivilege),
            exitCall.exchange(calls.exitWindowsEx)};
}

}  // namespace win32

void ShutdownWindows(int mode) {
    if (mode != kShutdownRestart) return;
    win32::enableCall.load()();
    const auto exitWindows = win32::exitCall.load();
    exitWindows(EWX_REBOOT, 2);
    exitWindows(EWX_REBOOT, 0);
}

}  // namespace ue
