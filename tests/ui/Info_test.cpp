// The file-in-use dialog: its three ways out (its layout: Layout_test).
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <unistd.h>
#include <functional>
#include <vector>

#include "core/MessageTable.h"
#include "core/Errors.h"
#include "ui/qt/Info.h"

namespace ue {
namespace {

// Runs `action` on the dialog once its modal loop is running.
void WhenShown(TFrmInfo& info, std::function<void()> action) {
    auto* poll = new QTimer(&info);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [&info, action, poll] {
        if (!info.isVisible() || QApplication::activeModalWidget() != &info) return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}

void PressKey(TFrmInfo& info, Qt::Key key) {
    QWidget* target = info.focusWidget() ? info.focusWidget() : &info;
    QTest::keyClick(target, key);
}

TEST(FrmInfo, FixedFrameAndTheLabelWrapsPlainText) {
    TFrmInfo info;
    const Qt::WindowFlags flags = info.windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(info.isHidden());
    EXPECT_TRUE(info.lbl1->wordWrap());
    EXPECT_TRUE(info.lbl1->text().isEmpty());
    EXPECT_TRUE(info.Button1->isDefault());
}

TEST(FrmInfo, ContinuingAndEachMessageReplacingTheLastWithoutGrowing) {
    TFrmInfo info;
    WhenShown(info, [&] {
        EXPECT_EQ(info.focusWidget(), info.Button1);
        PressKey(info, Qt::Key_Return);
    });
    info.ShowFileInUseDialog("C:/suite/a.dll 正在使用\r\n请关闭程序");
    EXPECT_EQ(info.lbl1->text(), QStringLiteral("C:/suite/a.dll 正在使用\n请关闭程序"));
    EXPECT_FALSE(info.isVisible());

    WhenShown(info, [&] { info.Button1->click(); });
    info.ShowFileInUseDialog("second");
    EXPECT_EQ(info.lbl1->text(), QStringLiteral("second"));

    // Too long for the label: cut off at its edge, never read as markup.
    const std::string longText = "<b>" + std::string(4000, 'x') + "</b>";
    WhenShown(info, [&] { PressKey(info, Qt::Key_Enter); });
    info.ShowFileInUseDialog(longText);
    EXPECT_EQ(info.lbl1->text(), QString::fromStdString(longText));
    EXPECT_EQ(info.lbl1->textFormat(), Qt::PlainText);
    EXPECT_EQ(info.size(), QSize(482, 146));
    EXPECT_EQ(info.lbl1->size(), QSize(433, 81));
}

// The programs that hold the file, below the message: one row each, named
// for a screen reader; the dialog grows for them alone and is as before
// without them.
TEST(FrmInfo, ListsTheProgramsHoldingTheFileAndGrowsOnlyForThem) {
    TFrmInfo info;
    const std::vector<RunningProgram> holders{{1234, "notepad.exe"}, {77, "数据.exe"}};
    const int growth = layout::FrmInfoGrowth(2);
    ASSERT_GT(growth, 0);
    WhenShown(info, [&] {
        EXPECT_TRUE(info.lstHolders->isVisible());
        EXPECT_TRUE(info.lblHolders->isVisible());
        ASSERT_EQ(info.lstHolders->count(), 2);
        EXPECT_EQ(info.lstHolders->item(0)->text(), QStringLiteral("notepad.exe (pid 1234)"));
        EXPECT_EQ(info.lstHolders->item(1)->text(), QStringLiteral("数据.exe (pid 77)"));
        EXPECT_EQ(info.lstHolders->accessibleName(), QString::fromStdString(Message(MessageId::HoldersCaption)));
        EXPECT_EQ(info.lblHolders->text(), QString::fromStdString(Message(MessageId::HoldersCaption)));
        // Below the message, above the buttons, all rows in sight.
        EXPECT_GE(info.lblHolders->y(), info.lbl1->geometry().bottom());
        EXPECT_LT(info.lstHolders->geometry().bottom(), info.Button1->y());
        EXPECT_GE(info.lstHolders->height(), 2 * layout::FrmInfoHolders.rowHeight);
        EXPECT_EQ(info.focusWidget(), info.Button1);
        info.Button1->click();
    });
    info.ShowFileInUseDialog("C:/suite/a.dll 正在使用", holders);
    EXPECT_EQ(info.size(), QSize(482, 146 + growth));
    EXPECT_EQ(info.Button1->pos(), QPoint(156, 114 + growth));
    EXPECT_EQ(info.lbl1->geometry(), QRect(24, 16, 433, 81));

    // None known (Wine, a file nobody else holds): exactly the dialog without a list.
    WhenShown(info, [&] {
        EXPECT_FALSE(info.lstHolders->isVisible());
        EXPECT_FALSE(info.lblHolders->isVisible());
        info.Button1->click();
    });
    info.ShowFileInUseDialog("second", {});
    EXPECT_EQ(info.size(), QSize(482, 146));
    EXPECT_EQ(info.Button1->pos(), QPoint(156, 114));
    EXPECT_EQ(info.Button2->pos(), QPoint(260, 114));
}

// The close button requests the end of the application, which would stop
// every later event loop of this process: it runs in a child process, whose
// exit code tells what it saw.
TEST(FrmInfoDeathTest, CloseButtonRequestsTheEndAndAbortsSilently) {
    EXPECT_EXIT(
        {
            TFrmInfo info;
            QEventLoop mainLoop;  // stands for the application's message loop
            bool aborted = false;
            QTimer::singleShot(0, [&] {
                WhenShown(info, [&] { info.close(); });
                try {
                    info.ShowFileInUseDialog("held open");
                } catch (const SilentAbort&) {
                    aborted = true;
                }
            });
            QTimer::singleShot(10000, [&] { mainLoop.exit(99); });
            const int loopResult = mainLoop.exec();  // 0: the end was requested
            _exit(loopResult == 0 && aborted && !info.isVisible() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Esc and "中止安装" end the process at once with code 0; nothing after the
// dialog runs. Each runs in a child process.
TEST(FrmInfoDeathTest, EscAndTheAbortButtonEndTheProcessWithCodeZero) {
    const std::function<void(TFrmInfo&)> ways[] = {
        [](TFrmInfo& info) { PressKey(info, Qt::Key_Escape); },
        [](TFrmInfo& info) { QTest::mouseClick(info.Button2, Qt::LeftButton); }};
    for (const auto& abort : ways) {
        EXPECT_EXIT(
            {
                TFrmInfo info;
                QTimer::singleShot(10000, [] { std::exit(4); });
                WhenShown(info, [&] { abort(info); });
                info.ShowFileInUseDialog("held open");
                std::exit(3);  // the dialog returned
            },
            testing::ExitedWithCode(0), "");
    }
}

}  // namespace
}  // namespace ue
