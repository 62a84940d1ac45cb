// A program for the Windows lock test: "lock_holder <dir> <flag>" takes the
// installation's lock, writes its state (0 held, 1 busy, 2 unavailable) to
// <flag>, and holds it until <flag> is removed (a minute at most).
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "core/WinText.h"
#include "sysops/InstanceLock.h"

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc != 3) return 64;
    const ue::InstanceLock lock = ue::InstanceLock::Acquire(ue::Narrow(argv[1]));
    const std::wstring flag = argv[2];
    const std::wstring temp = flag + L".tmp";
    FILE* f = _wfopen(temp.c_str(), L"wb");
    if (!f) return 2;
    std::fprintf(f, "%d", static_cast<int>(lock.GetState()));
    if (std::fclose(f) != 0 || !::MoveFileExW(temp.c_str(), flag.c_str(), 0)) return 3;
    for (int i = 0; i < 6000 && ::GetFileAttributesW(flag.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        ::Sleep(10);
    return 0;
}
