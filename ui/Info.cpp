#include "ui/Info.h"

#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>

#include "core/Errors.h"
#include "ui/Fonts.h"

namespace ue {

TFrmInfo::TFrmInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint |
                          Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmInfo"));
    setWindowTitle(QStringLiteral("替换文件出错"));
    setFixedSize(482, 146);
    setFont(SongFont(12));

    Button1 = new QPushButton(QStringLiteral("继续.."), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(156, 114, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(kContinue); });

    Button2 = new QPushButton(QStringLiteral("中止安装"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(260, 114, 75, 25);
    connect(Button2, &QPushButton::clicked, this, &TFrmInfo::Button2Click);

    lbl1 = new QLabel(this);
    lbl1->setObjectName(QStringLiteral("lbl1"));
    lbl1->setGeometry(24, 16, 433, 81);
    lbl1->setWordWrap(true);
    lbl1->setTextFormat(Qt::PlainText);
    lbl1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbl1->setFont(SongFont(14));
    QPalette green = lbl1->palette();
    green.setColor(QPalette::WindowText, QColor(0, 128, 0));
    lbl1->setPalette(green);

    setTabOrder(Button1, Button2);
}

void TFrmInfo::ShowFileInUseDialog(const std::string& message) {
    // The messages break lines with CR LF; the label breaks on LF alone.
    QString text = QString::fromStdString(message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lbl1->setText(text);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    Button1->setFocus();
    if (exec() == kContinue) return;
    QCoreApplication::exit(0);
    throw SilentAbort();
}

void TFrmInfo::Button2Click() { _exit(0); }

void TFrmInfo::reject() { done(kAbort); }

void TFrmInfo::keyPressEvent(QKeyEvent* event) {
    // Esc presses "中止安装", as a cancel button does; QDialog would reject.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Button2->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ue
