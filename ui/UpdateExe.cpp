// UpdateExe: applies the downloaded files of the suite. No command-line
// arguments; exit code 0 on every path.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "run/DMUpdateEx.h"
#include "sysops/Platform.h"
#include "sysops/System.h"
#include "ui/ErrorBox.h"
#include "ui/Info.h"
#include "ui/QtUserInterface.h"
#include "ui/SysProgress.h"
#include "ui/updateExeMain.h"

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt aborts when it has no display to open; say so and end with 0 instead,
// before anything is touched.
bool HasDisplay() {
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

int RunProgram(char* programName) {
    if (!HasDisplay()) {
        std::fputs("UpdateExe: no display to show its windows on (DISPLAY is not set); "
                   "nothing was updated.\n",
                   stderr);
        return 0;
    }
    // The program takes no arguments: not even Qt's own (-platform, -style,
    // ...) may change what it does.
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    app.setApplicationName(ue::ApplicationTitle());

    ue::RealSystem system;
    ue::TDM_Update DM_Update(system, ue::ExecutableDir());
    try {
        DM_Update.DataModuleCreate();
    } catch (...) {
        ue::ReportException(std::current_exception());
    }

    {
        // The windows are destroyed before the run context.
        auto FrmMain = std::make_unique<ue::TFrmMain>(DM_Update.DownLoadFileLog,
                                                      DM_Update.UpdateFileLog,
                                                      [&DM_Update] { DM_Update.RunUpdate(); });
        auto FrmInfo = std::make_unique<ue::TFrmInfo>();
        auto FrmProgress = std::make_unique<ue::TFrmProgress>();
        ue::QtUserInterface userInterface(*FrmInfo, FrmMain.get());
        DM_Update.SetUserInterface(&userInterface);

        FrmMain->show();
        app.exec();
        DM_Update.SetUserInterface(nullptr);
    }
    try {
        DM_Update.DataModuleDestroy();
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
    }
    return 0;
}

}  // namespace

int main(int, char** argv) {
    try {
        RunProgram(argv[0]);
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
    }
    return 0;
}
