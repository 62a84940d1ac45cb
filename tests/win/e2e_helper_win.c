/* A helper of the Windows end-to-end test, run in the test's own prefix:
 *   hold <file> <flag>   opens <file> with no sharing at all, as a running
 *                        program may hold its files, writes <flag> once it
 *                        does (whole, through a rename), and keeps the file
 *                        open until <flag> is removed (ten minutes at most,
 *                        so that it never outlives a failed test);
 *   close <caption>      presses the close button of the visible top-level
 *                        window with that caption, as the window manager does
 *                        (WM_SYSCOMMAND SC_CLOSE); waits for it ten seconds
 *                        at most; exit code 1 when there was none. */
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

static int Hold(const wchar_t* file, const wchar_t* flag) {
    HANDLE h = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return 2;
    wchar_t temp[4200];
    _snwprintf(temp, 4200, L"%ls.tmp", flag);
    FILE* f = _wfopen(temp, L"wb");
    if (!f) return 3;
    int written = fputs("held\n", f) >= 0;
    if (fclose(f) != 0 || !written || !MoveFileExW(temp, flag, MOVEFILE_REPLACE_EXISTING)) return 3;
    for (int i = 0; i < 60000 && GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
    CloseHandle(h);
    return 0;
}

static HWND AwaitWindow(const wchar_t* caption) {
    for (int i = 0; i < 1000; ++i) {
        HWND w = FindWindowW(NULL, caption);
        if (w && IsWindowVisible(w)) return w;
        Sleep(10);
    }
    return NULL;
}

static int Close(const wchar_t* caption) {
    HWND w = AwaitWindow(caption);
    return w && PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 64;
    if (argc == 4 && lstrcmpW(argv[1], L"hold") == 0) return Hold(argv[2], argv[3]);
    if (argc == 3 && lstrcmpW(argv[1], L"close") == 0) return Close(argv[2]);
    return 64;
}
