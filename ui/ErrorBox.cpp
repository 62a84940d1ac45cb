#include "ui/ErrorBox.h"

#include <QMessageBox>
#include <exception>

#include "core/Errors.h"
#include "ui/Fonts.h"

namespace ue {

QString ApplicationTitle() { return QStringLiteral("Morvel升级"); }

std::string WithFullStop(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
    return message;
}

void ShowErrorBox(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                    QString::fromStdString(WithFullStop(message)), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);
    box.setFont(SongFont(12));
    // The upgrade window stays on top; the box must not hide behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void ReportException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const SilentAbort&) {
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    } catch (...) {
        ShowErrorBox("Unknown exception");
    }
}

}  // namespace ue
