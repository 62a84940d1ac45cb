#include "ui/UserInterfaceRules.h"

#include <windows.h>

namespace ue {

void AbortInstallation() {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(AbortExitCode()));
    // TerminateProcess on the own process does not return; should it fail:
    ExitProcess(static_cast<UINT>(AbortExitCode()));
}

}  // namespace ue
