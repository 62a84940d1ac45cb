// The update run's view of the person at the screen, through the Qt windows.
#pragma once

#include <QWidget>

#include <string>

#include "run/UserInterface.h"
#include "ui/qt/Info.h"
#include "ui/qt/updateExeMain.h"

namespace ue {

// The restart question: caption "提示", OK and Cancel, a question icon, owned
// by `owner`, with `note` (when not empty) below its fixed text. True when
// the user chose OK.
bool AskRestartQuestion(QWidget* owner, const std::string& note = "");

class QtUserInterface : public UserInterface {
public:
    // `mainWindow` shows the run's progress when it is the upgrade window.
    QtUserInterface(TFrmInfo& info, QWidget* mainWindow)
        : info_(info), main_(mainWindow), frmMain_(qobject_cast<TFrmMain*>(mainWindow)) {}

    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders) override;
    bool AskRestart() override;
    // The main window's native handle; nullptr while it has none.
    WindowHandle OwnerWindow() override;
    void ShowProgress(const FileProgress& progress) override;

private:
    TFrmInfo& info_;
    QWidget* main_;
    TFrmMain* frmMain_;
};

}  // namespace ue
