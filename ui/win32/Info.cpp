#include "ui/win32/Info.h"

#include <cstring>
#include <vector>

#include "core/MessageTable.h"
#include "core/WinText.h"
#include "ui/UserInterfaceRules.h"
#include "ui/win32/Fonts.h"
#include "ui/win32/Win32Layout.h"

namespace ue {
namespace {

constexpr int idLabel = 100;
constexpr int idHoldersCaption = 101;
constexpr int idHolders = 102;

// A dialog template without controls: the frame and the caption. The
// controls are made in WM_INITDIALOG from the layout table, in its pixels.
std::vector<DWORD> DialogTemplate(const std::wstring& caption) {
    DLGTEMPLATE header{};
    header.style = TFrmInfo::kStyle;
    header.dwExtendedStyle = TFrmInfo::kExStyle;
    std::vector<WORD> words(sizeof header / sizeof(WORD));
    std::memcpy(words.data(), &header, sizeof header);
    words.push_back(0);  // no menu
    words.push_back(0);  // the predefined dialog class
    for (wchar_t c : caption) words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    std::vector<DWORD> aligned((words.size() * sizeof(WORD) + sizeof(DWORD) - 1) / sizeof(DWORD));
    std::memcpy(aligned.data(), words.data(), words.size() * sizeof(WORD));
    return aligned;
}

struct Disabled {
    HWND except;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND window, LPARAM state) {
    auto& disabled = *reinterpret_cast<Disabled*>(state);
    if (window != disabled.except && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        disabled.windows.push_back(window);
    }
    return TRUE;
}

}  // namespace

TFrmInfo::TFrmInfo(HWND owner) : owner_(owner) { Create(); }

TFrmInfo::~TFrmInfo() { Destroy(); }

void TFrmInfo::Create() {
    const std::vector<DWORD> frame = DialogTemplate(WideText(layout::FrmInfo.form.caption));
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(frame.data()),
                               owner_, Procedure, reinterpret_cast<LPARAM>(this));
}

void TFrmInfo::Destroy() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
    hwnd_ = Button1 = Button2 = lbl1 = lblHolders = lstHolders = nullptr;
}

void TFrmInfo::CreateControls() {
    const layout::FrmInfoLayout& table = layout::FrmInfo;
    const SIZE outer = OuterSize(table.form.width, table.form.height, kStyle, kExStyle);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(SongFont(table.form.fontPixels)), FALSE);
    // Made in tab order: "继续.." first, so it has the focus when shown.
    Button1 = CreateControl(hwnd_, L"BUTTON", table.Button1, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDOK);
    Button2 = CreateControl(hwnd_, L"BUTTON", table.Button2, BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
    // Fixed size, breaks long lines at words, cuts off at its bottom edge.
    lbl1 = CreateControl(hwnd_, L"STATIC", table.lbl1, SS_LEFT | SS_NOPREFIX, idLabel);
    // The caption comes right before the list: screen readers name a list by
    // the static text before it. The list takes no selection: it only tells.
    const layout::HolderListLayout& holders = layout::FrmInfoHolders;
    lblHolders = CreateControl(hwnd_, L"STATIC", holders.lblHolders, SS_LEFT | SS_NOPREFIX,
                               idHoldersCaption);
    SetWindowTextW(lblHolders, Wide(Message(MessageId::HoldersCaption)).c_str());
    lstHolders = CreateControl(hwnd_, L"LISTBOX", holders.lstHolders,
                               LBS_NOSEL | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP, idHolders,
                               WS_EX_CLIENTEDGE);
}

