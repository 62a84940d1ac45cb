// The restart request with stand-ins for the system calls: nothing restarts.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "sysops/Shutdown.h"
#include "sysops/Shutdown_win32.h"

namespace ue {
namespace {

std::string calls;

bool RecordPrivilege() {
    calls += "privilege;";
    return false;  // refused: the requests follow all the same
}

int RecordExit(unsigned flags, unsigned long reason) {
    calls += "exit " + std::to_string(flags) + " " + std::to_string(reason) + ";";
    return 0;
}

TEST(ShutdownWindows, PrivilegeThenBothRequestsInOrderOnlyForRestart) {
    const auto previous = win32::SetShutdownCalls({&RecordPrivilege, &RecordExit});
    calls.clear();
    for (int mode : {0, 1, 2, 4, -3, 0x103}) ShutdownWindows(mode);
    EXPECT_EQ(calls, "");
    ShutdownWindows(kShutdownRestart);
    EXPECT_EQ(calls, "privilege;exit 2 2;exit 2 0;");
    win32::SetShutdownCalls(previous);
    EXPECT_EQ(win32::SetShutdownCalls(previous).exitWindowsEx,
              win32::SystemShutdownCalls().exitWindowsEx);
}

// The real privilege step changes only our own token: it is safe to run.
TEST(ShutdownWindows, PrivilegeStepEnablesItInOurToken) {
    ASSERT_TRUE(win32::EnableShutdownPrivilege());
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    LUID luid{};
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &luid));
    PRIVILEGE_SET set{};
    set.PrivilegeCount = 1;
    set.Control = PRIVILEGE_SET_ALL_NECESSARY;
    set.Privilege[0].Luid = luid;
    BOOL enabled = FALSE;
    ASSERT_TRUE(::PrivilegeCheck(token, &set, &enabled));
    ::CloseHandle(token);
    EXPECT_TRUE(enabled);
}

}  // namespace
}  // namespace ue
