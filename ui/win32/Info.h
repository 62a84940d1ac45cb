// FrmInfo: the modal dialog "替换文件出错" shown while a file to be replaced
// is held open by a running program. Made hidden from an in-memory template;
// each showing runs its own modal loop and leaves a fresh hidden window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sysops/ProcessControl.h"
#include "ui/Layout.h"

namespace ue {

class TFrmInfo {
public:
    static constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    static constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

    // Owned by `owner` (FrmMain), so that it stays above it.
    explicit TFrmInfo(HWND owner);
    ~TFrmInfo();
    TFrmInfo(const TFrmInfo&) = delete;
    TFrmInfo& operator=(const TFrmInfo&) = delete;

    HWND Handle() const { return hwnd_; }

    // Sets the message and the programs that hold the file (listed below
    // it, the dialog grown for them) and shows the dialog modally, the application's other
    // windows disabled meanwhile, "继续.." with the keyboard focus. Returns layout::mrContinue ("继续.." or
    // Enter) or layout::mrAbort (the close button, Alt+F4, or the end of the
    // application requested while it was open; that request is kept).
    int ShowModal(const std::string& message, const std::vector<RunningProgram>& holders = {});

    // Returns only when the user chose "继续..". Esc or "中止安装" ends the
    // process at once (exit code: AbortExitCode); any other end requests the end of
    // the application and raises SilentAbort.
    void ShowFileInUseDialog(const std::string& message,
                             const std::vector<RunningProgram>& holders = {});

    // "中止安装": ends the own process at once (exit code: AbortExitCode); no clean-up.
    void Button2Click();

    HWND Button1 = nullptr;
    HWND Button2 = nullptr;
    HWND lbl1 = nullptr;
    HWND lblHolders = nullptr;  // the list's caption, which screen readers take as its name
    HWND lstHolders = nullptr;  // read-only list box, one row per program

private:
    void Create();
    void Destroy();
    void CreateControls();
    void ShowHolders(const std::vector<RunningProgram>& holders);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HWND owner_;
    HWND hwnd_ = nullptr;
    int result_ = 0;
};

}  // namespace ue
