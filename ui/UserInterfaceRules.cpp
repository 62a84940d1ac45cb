#include "ui/UserInterfaceRules.h"

#include "core/Errors.h"
#include "ui/Layout.h"

namespace ue {

void FinishFileInUseDialog(int modalResult, const std::function<void()>& requestEnd) {
    if (modalResult == layout::mrContinue) return;
    requestEnd();
    throw SilentAbort();
}

}  // namespace ue
