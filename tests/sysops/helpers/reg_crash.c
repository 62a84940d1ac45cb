/* A library whose DllRegisterServer does not simply return: it logs "crash"
 * to the file named by UE_REG_LOG, then aborts (UE_REG_CRASH 1), dies of a
 * segmentation fault (2), waits for ever (3) or ends its process through
 * exit(0) (4). With 5 it logs "helper", starts a helper process that waits
 * for ever, and returns 0. The process that waits (or, for 5, the entry)
 * appends its id to the file named by UE_REG_PIDS. Nothing here ends with
 * the caller: that is the caller's work; should it fail, SIGALRM ends the wait after a while. */
#define _GNU_SOURCE
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void Append(const char* variable, const char* text, long number) {
    const char* name = getenv(variable);
    if (!name) return;
    FILE* f = fopen(name, "a");
    if (!f) return;
    if (text) fputs(text, f);
    else fprintf(f, "%ld\n", number);
    fclose(f);
}

static void WaitForEver(int recordItself) {
    if (recordItself) Append("UE_REG_PIDS", NULL, (long)getpid());
    alarm(30);
    for (;;) pause();
}

__attribute__((visibility("default"))) int32_t DllRegisterServer(void) {
#if UE_REG_CRASH == 5
    Append("UE_REG_LOG", "helper\n", 0);
    /* The helper's id is written before the entry returns: the caller may
     * end the helper at once, before it could write anything itself. */
    const pid_t helper = fork();
    if (helper == 0) WaitForEver(0);
    Append("UE_REG_PIDS", NULL, (long)helper);
    return 0;
#else
    Append("UE_REG_LOG", "crash\n", 0);
#if UE_REG_CRASH == 1
    abort();
#elif UE_REG_CRASH == 2
    raise(SIGSEGV);
#elif UE_REG_CRASH == 4
    exit(0);
#endif
    WaitForEver(1);
    return 0;
#endif
}
