/* A library without an entry of its own that depends on one which has it. */
#include <stdint.h>

int32_t DllRegisterServer(void);

__attribute__((visibility("default"))) int32_t CallsDependency(void) {
    return DllRegisterServer();
}
