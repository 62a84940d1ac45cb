/* A stand-in for one of the suite's programs in the Windows end-to-end test
 * and demo: appends "<UE_LABEL> <local time>" to "<its own path>.started", so
 * a test sees that it ran and which copy ran (the installed one or the one
 * refreshed from update\). */
#include <windows.h>

#include <stdio.h>

#ifndef UE_LABEL
#define UE_LABEL "started"
#endif

int main(void) {
    wchar_t self[4096];
    DWORD n = GetModuleFileNameW(NULL, self, 4000);
    if (n == 0 || n >= 4000) return 99;
    wchar_t mark[4200];
    _snwprintf(mark, 4200, L"%ls.started", self);
    SYSTEMTIME t;
    GetLocalTime(&t);
    FILE* f = _wfopen(mark, L"ab");
    if (!f) return 98;
    fprintf(f, "%s %02u:%02u:%02u\n", UE_LABEL, t.wHour, t.wMinute, t.wSecond);
    return fclose(f) == 0 ? 0 : 97;
}
