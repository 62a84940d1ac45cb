// The update run's view of the person at the screen, through the Win32 windows.
#pragma once

#include <windows.h>

#include "run/UserInterface.h"
#include "ui/win32/Info.h"
#include "ui/win32/updateExeMain.h"

namespace ue {

class Win32UserInterface : public UserInterface {
public:
    // `frmMain`, when given, shows the run's progress.
    Win32UserInterface(TFrmInfo& info, HWND mainWindow, TFrmMain* frmMain = nullptr)
        : info_(info), main_(mainWindow), frmMain_(frmMain) {}

    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders) override;
    bool AskRestart() override;
    // The main window; nullptr once it is gone.
    WindowHandle OwnerWindow() override;
    void ShowProgress(const FileProgress& progress) override;

private:
    TFrmInfo& info_;
    HWND main_;
    TFrmMain* frmMain_;
};

}  // namespace ue
