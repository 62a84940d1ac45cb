#include "ui/UserInterfaceRules.h"

#include <windows.h>

namespace ue {

void AbortInstallation() {
    TerminateProcess(GetCurrentProcess(), 0);
    // TerminateProcess on the own process does not return; should it fail:
    ExitProcess(0);
}

}  // namespace ue
