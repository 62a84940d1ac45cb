// FrmMain: the upgrade window "正在升级文件". Three seconds after it is shown
// it runs the update once and closes when the run returns.
#pragma once

#include <QLabel>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "records/TableCursor.h"
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

    QLabel* Label1;
    QTimer* Timer1;
    QTimer* Timer2;
    CircularProgress* CircularProgress1;
    TableGrid* DBGrid1;
    TableGrid* DBGrid2;
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
};

}  // namespace ue
