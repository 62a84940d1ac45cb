/* A library whose DllRegisterServer never returns: it logs "crash" to the
 * file named by UE_REG_LOG, then aborts (UE_REG_CRASH 1), dies of a
 * segmentation fault (2), waits for ever (3) or ends its process with exit
 * code 0 (4). */
#define _GNU_SOURCE
#include <signal.h>
#include <stdint.h>
#include <sys/prctl.h>
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
    /* Should the caller fail to kill it, it ends with the test that started
     * the caller, so that it never holds the test's output open. */
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    for (;;) pause();
}
