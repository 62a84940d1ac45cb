#include "ui/Unattended.h"

#include <cstdio>
#include <exception>

#include "ui/ErrorMessage.h"

namespace ue {

void UnattendedToolkit::ShowErrorBox(const std::string& text) {
    std::fputs(("UpdateExe: " + text + "\n").c_str(), stderr);
}

UserInterface& UnattendedToolkit::CreateWindows(TDM_Update&, std::function<void()> runUpdate) {
    runUpdate_ = std::move(runUpdate);
    return *this;
}

void UnattendedToolkit::Loop() {
    if (!runUpdate_) return;
    try {
        runUpdate_();
    } catch (...) {
        if (const auto text = ErrorBoxText(std::current_exception())) ShowErrorBox(*text);
    }
}

void UnattendedToolkit::DestroyWindows() noexcept { runUpdate_ = nullptr; }

// "Continue": the run stops the programs, retries, and leaves the file for
// the restart when it stays held.
void UnattendedToolkit::ShowFileInUseDialog(const std::string&, const std::vector<RunningProgram>&) {}

bool UnattendedToolkit::AskRestart() { return false; }

WindowHandle UnattendedToolkit::OwnerWindow() { return nullptr; }

}  // namespace ue
