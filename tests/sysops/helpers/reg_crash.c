/* A library whose DllRegisterServer never returns: it logs "crash" to the
 * file named by UE_REG_LOG, then aborts (UE_REG_CRASH 1), dies of a
 * segmentation fault (2), waits for ever (3) or ends its process with exit
 * code 0 (4). */
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((visibility("default"))) int32_t DllRegisterServer(void) {
    const char* log = getenv("UE_REG_LOG");
    if (log) {
        FILE* f = fopen(log, "a");
        if (f) {
            fputs("crash\n", f);
            fclose(f);
        }
    }
#if UE_REG_CRASH == 1
    abort();
#elif UE_REG_CRASH == 2
    raise(SIGSEGV);
#elif UE_REG_CRASH == 4
    _exit(0);
#endif
    for (;;) pause();
}
