#include "ui/win32/ErrorBox.h"

#include "core/WinText.h"
#include "ui/Layout.h"
#include "ui/win32/Win32Layout.h"

namespace ue {
namespace {

HWND mainWindow = nullptr;

}  // namespace

void SetMainWindow(HWND window) { mainWindow = window; }

HWND MainWindow() { return mainWindow != nullptr && IsWindow(mainWindow) ? mainWindow : nullptr; }

void ShowErrorBox(const std::string& text) { ShowErrorBox(text, MainWindow()); }

void ShowErrorBox(const std::string& text, HWND owner) {
    std::wstring wide;
    try {
        wide = Wide(text, "error message");
    } catch (...) {
        // A message that is not UTF-8 still gets its box.
        for (unsigned char c : text) wide += c < 0x80 ? static_cast<wchar_t>(c) : L'?';
    }
    if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
    // Without an owner the box must not hide behind another program's window.
    const UINT where = owner != nullptr ? 0 : MB_TASKMODAL | MB_TOPMOST;
    MessageBoxW(owner, wide.c_str(), WideText(layout::kApplicationTitle).c_str(),
                MB_ICONERROR | MB_OK | where);
}

bool AskRestartQuestion(HWND owner) {
    const layout::Question& table = layout::RestartQuestion;
    const UINT where = owner != nullptr ? 0 : MB_TASKMODAL | MB_TOPMOST;
    return MessageBoxW(owner, WideText(table.text).c_str(), WideText(table.caption).c_str(),
                       MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON1 | where) == IDOK;
}

}  // namespace ue
