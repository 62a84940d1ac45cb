#include "ui/win32/updateExeMain.h"

#include <algorithm>

#include "core/MessageTable.h"
#include "core/WinText.h"
#include "ui/ErrorMessage.h"
#include "ui/win32/ErrorBox.h"
#include "ui/win32/Fonts.h"

namespace ue {
namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kTimer2 = 2;
enum ControlId { idLabel1 = 100, idGrid1, idGrid2, idProgressFile, idProgressPlace };

void SetText(HWND control, const std::string& text) {
    std::wstring wide;
    try {
        wide = Wide(text, "progress text");
    } catch (...) {
        // A name that is not UTF-8 is still shown, never an error of the run.
        for (unsigned char c : text) wide += c < 0x80 ? static_cast<wchar_t>(c) : L'?';
    }
    SetWindowTextW(control, wide.c_str());
}

}  // namespace

TFrmMain::TFrmMain(TableCursor& downloads, TableCursor& applied, std::function<void()> runUpdate)
    : runUpdate_(std::move(runUpdate)) {
    const layout::FrmMainLayout& table = layout::FrmMain;
    // The table gives the outer size, frame included.
    Create(L"UpdateExe.FrmMain", kExStyle, kStyle, WideText(table.form.caption), CW_USEDEFAULT,
           CW_USEDEFAULT, Scale(table.form.width), Scale(table.form.height), nullptr);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(SongFont(table.form.fontPixels)), FALSE);

    Label1 = CreateControl(hwnd_, L"STATIC", table.Label1, SS_LEFT | SS_NOPREFIX, idLabel1);
    FitLabel1();
    CircularProgress1 = std::make_unique<CircularProgress>(hwnd_, table.CircularProgress1);
    DBGrid1 = std::make_unique<TableGrid>(downloads, hwnd_, table.DBGrid1, idGrid1);
    DBGrid2 = std::make_unique<TableGrid>(applied, hwnd_, table.DBGrid2, idGrid2);
    ProgressFile = CreateControl(hwnd_, L"STATIC", table.ProgressFile,
                                 SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, idProgressFile);
    ProgressPlace = CreateControl(hwnd_, L"STATIC", table.ProgressPlace, SS_LEFT | SS_NOPREFIX,
                                  idProgressPlace);

    // A screen reader says a control's window text: the grids and the
    // indicator show none, so theirs is their name.
    SetWindowTextW(DBGrid1->Handle(), Wide(Message(MessageId::DownloadsGridName)).c_str());
    SetWindowTextW(DBGrid2->Handle(), Wide(Message(MessageId::AppliedGridName)).c_str());
    SetWindowTextW(CircularProgress1->Handle(), Wide(Message(MessageId::IndicatorName)).c_str());

    for (const layout::Control* control : table.controls) {
        const RECT place = PlaceOf(*control);
        content_.cx = std::max(content_.cx, place.right);
        content_.cy = std::max(content_.cy, place.bottom);
    }
    if (table.Timer2.enabledAtCreation) timer2On_ = SetTimer(hwnd_, kTimer2, table.Timer2.intervalMs, nullptr) != 0;
    UpdateScrollBars();
    CentreOnWorkArea(hwnd_);
}

TFrmMain::~TFrmMain() {
    // The grids let go of their cursors before the window goes.
    DBGrid1.reset();
    DBGrid2.reset();
    CircularProgress1.reset();
    Destroy();
}

void TFrmMain::Show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    FormShow();
}

void TFrmMain::FormShow() {
    timer1On_ = true;
    SetTimer(hwnd_, kTimer1, layout::FrmMain.Timer1.intervalMs, nullptr);
}

void TFrmMain::Timer1Timer() {
    timer1On_ = false;
    KillTimer(hwnd_, kTimer1);
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
            ShowErrorBox(*text, hwnd_);  // owned by this window: above it
        }
        // A close asked for during the run is carried out now.
        if (closeWanted_ && hwnd_ != nullptr) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
        return;
    }
    if (hwnd_ != nullptr) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TFrmMain::ShowProgress(const FileProgress& progress) {
    if (progress_.Take(progress, SteadyMs())) {
        SetText(ProgressFile, progress_.FileText());
        SetText(ProgressPlace, progress_.PlaceText());
    }
    PumpMessages();
}

void TFrmMain::PumpMessages() {
    if (!pumps_.Due(SteadyMs())) return;
    // A WM_QUIT met here is put back for the message loop.
    ProcessMessages();
    pumps_.Pumped(SteadyMs());
}

