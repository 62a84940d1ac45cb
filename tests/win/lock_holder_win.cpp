// Holds the installation lock of <dir> as a running UpdateExe does, writes
// <flag> once it does, and keeps the lock until <flag> is removed (ten
// minutes at most, so that it never outlives a failed test).
//   lock_holder <dir> <flag>
#include <windows.h>

#include "core/WinText.h"
#include "sysops/InstanceLock.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const ue::InstanceLock lock = ue::InstanceLock::Acquire(ue::Narrow(argv[1]));
    if (lock.GetState() != ue::InstanceLock::State::Held) return 1;
    const HANDLE flag = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (flag == INVALID_HANDLE_VALUE) return 3;
    CloseHandle(flag);
    for (int i = 0; i < 60000 && GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(10);
    }
    return 0;
}
