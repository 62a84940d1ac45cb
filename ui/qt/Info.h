// FrmInfo: the modal dialog "替换文件出错" shown while a file to be replaced
// is held open by a running program.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <string>
#include <vector>

#include "sysops/ProcessControl.h"
#include "ui/Layout.h"

namespace ue {

class TFrmInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr int kContinue = layout::mrContinue;  // "继续.." or Enter
    static constexpr int kAbort = layout::mrAbort;        // close button, or end of application

    explicit TFrmInfo(QWidget* parent = nullptr);

    // Shows `message` modally and, below it, the programs that hold the file
    // (the dialog grows for them). Returns only when the user chose "继续..".
    // Esc or "中止安装" ends the process at once (exit code: AbortExitCode). Any other
    // end (close button, end of application) requests the end of the
    // application and raises SilentAbort.
    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders = {});

    // "中止安装": ends the own process at once (exit code: AbortExitCode); no clean-up.
    void Button2Click();

    QLabel* lbl1;
    QPushButton* Button1;
    QPushButton* Button2;
    QLabel* lblHolders;         // shown with the list only
    QListWidget* lstHolders;    // read-only, one row per program

    void reject() override;

protected:
    // Fills the list and sizes the dialog for it.
    void ShowHolders(const std::vector<RunningProgram>& holders);
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ue
