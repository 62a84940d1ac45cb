#include "ui/QtUserInterface.h"

#include <QMessageBox>

#include "ui/Fonts.h"

namespace ue {

bool AskRestartQuestion(QWidget* owner) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("提示"),
                    QStringLiteral("系统需要重新启动，点确认重启！"),
                    QMessageBox::Ok | QMessageBox::Cancel, owner);
    box.setObjectName(QStringLiteral("RestartQuestion"));
    box.setFont(SongFont(12));
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
