// UpdateExe: applies the downloaded files of the suite. No command-line
// arguments; exit code 0 on every path. Started by itself with the internal
// registration option, it is the child of a self-registration instead.
#include <windows.h>
#include <commctrl.h>
// after windows.h
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "core/WinText.h"
#include "run/DMUpdateEx.h"
#include "sysops/Registration.h"
#include "ui/Program.h"
#include "ui/win32/ErrorBox.h"
#include "ui/win32/Info.h"
#include "ui/win32/SysProgress.h"
#include "ui/win32/Win32UserInterface.h"
#include "ui/win32/updateExeMain.h"

namespace {

class Win32Toolkit : public ue::Toolkit {
public:
    void ShowErrorBox(const std::string& text) override { ue::ShowErrorBox(text); }

    ue::UserInterface& CreateWindows(ue::TDM_Update& DM_Update) override {
        FrmMain = std::make_unique<ue::TFrmMain>(DM_Update.DownLoadFileLog, DM_Update.UpdateFileLog,
                                                 [&DM_Update] { DM_Update.RunUpdate(); });
        // The first window is the main window: it owns the error box and
        // closing it ends the program.
        ue::SetMainWindow(FrmMain->Handle());
        FrmInfo = std::make_unique<ue::TFrmInfo>(FrmMain->Handle());
        FrmProgress = std::make_unique<ue::TFrmProgress>();
        userInterface_ = std::make_unique<ue::Win32UserInterface>(*FrmInfo, FrmMain->Handle());
        return *userInterface_;
    }

    void Loop() override {
        FrmMain->Show();
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    void DestroyWindows() noexcept override {
        userInterface_.reset();
        FrmProgress.reset();
        FrmInfo.reset();
        ue::SetMainWindow(nullptr);
        FrmMain.reset();
    }

private:
    std::unique_ptr<ue::TFrmMain> FrmMain;
    std::unique_ptr<ue::TFrmInfo> FrmInfo;
    std::unique_ptr<ue::TFrmProgress> FrmProgress;
    std::unique_ptr<ue::Win32UserInterface> userInterface_;
};

// The program's arguments after its name, as UTF-8.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return args;
    try {
        for (int i = 1; i < argc; ++i) args.push_back(ue::Narrow(argv[i]));
    } catch (...) {
        args.clear();
    }
    LocalFree(argv);
    return args;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before any window, lock or database: the child holds none of them.
    ue::RunRegistrationChild(Arguments());
    try {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        Win32Toolkit toolkit;
        ue::RunProgram(toolkit);
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
    }
    return 0;
}
