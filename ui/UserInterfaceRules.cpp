#include "ui/UserInterfaceRules.h"

#include <atomic>

#include "core/Errors.h"
#include "ui/Layout.h"

namespace ue {
namespace {

std::atomic<int> abortExitCode{0};

}  // namespace

void SetAbortExitCode(int code) { abortExitCode = code; }
int AbortExitCode() { return abortExitCode; }

void FinishFileInUseDialog(int modalResult, const std::function<void()>& requestEnd) {
    if (modalResult == layout::mrContinue) return;
    requestEnd();
    throw SilentAbort();
}

}  // namespace ue
