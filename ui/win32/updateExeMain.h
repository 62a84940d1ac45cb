// FrmMain: the upgrade window "正在升级文件". Three seconds after it is shown
// it runs the update once and closes when the run returns; closing it ends
// the message loop.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "records/TableCursor.h"
#include "run/UserInterface.h"
#include "ui/FileProgressView.h"
#include "ui/Layout.h"
#include "ui/win32/CircularProgress.h"
#include "ui/win32/TableGrid.h"
#include "ui/win32/Win32Layout.h"

namespace ue {

class TFrmMain : public Window {
public:
    static constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                                    WS_CLIPCHILDREN | WS_HSCROLL | WS_VSCROLL;
    static constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

    // `downloads` and `applied` are the run context's DownLoadFileLog and
    // UpdateFileLog; `runUpdate` is its RunUpdate. Created hidden, centred.
    TFrmMain(TableCursor& downloads, TableCursor& applied, std::function<void()> runUpdate);
    ~TFrmMain() override;

    // Shows the window; FormShow switches Timer1 on.
    void Show();
    void FormShow();
    // Switches Timer1 off, runs the update and closes the window. An error
    // out of the run is reported and leaves the window open.
    void Timer1Timer();
    // Processes pending messages, then moves the indicator one step on.
    void Timer2Timer();
    bool Timer1Enabled() const { return timer1On_; }

    // The run's progress: the file, its place and percentage; pending
    // messages are processed when due, so the window keeps answering.
    void ShowProgress(const FileProgress& progress);
    // Processes pending messages when PumpClock says it is time.
    void PumpMessages();
    // Whether the run is working (a close is put off until it returns).
    bool Running() const { return running_; }
    // After a failed run: Label1 says so and the indicator stops.
    void ShowFailed();
    bool Timer2Enabled() const { return timer2On_; }
    const PumpClock& Pumps() const { return pumps_; }

    HWND Label1 = nullptr;
    HWND ProgressFile = nullptr;
    HWND ProgressPlace = nullptr;
    std::unique_ptr<CircularProgress> CircularProgress1;
    std::unique_ptr<TableGrid> DBGrid1;
    std::unique_ptr<TableGrid> DBGrid2;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void FitLabel1();
    void UpdateScrollBars();
    void Scroll(int bar, WPARAM request);

    std::function<void()> runUpdate_;
    bool timer1On_ = false;
    bool timer2On_ = false;
    FileProgressView progress_;
    PumpClock pumps_;
    bool running_ = false;
    bool closeWanted_ = false;
    SIZE content_{};   // the controls' extent, for the scroll bars
    POINT scrolled_{};  // how far the contents are scrolled
};

}  // namespace ue
