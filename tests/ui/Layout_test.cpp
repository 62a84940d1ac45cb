// The live Qt windows against the layout table: every window's caption, size,
// frame and font, and every component's name, text, placement, font, colour,
// visibility and tab order, each entry checked once.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <algorithm>
#include <vector>

#include "records/TableCursor.h"
#include "ui/Layout.h"
#include "ui/qt/Info.h"
#include "ui/qt/QtLayout.h"
#include "ui/qt/SysProgress.h"
#include "ui/qt/updateExeMain.h"

namespace ue {
namespace {

QString TextOf(const QWidget* widget) {
    if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
    return {};
}

// The next widget after `widget` in the focus chain that Tab stops at.
QWidget* NextTabStop(QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != nullptr && next != widget && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

template <std::size_t N>
void CheckWindow(QWidget& window, const layout::Form& form, const layout::Control* const (&controls)[N]) {
    SCOPED_TRACE(form.name);
    EXPECT_EQ(window.objectName(), QString::fromLatin1(form.name));
    EXPECT_EQ(window.windowTitle(), ToQString(form.caption));
    EXPECT_EQ(window.font().pixelSize(), form.fontPixels);
    EXPECT_EQ(window.font().family(), SongFamily());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_EQ(bool(flags & Qt::WindowCloseButtonHint), form.closeButton);
    EXPECT_EQ(bool(flags & Qt::WindowStaysOnTopHint), form.staysOnTop);
    EXPECT_EQ(window.minimumSize() != window.maximumSize(), form.resizable);
    if (form.outerSize) {
        window.show();
        QApplication::processEvents();
        EXPECT_EQ(window.frameGeometry().size(), QSize(form.width, form.height));
        window.hide();
    } else {
        EXPECT_EQ(window.size(), QSize(form.width, form.height));
    }

    std::vector<const layout::Control*> tabStops;
    for (const layout::Control* entry : controls) {
        SCOPED_TRACE(entry->name);
        auto* widget = window.findChild<QWidget*>(QString::fromLatin1(entry->name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(TextOf(widget), ToQString(entry->text));
        if (entry->place.SizedToText()) {
            EXPECT_EQ(widget->pos(), QPoint(entry->place.left, entry->place.top));
            EXPECT_EQ(widget->size(), widget->sizeHint());
        } else {
            EXPECT_EQ(widget->geometry(), ToQRect(entry->place));
        }
        EXPECT_EQ(widget->font().pixelSize(), entry->fontPixels);
        if (entry->colour) {
            EXPECT_EQ(widget->palette().color(QPalette::WindowText), ToQColor(*entry->colour));
        }
        EXPECT_EQ(widget->isHidden(), !entry->visible);
        if (entry->tabOrder >= 0) tabStops.push_back(entry);
    }
    std::sort(tabStops.begin(), tabStops.end(),
              [](auto* a, auto* b) { return a->tabOrder < b->tabOrder; });
    for (std::size_t i = 0; i + 1 < tabStops.size(); ++i) {
        auto* from = window.findChild<QWidget*>(QString::fromLatin1(tabStops[i]->name));
        auto* to = window.findChild<QWidget*>(QString::fromLatin1(tabStops[i + 1]->name));
        EXPECT_EQ(NextTabStop(from), to) << tabStops[i]->name << " -> " << tabStops[i + 1]->name;
    }
}

TEST(Layout, LiveWindowsMatchTheTable) {
    Connection connection;  // never opened: the grids show closed tables
    TableCursor downloads{connection, "DownLoadFileLog"};
    TableCursor applied{connection, "UpdateFileLog"};
    TFrmMain main(downloads, applied, [] {});
    CheckWindow(main, layout::FrmMain.form, layout::FrmMain.controls);
    EXPECT_EQ(main.CircularProgress1->StepTimer()->interval(), layout::BusyIndicator.intervalMs);
    EXPECT_EQ(main.CircularProgress1->Minimum(), layout::BusyIndicator.minimum);
    EXPECT_EQ(main.CircularProgress1->Maximum(), layout::BusyIndicator.maximum);

    TFrmInfo info;
    CheckWindow(info, layout::FrmInfo.form, layout::FrmInfo.controls);

    TFrmProgress progress;
    CheckWindow(progress, layout::FrmProgress.form, layout::FrmProgress.controls);
    EXPECT_EQ(progress.Timer->interval(), layout::FrmProgress.Timer.intervalMs);
    EXPECT_EQ(progress.ProgressBar->minimum(), layout::FrmProgress.gaugeMinimum);
    EXPECT_EQ(progress.ProgressBar->maximum(), layout::FrmProgress.gaugeMaximum);
    const QString style = progress.ProgressBar->styleSheet();
    EXPECT_TRUE(style.contains(ToQColor(layout::FrmProgress.gaugeBar).name())) << style.toStdString();
    EXPECT_TRUE(style.contains(ToQColor(layout::FrmProgress.gaugeBackground).name()))
        << style.toStdString();
}

}  // namespace
}  // namespace ue
