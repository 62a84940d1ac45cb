#include "ui/UserInterfaceRules.h"

#include <unistd.h>

namespace ue {

void AbortInstallation() { _exit(AbortExitCode()); }

}  // namespace ue