void TFrmInfo::ShowHolders(const std::vector<RunningProgram>& holders) {
    SendMessageW(lstHolders, LB_RESETCONTENT, 0, 0);
    for (const RunningProgram& program : holders) {
        std::wstring row;
        try {
            row = Wide(DescribeProgram(program), "program");
        } catch (...) {
            row = L"? (pid " + std::to_wstring(program.pid) + L")";
        }
        SendMessageW(lstHolders, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
    const int count = static_cast<int>(holders.size());
    const int growth = layout::FrmInfoGrowth(count);
    const layout::FrmInfoLayout& table = layout::FrmInfo;
    SendMessageW(lstHolders, LB_SETITEMHEIGHT, 0, MAKELPARAM(Scale(layout::FrmInfoHolders.rowHeight), 0));
    layout::Control list = layout::FrmInfoHolders.lstHolders;
    list.place = layout::HolderListPlace(count);
    const RECT listPlace = PlaceOf(list);
    MoveWindow(lstHolders, listPlace.left, listPlace.top, listPlace.right - listPlace.left,
               listPlace.bottom - listPlace.top, FALSE);
    for (auto [button, entry] : {std::pair{Button1, table.Button1}, std::pair{Button2, table.Button2}}) {
        entry.place.top += growth;
        const RECT place = PlaceOf(entry);
        MoveWindow(button, place.left, place.top, place.right - place.left, place.bottom - place.top,
                   FALSE);
    }
    ShowWindow(lblHolders, growth > 0 ? SW_SHOWNA : SW_HIDE);
    ShowWindow(lstHolders, growth > 0 ? SW_SHOWNA : SW_HIDE);
    const SIZE outer = OuterSize(table.form.width, table.form.height + growth, kStyle, kExStyle);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TFrmInfo::ShowModal(const std::string& message, const std::vector<RunningProgram>& holders) {
    std::wstring text;
    try {
        text = Wide(message, "message");
    } catch (...) {
        for (unsigned char c : message) text += c < 0x80 ? static_cast<wchar_t>(c) : L'?';
    }
    SetWindowTextW(lbl1, text.c_str());
    ShowHolders(holders);

    Disabled disabled{hwnd_, {}};
    EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    CentreOnWorkArea(hwnd_);
    result_ = 0;
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SendMessageW(hwnd_, DM_SETDEFID, IDOK, 0);
    SetFocus(Button1);

    MSG msg;
    while (result_ == 0) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The end of the application was requested: keep the request for
            // the loop that owns it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            result_ = layout::mrAbort;
            break;
        }
        if (got == -1) {
            result_ = layout::mrAbort;
            break;
        }
        if (!IsDialogMessageW(hwnd_, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // Enabled before the dialog goes, so that the activation goes back to them.
    for (HWND window : disabled.windows)
        if (IsWindow(window)) EnableWindow(window, TRUE);
    // Not hidden but replaced by a fresh hidden window. Under Wine (X11) the
    // focus-out of a hidden window reaches it late: when it is the same window
    // shown again, Wine then hands the foreground to the desktop, and the
    // dialog has no keyboard (Enter and Esc do nothing) while it looks
    // active. An event for a destroyed window is dropped. Windows has no
    // such late event; there the fresh window costs nothing the user sees.
    const int result = result_;
    Destroy();
    Create();
    SetWindowTextW(lbl1, text.c_str());
    return result;
}

void TFrmInfo::ShowFileInUseDialog(const std::string& message,
                                   const std::vector<RunningProgram>& holders) {
    FinishFileInUseDialog(ShowModal(message, holders), [] { PostQuitMessage(0); });
}

void TFrmInfo::Button2Click() { AbortInstallation(); }

INT_PTR TFrmInfo::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        CreateControls();
        return FALSE;
    case WM_COMMAND:
        // Enter presses the default button (IDOK); Esc and Button2 both
        // arrive as IDCANCEL.
        if (LOWORD(wParam) == IDOK) result_ = layout::mrContinue;
        else if (LOWORD(wParam) == IDCANCEL) Button2Click();
        return TRUE;
    case WM_CLOSE:
        // The close button and Alt+F4: not "中止安装".
        result_ = layout::mrAbort;
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == lbl1) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, ToColorRef(*layout::FrmInfo.lbl1.colour));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK TFrmInfo::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<TFrmInfo*>(lParam)->hwnd_ = dialog;
    }
    auto* self = reinterpret_cast<TFrmInfo*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ReportException(std::current_exception());
        return TRUE;
    }
}

}  // namespace ue
