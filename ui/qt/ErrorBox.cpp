#include "ui/qt/ErrorBox.h"

#include <QMessageBox>

#include "ui/Layout.h"
#include "ui/qt/QtLayout.h"

namespace ue {

QString ApplicationTitle() { return ToQString(layout::kApplicationTitle); }

void ShowErrorBox(const std::string& text, QWidget* owner) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromStdString(text),
                    QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);
    box.setFont(SongFont(layout::kErrorBoxFontPixels));
    // The upgrade window stays on top; the box must not hide behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void ReportException(std::exception_ptr error) {
    if (const auto text = ErrorBoxText(error)) ShowErrorBox(*text);
}

}  // namespace ue
