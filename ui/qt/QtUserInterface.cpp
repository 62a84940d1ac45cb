#include "ui/qt/QtUserInterface.h"

#include <QMessageBox>

#include <cstdio>

#include "sysops/PendingRenames.h"
#include "ui/qt/QtLayout.h"

namespace ue {

bool AskRestartQuestion(QWidget* owner, const std::string& note) {
    const layout::Question& table = layout::RestartQuestion;
    QMessageBox box(QMessageBox::Question, ToQString(table.caption), ToQString(table.text),
                    QMessageBox::Ok | QMessageBox::Cancel, owner);
    if (!note.empty()) box.setInformativeText(QString::fromStdString(note));  // below the question
    box.setObjectName(QStringLiteral("RestartQuestion"));
    box.setFont(SongFont(table.fontPixels));
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setWindowModality(Qt::ApplicationModal);
    if (owner == nullptr) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Ok;
}

void QtUserInterface::ShowFileInUseDialog(const std::string& message,
                                          const std::vector<RunningProgram>& holders) {
    info_.ShowFileInUseDialog(message, holders);
}

bool QtUserInterface::AskRestart() {
    // A queued file that nothing will replace is said where the user looks.
    const std::string note = RestartReplacementWarning();
    if (!note.empty()) std::fprintf(stderr, "UpdateExe: %s\n", note.c_str());
    return AskRestartQuestion(main_, note);
}

WindowHandle QtUserInterface::OwnerWindow() {
    if (main_ == nullptr) return nullptr;
    return reinterpret_cast<WindowHandle>(main_->internalWinId());
}

void QtUserInterface::ShowProgress(const FileProgress& progress) {
    if (frmMain_ != nullptr) frmMain_->ShowProgress(progress);
}

}  // namespace ue
