/* A program for the Windows process tests. It writes "<its exe>.report" (its
 * process id, then its command line in UTF-8, written whole through a
 * rename), then exits at once with UE_CHILD_EXIT_CODE when that is set, or
 * sleeps until it is stopped, two minutes at most so that it never outlives a
 * failed test. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(void) {
    wchar_t self[4096];
    DWORD n = GetModuleFileNameW(NULL, self, 4000);
    if (n == 0 || n >= 4000) return 99;
    wchar_t report[4200];
    wchar_t temp[4200];
    _snwprintf(report, 4200, L"%ls.report", self);
    _snwprintf(temp, 4200, L"%ls.report.tmp", self);
    char line[8192];
    int size =
        WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL, NULL);
    if (size == 0) return 98;
    FILE* f = _wfopen(temp, L"wb");
    if (!f) return 98;
    fprintf(f, "%lu\n%s\n", (unsigned long)GetCurrentProcessId(), line);
    if (fclose(f) != 0 || !MoveFileExW(temp, report, MOVEFILE_REPLACE_EXISTING)) return 97;

    const char* code = getenv("UE_CHILD_EXIT_CODE");
    if (code) return atoi(code);
    Sleep(120000);
    return 0;
}
