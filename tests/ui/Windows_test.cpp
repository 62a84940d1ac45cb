// The upgrade window, the processing window, the error box and the restart
// question: their behaviour, flags and timers (their layout: Layout_test).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "core/MessageTable.h"
#include "core/Errors.h"
#include "records/TableCursor.h"
#include "ui/qt/ErrorBox.h"
#include "ui/qt/QtLanguage.h"
#include "ui/qt/QtUserInterface.h"
#include "ui/qt/SysProgress.h"
#include "ui/qt/updateExeMain.h"

namespace ue {
namespace {

// Handles every message box that opens while the object lives: records its
// caption, text, icon and buttons, then presses `answer`.
class MessageBoxWatcher {
public:
    struct Seen {
        QString title, text, informative;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QStringList buttonTexts;
        QWidget* owner;
    };

    explicit MessageBoxWatcher(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible() || box == last_) return;
            last_ = box;
            QStringList texts;
            for (QAbstractButton* button : box->buttons()) texts << button->text();
            seen.push_back({box->windowTitle(), box->text(), box->informativeText(), box->icon(),
                            box->standardButtons(), texts, box->parentWidget()});
            box->button(answer_)->click();
        });
        timer_.start(5);
    }

    std::vector<Seen> seen;

private:
    QMessageBox::StandardButton answer_;
    QTimer timer_;
    QMessageBox* last_ = nullptr;
};

struct MainWindowFixture : testing::Test {
    Connection connection;  // never opened: the grids show closed tables
    TableCursor downloads{connection, "DownLoadFileLog"};
    TableCursor applied{connection, "UpdateFileLog"};
    int runs = 0;
    std::function<void()> run = [] {};
    std::unique_ptr<TFrmMain> window = std::make_unique<TFrmMain>(downloads, applied, [this] {
        ++runs;
        run();
    });
};

TEST_F(MainWindowFixture, HiddenAtCreationAndScrollBarsWhenSmallerThanItsContents) {
    EXPECT_TRUE(window->isHidden());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    window->show();
    QApplication::processEvents();
    EXPECT_FALSE(window->ScrollBox->horizontalScrollBar()->isVisible());
    window->resize(300, 200);  // smaller than the contents: scroll bars
    QApplication::processEvents();
    EXPECT_TRUE(window->ScrollBox->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(window->ScrollBox->verticalScrollBar()->isVisible());
}

TEST_F(MainWindowFixture, Timer1StartsWithTheShowingAndClosingBeforeItFiresMeansNoRun) {
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_EQ(window->Timer1->interval(), 3000);
    EXPECT_TRUE(window->Timer1->isSingleShot());
    EXPECT_TRUE(window->Timer2->isActive());
    EXPECT_EQ(window->Timer2->interval(), 1000);
    window->show();
    EXPECT_TRUE(window->Timer1->isActive());
    window->close();
    EXPECT_FALSE(window->Timer1->isActive());
    QApplication::processEvents();  // whatever the closing posted
    EXPECT_EQ(runs, 0);
}

TEST_F(MainWindowFixture, RunOnceThenClose) {
    bool timerOffDuringRun = false;
    run = [&] { timerOffDuringRun = !window->Timer1->isActive(); };
    window->show();
    window->Timer1Timer();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(timerOffDuringRun);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowFixture, RunErrorsLeaveTheWindowOpenAndOnlyOrdinaryOnesAreReported) {
    window->show();
    MessageBoxWatcher watcher;
    run = [] { throw SilentAbort(); };
    window->Timer1Timer();
    QApplication::processEvents();  // a box would have been shown, and seen, within the run
    EXPECT_TRUE(watcher.seen.empty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Label1->text(), QStringLiteral("正在升级文件,请稍候..."));
    EXPECT_TRUE(window->Timer2->isActive());

    run = [] { throw Error("无法打开数据库"); };
    window->Timer1Timer();
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].title, QStringLiteral("Morvel升级"));
    EXPECT_EQ(watcher.seen[0].text, QStringLiteral("无法打开数据库."));
    EXPECT_EQ(watcher.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.seen[0].buttons, QMessageBox::Ok);
    // Owned by the window, so that it shows above it; the window then says
    // the update failed and the indicator stands still.
    EXPECT_EQ(watcher.seen[0].owner, window.get());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_EQ(window->Label1->text(), QString::fromStdString(Message(MessageId::UpdateFailed)));
    EXPECT_FALSE(window->Timer2->isActive());
    EXPECT_FALSE(window->CircularProgress1->StepTimer()->isActive());
}

TEST_F(MainWindowFixture, ACloseDuringTheRunWaitsForItsEndAndProgressIsShown) {
    MessageBoxWatcher watcher;
    bool openDuringRun = false;
    QString file, place;
    run = [&] {
        window->ShowProgress({"X.dll", 3, 6, 0, 0});
        file = window->ProgressFile->text();
        place = window->ProgressPlace->text();
        window->close();  // the close button while the run works
        QApplication::processEvents();
        openDuringRun = window->isVisible();
        throw Error("compression error");
    };
    window->show();
    window->Timer1Timer();
    EXPECT_EQ(file, QStringLiteral("X.dll"));
    EXPECT_EQ(place, QStringLiteral("3 / 6"));
    EXPECT_TRUE(openDuringRun);
    EXPECT_EQ(watcher.seen.size(), 1u);
    EXPECT_FALSE(window->isVisible());  // closed once the error was shown
}

