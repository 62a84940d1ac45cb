// The toolkit of an unattended run: no window, no display. The run goes as
// it goes in front of a person who answers every question the same way: a
// held file takes the "continue" road (its programs are stopped, the copy
// is retried, then the file is left for the restart), and the restart
// question is answered "no restart". Errors go to stderr.
#pragma once

#include <functional>
#include <string>

#include "ui/Program.h"

namespace ue {

class UnattendedToolkit : public Toolkit, private UserInterface {
public:
    // "UpdateExe: <text>" on stderr.
    void ShowErrorBox(const std::string& text) override;
    UserInterface& CreateWindows(TDM_Update& DM_Update, std::function<void()> runUpdate) override;
    // Runs the update once; its error is reported as the error box would.
    void Loop() override;
    void DestroyWindows() noexcept override;

private:
    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders) override;
    bool AskRestart() override;
    WindowHandle OwnerWindow() override;

    std::function<void()> runUpdate_;
};

}  // namespace ue
