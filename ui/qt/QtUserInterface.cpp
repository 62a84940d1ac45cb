#include "ui/qt/QtUserInterface.h"

#include <QMessageBox>

#include "ui/qt/QtLayout.h"

namespace ue {

bool AskRestartQuestion(QWidget* owner) {
    const layout::Question& table = layout::RestartQuestion;
    QMessageBox box(QMessageBox::Question, ToQString(table.caption), ToQString(table.text),
                    QMessageBox::Ok | QMessageBox::Cancel, owner);
    box.setObjectName(QStringLiteral("RestartQuestion"));
    box.setFont(SongFont(table.fontPixels));
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setWindowModality(Qt::ApplicationModal);
    if (owner == nullptr) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Ok;
}

void QtUserInterface::ShowFileInUseDialog(const std::string& message) {
    info_.ShowFileInUseDialog(message);
}

bool QtUserInterface::AskRestart() { return AskRestartQuestion(main_); }

WindowHandle QtUserInterface::OwnerWindow() {
    if (main_ == nullptr) return nullptr;
    return reinterpret_cast<WindowHandle>(main_->internalWinId());
}

}  // namespace ue