TEST_F(MainWindowFixture, IndicatorRisesOnePerTickUpTo100) {
    for (int i = 0; i < 100; ++i) window->Timer2Timer();
    EXPECT_EQ(window->CircularProgress1->Position(), 100);
    EXPECT_EQ(window->CircularProgress1->Count(), 12);
    window->Timer2Timer();
    EXPECT_EQ(window->CircularProgress1->Position(), 100);
}

TEST(RestartQuestion, OkAndCancel) {
    {
        MessageBoxWatcher watcher(QMessageBox::Ok);
        EXPECT_TRUE(AskRestartQuestion(nullptr));
        ASSERT_EQ(watcher.seen.size(), 1u);
        EXPECT_EQ(watcher.seen[0].title, QStringLiteral("提示"));
        EXPECT_EQ(watcher.seen[0].text, QStringLiteral("系统需要重新启动，点确认重启！"));
        EXPECT_EQ(watcher.seen[0].icon, QMessageBox::Question);
        EXPECT_EQ(watcher.seen[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    }
    MessageBoxWatcher watcher(QMessageBox::Cancel);
    EXPECT_FALSE(AskRestartQuestion(nullptr));
}

// A Chinese user reads Chinese buttons under the Chinese question, not
// "OK / Cancel"; an English one keeps Qt's own.
TEST(RestartQuestion, ButtonsInTheUsersLanguage) {
    {
        MessageBoxWatcher watcher(QMessageBox::Ok);
        EXPECT_EQ(InstallQtTranslations(Language::English), nullptr);
        EXPECT_TRUE(AskRestartQuestion(nullptr));
        ASSERT_EQ(watcher.seen.size(), 1u);
        EXPECT_TRUE(watcher.seen[0].buttonTexts.contains(QStringLiteral("OK")))
            << watcher.seen[0].buttonTexts.join(' ').toStdString();
    }
    const auto translations = InstallQtTranslations(Language::Chinese);
    if (!translations) GTEST_SKIP() << "Qt's translations (qt6-translations-l10n) are not installed";
    MessageBoxWatcher watcher(QMessageBox::Ok);
    EXPECT_TRUE(AskRestartQuestion(nullptr));
    ASSERT_EQ(watcher.seen.size(), 1u);
    const QString texts = watcher.seen[0].buttonTexts.join(' ');
    EXPECT_TRUE(texts.contains(QStringLiteral("确定")) && texts.contains(QStringLiteral("取消")))
        << texts.toStdString();
}

// A warning goes below the question, whose own text stays as it is.
TEST(RestartQuestion, WarningBelowTheFixedText) {
    MessageBoxWatcher watcher(QMessageBox::Ok);
    EXPECT_TRUE(AskRestartQuestion(nullptr, "Files queued for the restart will not be replaced."));
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].text, QStringLiteral("系统需要重新启动，点确认重启！"));
    EXPECT_EQ(watcher.seen[0].informative,
              QStringLiteral("Files queued for the restart will not be replaced."));
}

TEST(QtUserInterface, OwnerWindowIsTheMainWindowsHandle) {
    TFrmInfo info;
    QWidget main;
    QtUserInterface ui(info, &main);
    EXPECT_EQ(ui.OwnerWindow(), nullptr) << "no native window yet";
    main.show();
    QApplication::processEvents();
    EXPECT_EQ(ui.OwnerWindow(), reinterpret_cast<WindowHandle>(main.winId()));
    QtUserInterface none(info, nullptr);
    EXPECT_EQ(none.OwnerWindow(), nullptr);
}

TEST(FrmProgress, HiddenAtCreationWithoutCaptionButtons) {
    TFrmProgress progress;
    EXPECT_TRUE(progress.isHidden());
    const Qt::WindowFlags flags = progress.windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint));
    EXPECT_FALSE(progress.Timer->isActive());
}

TEST(FrmProgress, EachShowingResetsAndTheGaugeStaysInRange) {
    TFrmProgress progress;
    progress.show();
    EXPECT_EQ(progress.LabelTitle->text(), QStringLiteral("正在加载数据..."));
    for (int i = 0; i < 5; ++i) progress.TimerTimer();
    EXPECT_EQ(progress.Gauge(), 5);
    progress.Button1Click();
    EXPECT_FALSE(progress.isVisible());
    progress.LabelTitle->setText(QStringLiteral("x"));
    progress.show();
    EXPECT_EQ(progress.Gauge(), 0);
    EXPECT_EQ(progress.LabelTitle->text(), QStringLiteral("正在加载数据..."));

    progress.SetGauge(-5);
    EXPECT_EQ(progress.Gauge(), 0);
    progress.SetGauge(250);
    EXPECT_EQ(progress.Gauge(), 100);
    progress.TimerTimer();
    EXPECT_EQ(progress.Gauge(), 100);
}

}  // namespace
}  // namespace ue
