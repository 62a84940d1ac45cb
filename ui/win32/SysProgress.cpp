#include "ui/win32/SysProgress.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>

#include "ui/win32/Fonts.h"

namespace ue {
namespace {

constexpr UINT_PTR kTimer = 1;
enum ControlId { idLabelInfo = 100, idLabelTitle, idButton1, idProgressBar, idEdtTimes };

}  // namespace

TFrmProgress::TFrmProgress() {
    const layout::FrmProgressLayout& table = layout::FrmProgress;
    const SIZE outer = OuterSize(table.form.width, table.form.height, kStyle, kExStyle);
    Create(L"UpdateExe.FrmProgress", kExStyle, kStyle, WideText(table.form.caption), CW_USEDEFAULT,
           CW_USEDEFAULT, outer.cx, outer.cy, nullptr);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(SongFont(table.form.fontPixels)), FALSE);

    LabelInfo = CreateControl(hwnd_, L"STATIC", table.LabelInfo, SS_LEFT | SS_NOPREFIX, idLabelInfo);
    LabelTitle = CreateControl(hwnd_, L"STATIC", table.LabelTitle, SS_LEFT | SS_NOPREFIX, idLabelTitle);
    Button1 = CreateControl(hwnd_, L"BUTTON", table.Button1, BS_PUSHBUTTON | WS_TABSTOP, idButton1);
    ProgressBar = CreateControl(hwnd_, PROGRESS_CLASSW, table.ProgressBar, WS_BORDER | PBS_SMOOTH, idProgressBar);
    // The bar's own colours show only without the visual style.
    SetWindowTheme(ProgressBar, L"", L"");
    SendMessageW(ProgressBar, PBM_SETRANGE32, table.gaugeMinimum, table.gaugeMaximum);
    SendMessageW(ProgressBar, PBM_SETBARCOLOR, 0, ToColorRef(table.gaugeBar));
    SendMessageW(ProgressBar, PBM_SETBKCOLOR, 0, ToColorRef(table.gaugeBackground));
    edtTimes = CreateControl(hwnd_, L"EDIT", table.edtTimes, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP,
                             idEdtTimes, WS_EX_CLIENTEDGE);
}

void TFrmProgress::SetGauge(int value) {
    const int kept = std::clamp(value, layout::FrmProgress.gaugeMinimum, layout::FrmProgress.gaugeMaximum);
    if (kept == gauge_) return;  // the bar repaints only on a change
    gauge_ = kept;
    SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(gauge_), 0);
}

void TFrmProgress::Show() {
    CentreOnWorkArea(hwnd_);
    ShowWindow(hwnd_, SW_SHOW);
}

void TFrmProgress::FormShow() {
    SetGauge(layout::FrmProgress.gaugeMinimum);
    const std::wstring title = WideText(layout::FrmProgress.LabelTitleShown);
    SetWindowTextW(LabelTitle, title.c_str());
    const SIZE size = TextExtent(SongFont(layout::FrmProgress.LabelTitle.fontPixels), title.c_str(),
                                 static_cast<int>(title.size()));
    SetWindowPos(LabelTitle, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
}

void TFrmProgress::TimerTimer() {
    SetGauge(gauge_ + 1);
    ProcessMessages();
    if (hwnd_ != nullptr) SetForegroundWindow(hwnd_);
}

void TFrmProgress::Button1Click() { ShowWindow(hwnd_, SW_HIDE); }

LRESULT TFrmProgress::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SHOWWINDOW:
        if (wParam) FormShow();
        break;
    case WM_TIMER:
        if (wParam == kTimer) TimerTimer();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == idButton1 && HIWORD(wParam) == BN_CLICKED) Button1Click();
        return 0;
    case WM_CTLCOLORSTATIC: {
        // The labels lie on the window's face.
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
        // No close button; Alt+F4 hides it as "取消" does.
        Button1Click();
        return 0;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace ue
