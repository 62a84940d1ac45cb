#include "ui/updateExeMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include "ui/ErrorBox.h"
#include "ui/Fonts.h"

namespace ue {

TFrmMain::TFrmMain(TableCursor& downloads, TableCursor& applied, std::function<void()> runUpdate,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      runUpdate_(std::move(runUpdate)) {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("正在升级文件"));
    setFont(SongFont(13));

    // The controls lie on a page inside a scroll area, so that scroll bars
    // appear when the window is made smaller than its contents.
    ScrollBox = new QScrollArea(this);
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setWidgetResizable(true);
    ScrollBox->setFocusPolicy(Qt::NoFocus);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Page"));

    Label1 = new QLabel(QStringLiteral("正在升级文件,请稍候..."), page);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(SongFont(13));
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label1->setPalette(red);
    Label1->move(32, 16);
    Label1->adjustSize();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(3000);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TFrmMain::Timer1Timer);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &TFrmMain::Timer2Timer);
    Timer2->start();

    CircularProgress1 = new CircularProgress(page);
    CircularProgress1->setObjectName(QStringLiteral("CircularProgress1"));
    CircularProgress1->setGeometry(192, 8, 33, 33);

    DBGrid1 = new TableGrid(downloads, page);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(16, 40, 481, 137);

    DBGrid2 = new TableGrid(applied, page);
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setGeometry(16, 192, 481, 137);
    setTabOrder(DBGrid1, DBGrid2);

    const QRect used = page->childrenRect();
    page->setMinimumSize(used.right() + 1, used.bottom() + 1);
    ScrollBox->setWidget(page);
    ScrollBox->setGeometry(rect());

    resize(kOuterWidth, kOuterHeight);
}

void TFrmMain::FormShow() { Timer1->start(); }

void TFrmMain::Timer1Timer() {
    Timer1->stop();
    try {
        runUpdate_();
    } catch (...) {
        ReportException(std::current_exception());
        return;
    }
    close();
}

void TFrmMain::Timer2Timer() {
    QCoreApplication::processEvents();
    CircularProgress1->SetPosition(CircularProgress1->Position() + 1);
}

void TFrmMain::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        PlaceWindow();
        FormShow();
        // A window manager adds its frame a moment after the window is
        // mapped and sends no event for it: look for it for a second.
        frameChecks_ = 20;
        QTimer::singleShot(50, this, &TFrmMain::CheckFrame);
    }
    QWidget::showEvent(event);
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    // A run that has not started never starts.
    Timer1->stop();
    QWidget::closeEvent(event);
}

void TFrmMain::resizeEvent(QResizeEvent* event) {
    ScrollBox->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void TFrmMain::CheckFrame() {
    const QWindow* window = windowHandle();
    if (window == nullptr || !isVisible()) return;
    if (!window->frameMargins().isNull()) {
        PlaceWindow();
    } else if (--frameChecks_ > 0) {
        QTimer::singleShot(50, this, &TFrmMain::CheckFrame);
    }
}

void TFrmMain::PlaceWindow() {
    const QWindow* window = windowHandle();
    const QMargins frame = window != nullptr ? window->frameMargins() : QMargins();
    resize(kOuterWidth - frame.left() - frame.right(), kOuterHeight - frame.top() - frame.bottom());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
    }
}

}  // namespace ue
