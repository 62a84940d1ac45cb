// The update run's view of the person at the screen, through the Win32 windows.
#pragma once

#include <windows.h>

#include "run/UserInterface.h"
#include "ui/win32/Info.h"

namespace ue {

class Win32UserInterface : public UserInterface {
public:
    Win32UserInterface(TFrmInfo& info, HWND mainWindow) : info_(info), main_(mainWindow) {}

    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders) override;
    bool AskRestart() override;
    // The main window; nullptr once it is gone.
    WindowHandle OwnerWindow() override;

private:
    TFrmInfo& info_;
    HWND main_;
};

}  // namespace ue
