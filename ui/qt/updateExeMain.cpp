#include "ui/qt/updateExeMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include "core/MessageTable.h"
#include "ui/qt/ErrorBox.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/QtLayout.h"

namespace ue {

TFrmMain::TFrmMain(TableCursor& downloads, TableCursor& applied, std::function<void()> runUpdate,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | CaptionFlags(layout::FrmMain.form)),
      runUpdate_(std::move(runUpdate)) {
    const layout::FrmMainLayout& table = layout::FrmMain;
    setObjectName(QString::fromLatin1(table.form.name));
    setWindowTitle(ToQString(table.form.caption));
    setFont(SongFont(table.form.fontPixels));

    // The controls lie on a page inside a scroll area, so that scroll bars
    // appear when the window is made smaller than its contents.
    ScrollBox = new QScrollArea(this);
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setWidgetResizable(true);
    ScrollBox->setFocusPolicy(Qt::NoFocus);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Page"));

    Label1 = new QLabel(ToQString(table.Label1.text), page);
    ApplyLayout(Label1, table.Label1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QString::fromLatin1(table.Timer1.name));
    Timer1->setInterval(table.Timer1.intervalMs);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TFrmMain::Timer1Timer);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QString::fromLatin1(table.Timer2.name));
    Timer2->setInterval(table.Timer2.intervalMs);
    connect(Timer2, &QTimer::timeout, this, &TFrmMain::Timer2Timer);
    if (table.Timer2.enabledAtCreation) Timer2->start();

    CircularProgress1 = new CircularProgress(page);
    ApplyLayout(CircularProgress1, table.CircularProgress1);

    DBGrid1 = new TableGrid(downloads, page);
    ApplyLayout(DBGrid1, table.DBGrid1);

    DBGrid2 = new TableGrid(applied, page);
    ApplyLayout(DBGrid2, table.DBGrid2);
    setTabOrder(DBGrid1, DBGrid2);

    ProgressFile = new QLabel(page);
    ApplyLayout(ProgressFile, table.ProgressFile);
    ProgressFile->setTextFormat(Qt::PlainText);
    ProgressPlace = new QLabel(page);
    ApplyLayout(ProgressPlace, table.ProgressPlace);

    // What a screen reader says for them.
    DBGrid1->setAccessibleName(QString::fromStdString(Message(MessageId::DownloadsGridName)));
    DBGrid2->setAccessibleName(QString::fromStdString(Message(MessageId::AppliedGridName)));
    CircularProgress1->setAccessibleName(QString::fromStdString(Message(MessageId::IndicatorName)));
    ProgressFile->setAccessibleName(QString::fromStdString(Message(MessageId::ProgressFileName)));
    ProgressPlace->setAccessibleName(QString::fromStdString(Message(MessageId::ProgressPlaceName)));

    const QRect used = page->childrenRect();
    page->setMinimumSize(used.right() + 1, used.bottom() + 1);
    ScrollBox->setWidget(page);
    ScrollBox->setGeometry(rect());

    resize(kOuterWidth, kOuterHeight);
}

void TFrmMain::FormShow() { Timer1->start(); }

void TFrmMain::Timer1Timer() {
    Timer1->stop();
    running_ = true;
    pumps_.Start(SteadyMs());
    std::exception_ptr error;
    try {
        runUpdate_();
    } catch (...) {
        error = std::current_exception();
    }
    pumps_.Stop(SteadyMs());
    running_ = false;
    WritePumpTrace(pumps_);
    if (error) {
        if (const auto text = ErrorBoxText(error)) {
            ShowFailed();
            ShowErrorBox(*text, this);
        }
        // A close asked for during the run is carried out now.
        if (closeWanted_) close();
        return;
    }
    close();
}

void TFrmMain::ShowProgress(const FileProgress& progress) {
    if (progress_.Take(progress, SteadyMs())) {
        ProgressFile->setText(QString::fromStdString(progress_.FileText()));
        ProgressPlace->setText(QString::fromStdString(progress_.PlaceText()));
    }
    PumpMessages();
}

void TFrmMain::PumpMessages() {
    if (!pumps_.Due(SteadyMs())) return;
    QCoreApplication::processEvents();
    pumps_.Pumped(SteadyMs());
}

void TFrmMain::ShowFailed() {
    Label1->setText(QString::fromStdString(Message(MessageId::UpdateFailed)));
    Label1->adjustSize();
    Timer2->stop();
    CircularProgress1->StepTimer()->stop();
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
    // The run works in this window's handlers: the window must outlive it.
    // The close is carried out when the run returns.
    if (running_) {
        closeWanted_ = true;
        event->ignore();
        return;
    }
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
