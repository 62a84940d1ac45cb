/* A library whose DllRegisterServer returns UE_REG_STATUS and appends that
 * status to the file named by UE_REG_LOG, so tests see each call. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

__attribute__((visibility("default"))) int32_t DllRegisterServer(void) {
    const char* log = getenv("UE_REG_LOG");
    if (log) {
        FILE* f = fopen(log, "a");
        if (f) {
            fprintf(f, "%ld\n", (long)(UE_REG_STATUS));
            fclose(f);
        }
    }
    return (int32_t)(UE_REG_STATUS);
}
