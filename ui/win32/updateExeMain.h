// FrmMain: the upgrade window "正在升级文件". Three seconds after it is shown
// it runs the update once and closes when the run returns; closing it ends
// the message loop.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "records/TableCursor.h"
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

    HWND Label1 = nullptr;
    std::unique_ptr<CircularProgress> CircularProgress1;
    std::unique_ptr<TableGrid> DBGrid1;
    std::unique_ptr<TableGrid> DBGrid2;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void UpdateScrollBars();
    void Scroll(int bar, WPARAM request);

    std::function<void()> runUpdate_;
    bool timer1On_ = false;
    SIZE content_{};   // the controls' extent, for the scroll bars
    POINT scrolled_{};  // how far the contents are scrolled
};

}  // namespace ue
