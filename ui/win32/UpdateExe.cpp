// UpdateExe: applies the downloaded files of the suite. Without arguments it
// shows its windows and ends with 0 on every path; the options (ui/Options.h)
// add an unattended run without any window and exit codes. Started by
// itself with the internal registration option, it is the child of a
// self-registration instead.
#include <windows.h>
#include <commctrl.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MessageTable.h"
#include "core/WinText.h"
#include "run/DMUpdateEx.h"
#include "sysops/Registration.h"
#include "ui/Layout.h"
#include "ui/Options.h"
#include "ui/Program.h"
#include "ui/Unattended.h"
#include "ui/win32/ErrorBox.h"
#include "ui/win32/Info.h"
#include "ui/win32/SysProgress.h"
#include "ui/win32/Win32Layout.h"
#include "ui/win32/Win32UserInterface.h"
#include "ui/win32/updateExeMain.h"

namespace {

class Win32Toolkit : public ue::Toolkit {
public:
    void ShowErrorBox(const std::string& text) override { ue::ShowErrorBox(text); }

    ue::UserInterface& CreateWindows(ue::TDM_Update& DM_Update,
                                     std::function<void()> runUpdate) override {
        FrmMain = std::make_unique<ue::TFrmMain>(DM_Update.DownLoadFileLog, DM_Update.UpdateFileLog,
                                                 std::move(runUpdate));
        // The first window is the main window: it owns the error box and
        // closing it ends the program.
        ue::SetMainWindow(FrmMain->Handle());
        FrmInfo = std::make_unique<ue::TFrmInfo>(FrmMain->Handle());
        FrmProgress = std::make_unique<ue::TFrmProgress>();
        userInterface_ =
            std::make_unique<ue::Win32UserInterface>(*FrmInfo, FrmMain->Handle(), FrmMain.get());
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

    void PumpMessages() override {
        if (FrmMain) FrmMain->PumpMessages();
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

// Writes `text` where whoever started the program reads it: the standard
// handle when it was given one (redirected by a deployment tool or a
// shell), else the console of the parent (a GUI program has none of its
// own), else a message box. False when it could not be written.
bool Say(const std::string& text, bool error) {
    const HANDLE handle = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    const std::wstring wide = ue::Wide(text, "message");
    DWORD mode = 0, done = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
        GetFileType(handle) != FILE_TYPE_UNKNOWN) {
        if (GetConsoleMode(handle, &mode)) {
            return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &done,
                                 nullptr) != 0;
        }
        return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
               done == text.size();
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            // The prompt was printed before this text: start on a line of its own.
            const std::wstring line = L"\r\n" + wide;
            const bool ok = WriteConsoleW(console, line.data(), static_cast<DWORD>(line.size()),
                                          &done, nullptr) != 0;
            CloseHandle(console);
            FreeConsole();
            if (ok) return true;
        } else {
            FreeConsole();
        }
    }
    MessageBoxW(nullptr, wide.c_str(), ue::WideText(ue::layout::kApplicationTitle).c_str(),
                (error ? MB_ICONERROR : MB_ICONINFORMATION) | MB_OK | MB_TASKMODAL | MB_TOPMOST);
    return true;
}

int Start(const ue::Options& options) {
    const int failed = ue::ProgramExitCode(options, ue::Outcome::Failed);
    if (!options.error.empty()) {
        Say("UpdateExe: " + options.error + "\n", true);
        return failed;
    }
    // Neither opens the installation.
    if (options.help || options.version) {
        const bool said =
            Say(options.help ? ue::HelpText(ue::ThisOptionStyle()) : ue::VersionText(), false);
        return said ? 0 : failed;
    }
    // No window at all.
    if (options.unattended) {
        ue::UnattendedToolkit toolkit;
        return ue::RunProgram(toolkit, options);
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    Win32Toolkit toolkit;
    return ue::RunProgram(toolkit, options);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Our own messages in the user's UI language, from the first one on.
    ue::SetLanguage(ue::UserLanguage());
    const std::vector<std::string> args = Arguments();
    // Before any window, lock or database: the child holds none of them.
    ue::RunRegistrationChild(args);
    const ue::Options options = ue::ParseOptions(args, ue::ThisOptionStyle());
    try {
        return Start(options);
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
        return ue::ProgramExitCode(options, ue::Outcome::Failed);
    }
}
