/* A library whose DllRegisterServer does not return: it appends "crash" to
 * the file named by UE_REG_LOG, then faults on a null pointer (UE_REG_CRASH
 * 1), waits (3) or ends its process through exit(0) (4). The wait ends after
 * two minutes should the caller fail to end it. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

__declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    char log[1024];
    DWORD n = GetEnvironmentVariableA("UE_REG_LOG", log, sizeof log);
    if (n > 0 && n < sizeof log) {
        FILE* f = fopen(log, "ab");
        if (f) {
            fputs("crash\n", f);
            fclose(f);
        }
    }
#if UE_REG_CRASH == 1
    *(volatile int*)0 = 1;
#elif UE_REG_CRASH == 4
    exit(0);
#endif
    Sleep(120000);
    return 0;
}
