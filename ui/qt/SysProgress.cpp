#include "ui/qt/SysProgress.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include "ui/qt/Fonts.h"
#include "ui/qt/QtLayout.h"

namespace ue {

TFrmProgress::TFrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | CaptionFlags(layout::FrmProgress.form)) {
    const layout::FrmProgressLayout& table = layout::FrmProgress;
    setObjectName(QString::fromLatin1(table.form.name));
    setWindowTitle(ToQString(table.form.caption));
    setFixedSize(table.form.width, table.form.height);
    setFont(SongFont(table.form.fontPixels));

    LabelInfo = new QLabel(ToQString(table.LabelInfo.text), this);
    ApplyLayout(LabelInfo, table.LabelInfo);

    LabelTitle = new QLabel(ToQString(table.LabelTitle.text), this);
    ApplyLayout(LabelTitle, table.LabelTitle);

    Timer = new QTimer(this);
    Timer->setObjectName(QString::fromLatin1(table.Timer.name));
    Timer->setInterval(table.Timer.intervalMs);
    connect(Timer, &QTimer::timeout, this, &TFrmProgress::TimerTimer);

    Button1 = new QPushButton(ToQString(table.Button1.text), this);
    ApplyLayout(Button1, table.Button1);
    connect(Button1, &QPushButton::clicked, this, &TFrmProgress::Button1Click);

    ProgressBar = new QProgressBar(this);
    ApplyLayout(ProgressBar, table.ProgressBar);
    ProgressBar->setRange(table.gaugeMinimum, table.gaugeMaximum);
    ProgressBar->setValue(table.gaugeMinimum);
    ProgressBar->setTextVisible(true);
    ProgressBar->setAlignment(Qt::AlignCenter);
    const QColor bar = ToQColor(table.gaugeBar);
    const QColor background = ToQColor(table.gaugeBackground);
    ProgressBar->setStyleSheet(
        QStringLiteral("QProgressBar { border: 1px solid gray; background: %1; color: black; }"
                       "QProgressBar::chunk { background: %2; }")
            .arg(background.name(), bar.name()));

    edtTimes = new QLineEdit(ToQString(table.edtTimes.text), this);
    ApplyLayout(edtTimes, table.edtTimes);

    setTabOrder(Button1, edtTimes);
}

void TFrmProgress::SetGauge(int value) {
    ProgressBar->setValue(
        std::clamp(value, layout::FrmProgress.gaugeMinimum, layout::FrmProgress.gaugeMaximum));
}

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
    SetGauge(layout::FrmProgress.gaugeMinimum);
    LabelTitle->setText(ToQString(layout::FrmProgress.LabelTitleShown));
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
