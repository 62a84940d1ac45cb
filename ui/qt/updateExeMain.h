// FrmMain: the upgrade window "正在升级文件". Three seconds after it is shown
// it runs the update once and closes when the run returns.
#pragma once

#include <QLabel>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "records/TableCursor.h"
#include "run/UserInterface.h"
#include "ui/FileProgressView.h"
#include "ui/Layout.h"
#include "ui/qt/CircularProgress.h"
#include "ui/qt/TableGrid.h"

namespace ue {

class TFrmMain : public QWidget {
    Q_OBJECT
public:
    static constexpr int kOuterWidth = layout::FrmMain.form.width;
    static constexpr int kOuterHeight = layout::FrmMain.form.height;

    // `downloads` and `applied` are the run context's DownLoadFileLog and
    // UpdateFileLog; `runUpdate` is its RunUpdate.
    TFrmMain(TableCursor& downloads, TableCursor& applied, std::function<void()> runUpdate,
             QWidget* parent = nullptr);

    void FormShow();
    // Switches Timer1 off, runs the update and closes the window. An error
    // out of the run is reported and leaves the window open.
    void Timer1Timer();
    // Processes pending events, then moves the indicator one step on.
    void Timer2Timer();

    // The run's progress: the file, its place and percentage; pending events
    // are processed when due, so the window keeps answering.
    void ShowProgress(const FileProgress& progress);
    // Processes pending events when PumpClock says it is time.
    void PumpMessages();
    // Whether the run is working (a close is put off until it returns).
    bool Running() const { return running_; }
    // After a failed run: Label1 says so and the indicator stops.
    void ShowFailed();
    const PumpClock& Pumps() const { return pumps_; }

    QLabel* Label1;
    QTimer* Timer1;
    QTimer* Timer2;
    CircularProgress* CircularProgress1;
    TableGrid* DBGrid1;
    TableGrid* DBGrid2;
    QLabel* ProgressFile;
    QLabel* ProgressPlace;
    QScrollArea* ScrollBox;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Gives the window its outer size with the frame known so far and
    // centres it on the desktop.
    void PlaceWindow();
    void CheckFrame();

    std::function<void()> runUpdate_;
    int frameChecks_ = 0;
    FileProgressView progress_;
    PumpClock pumps_;
    bool running_ = false;
    bool closeWanted_ = false;
};

}  // namespace ue
