// FrmProgress: the processing window "正在处理..." with a gauge, a hint and a
// cancel button. Created hidden; nothing in a run shows it.
#pragma once

#include <windows.h>

#include "ui/win32/Win32Layout.h"

namespace ue {

class TFrmProgress : public Window {
public:
    // No caption buttons: a caption without the system menu.
    static constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    static constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

    // Not owned by FrmMain: an owned window would share its stays-on-top.
    TFrmProgress();

    // The gauge's value, kept within 0..100.
    int Gauge() const { return gauge_; }
    void SetGauge(int value);

    // Shows the window centred; FormShow resets the gauge and the title.
    void Show();
    void FormShow();
    void TimerTimer();
    void Button1Click();

    HWND LabelInfo = nullptr;
    HWND LabelTitle = nullptr;
    HWND Button1 = nullptr;
    HWND ProgressBar = nullptr;
    HWND edtTimes = nullptr;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    int gauge_ = 0;
};

}  // namespace ue
