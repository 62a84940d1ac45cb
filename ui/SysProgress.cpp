#include "ui/SysProgress.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include "ui/Fonts.h"

namespace ue {

TFrmProgress::TFrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("FrmProgress"));
    setWindowTitle(QStringLiteral("正在处理..."));
    setFixedSize(330, 108);
    setFont(SongFont(12));

    LabelInfo = new QLabel(QStringLiteral("请稍侯..."), this);
    LabelInfo->setObjectName(QStringLiteral("LabelInfo"));
    LabelInfo->move(120, 56);
    LabelInfo->adjustSize();

    LabelTitle = new QLabel(QStringLiteral("正在加载数据"), this);
    LabelTitle->setObjectName(QStringLiteral("LabelTitle"));
    LabelTitle->move(48, 16);
    LabelTitle->adjustSize();

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, &TFrmProgress::TimerTimer);

    Button1 = new QPushButton(QStringLiteral("取消"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(120, 72, 81, 25);
    connect(Button1, &QPushButton::clicked, this, &TFrmProgress::Button1Click);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(48, 32, 249, 17);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(true);
    ProgressBar->setAlignment(Qt::AlignCenter);
    ProgressBar->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid gray; background: white; color: black; }"
        "QProgressBar::chunk { background: rgb(0, 255, 0); }"));

    edtTimes = new QLineEdit(QStringLiteral("0"), this);
    edtTimes->setObjectName(QStringLiteral("edtTimes"));
    edtTimes->setGeometry(230, 64, 65, 20);
    edtTimes->hide();

    setTabOrder(Button1, edtTimes);
}

void TFrmProgress::SetGauge(int value) { ProgressBar->setValue(std::clamp(value, 0, 100)); }

void TFrmProgress::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
        FormShow();
    }
    QWidget::showEvent(event);
}

void TFrmProgress::FormShow() {
    SetGauge(0);
    LabelTitle->setText(QStringLiteral("正在加载数据..."));
    LabelTitle->adjustSize();
}

void TFrmProgress::TimerTimer() {
    SetGauge(Gauge() + 1);
    QCoreApplication::processEvents();
    raise();
    activateWindow();
}

void TFrmProgress::Button1Click() { hide(); }

}  // namespace ue
