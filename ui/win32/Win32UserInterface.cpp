#include "ui/win32/Win32UserInterface.h"

#include "ui/win32/ErrorBox.h"

namespace ue {

void Win32UserInterface::ShowFileInUseDialog(const std::string& message,
                                             const std::vector<RunningProgram>& holders) {
    info_.ShowFileInUseDialog(message, holders);
}

bool Win32UserInterface::AskRestart() { return AskRestartQuestion(static_cast<HWND>(OwnerWindow())); }

WindowHandle Win32UserInterface::OwnerWindow() {
    return main_ != nullptr && IsWindow(main_) ? main_ : nullptr;
}

void Win32UserInterface::ShowProgress(const FileProgress& progress) {
    if (frmMain_ != nullptr) frmMain_->ShowProgress(progress);
}

}  // namespace ue
