/* A library for the Windows registration tests. With UE_REG_STATUS, its
 * DllRegisterServer returns that status and appends it to the file named by
 * UE_REG_LOG, so tests see each call; without, it has no such entry. */
#include <windows.h>

#include <stdio.h>

#ifdef UE_REG_STATUS
__declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    /* The process's environment, not the C runtime's copy taken at start. */
    char log[1024];
    DWORD n = GetEnvironmentVariableA("UE_REG_LOG", log, sizeof log);
    if (n > 0 && n < sizeof log) {
        FILE* f = fopen(log, "ab");
        if (f) {
            fprintf(f, "%ld\n", (long)(UE_REG_STATUS));
            fclose(f);
        }
    }
    return (HRESULT)(UE_REG_STATUS);
}
#else
__declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer(void) { return 0; }
#endif