void TFrmMain::FitLabel1() {
    // Sized to its text, with the room up to the indicator (the measure and
    // the drawing of a substituted face can differ), and never wrapped into
    // a second line that its height would cut off.
    wchar_t text[256] = {};
    const int length = GetWindowTextW(Label1, text, 256);
    const SIZE size = TextExtent(SongFont(layout::FrmMain.Label1.fontPixels), text, length);
    const layout::FrmMainLayout& table = layout::FrmMain;
    const int room = Scale(table.CircularProgress1.place.left - table.Label1.place.left - 2);
    SetWindowLongPtrW(Label1, GWL_STYLE, GetWindowLongPtrW(Label1, GWL_STYLE) | SS_LEFTNOWORDWRAP);
    SetWindowPos(Label1, nullptr, 0, 0, std::max<int>(size.cx, room), size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TFrmMain::ShowFailed() {
    const std::wstring text = Wide(Message(MessageId::UpdateFailed));
    SetWindowTextW(Label1, text.c_str());
    FitLabel1();
    InvalidateRect(hwnd_, nullptr, TRUE);
    KillTimer(hwnd_, kTimer2);
    timer2On_ = false;
    // A disabled indicator does not step.
    if (CircularProgress1) EnableWindow(CircularProgress1->Handle(), FALSE);
}

void TFrmMain::Timer2Timer() {
    ProcessMessages();
    if (CircularProgress1) CircularProgress1->SetPosition(CircularProgress1->Position() + 1);
}

void TFrmMain::UpdateScrollBars() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE;
    info.nMin = 0;
    info.nMax = content_.cx - 1;
    info.nPage = static_cast<UINT>(client.right);
    SetScrollInfo(hwnd_, SB_HORZ, &info, TRUE);
    info.nMax = content_.cy - 1;
    info.nPage = static_cast<UINT>(client.bottom);
    SetScrollInfo(hwnd_, SB_VERT, &info, TRUE);
    // A larger window scrolls the contents back into view.
    for (int bar : {SB_HORZ, SB_VERT}) Scroll(bar, SB_ENDSCROLL);
}

void TFrmMain::Scroll(int bar, WPARAM request) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(hwnd_, bar, &info);
    const int line = Scale(16);
    const int page = static_cast<int>(info.nPage);
    int position = info.nPos;
    switch (LOWORD(request)) {
        case SB_LINEUP: position -= line; break;
        case SB_LINEDOWN: position += line; break;
        case SB_PAGEUP: position -= page; break;
        case SB_PAGEDOWN: position += page; break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: position = info.nTrackPos; break;
        case SB_TOP: position = 0; break;
        case SB_BOTTOM: position = info.nMax; break;
        default: break;
    }
    position = std::clamp(position, 0, std::max(0, info.nMax + 1 - page));
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(hwnd_, bar, &info, TRUE);
    LONG& offset = bar == SB_HORZ ? scrolled_.x : scrolled_.y;
    const int by = offset - position;
    if (by == 0) return;
    offset = position;
    ScrollWindowEx(hwnd_, bar == SB_HORZ ? by : 0, bar == SB_VERT ? by : 0, nullptr, nullptr,
                   nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
}

LRESULT TFrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kTimer1) Timer1Timer();
        else if (wParam == kTimer2) Timer2Timer();
        return 0;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        LRESULT result = 0;
        for (TableGrid* grid : {DBGrid1.get(), DBGrid2.get()})
            if (grid != nullptr && grid->Notify(header, result)) return result;
        break;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Label1) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, ToColorRef(*layout::FrmMain.Label1.colour));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_SIZE:
        UpdateScrollBars();
        return 0;
    case WM_HSCROLL:
        Scroll(SB_HORZ, wParam);
        return 0;
    case WM_VSCROLL:
        Scroll(SB_VERT, wParam);
        return 0;
    case WM_CLOSE:
        // The run works in this window's handlers: the window must outlive
        // it. The close is carried out when the run returns.
        if (running_) {
            closeWanted_ = true;
            return 0;
        }
        // A run that has not started never starts.
        timer1On_ = false;
        KillTimer(hwnd_, kTimer1);
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, kTimer1);
        KillTimer(hwnd_, kTimer2);
        timer1On_ = false;
        if (MainWindow() == hwnd_) PostQuitMessage(0);
        break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace ue
