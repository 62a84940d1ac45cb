#include "ui/UserInterfaceRules.h"

#include <unistd.h>

namespace ue {

void AbortInstallation() { _exit(0); }

}  // namespace ue
