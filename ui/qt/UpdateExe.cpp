// UpdateExe: applies the downloaded files of the suite. No command-line
// arguments; exit code 0 on every path. Started by itself with the internal
// registration option, it is the child of a self-registration instead.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "run/DMUpdateEx.h"
#include "sysops/Registration.h"
#include "ui/Program.h"
#include "ui/qt/ErrorBox.h"
#include "ui/qt/Info.h"
#include "ui/qt/QtUserInterface.h"
#include "ui/qt/SysProgress.h"
#include "ui/qt/updateExeMain.h"

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

class QtToolkit : public ue::Toolkit {
public:
    explicit QtToolkit(QApplication& app) : app_(app) {}

    void ShowErrorBox(const std::string& text) override { ue::ShowErrorBox(text); }

    ue::UserInterface& CreateWindows(ue::TDM_Update& DM_Update) override {
        FrmMain = std::make_unique<ue::TFrmMain>(DM_Update.DownLoadFileLog, DM_Update.UpdateFileLog,
                                                 [&DM_Update] { DM_Update.RunUpdate(); });
        FrmInfo = std::make_unique<ue::TFrmInfo>();
        FrmProgress = std::make_unique<ue::TFrmProgress>();
        userInterface_ = std::make_unique<ue::QtUserInterface>(*FrmInfo, FrmMain.get());
        return *userInterface_;
    }

    void Loop() override {
        FrmMain->show();
        app_.exec();
    }

    void DestroyWindows() noexcept override {
        userInterface_.reset();
        FrmProgress.reset();
        FrmInfo.reset();
        FrmMain.reset();
    }

private:
    QApplication& app_;
    std::unique_ptr<ue::TFrmMain> FrmMain;
    std::unique_ptr<ue::TFrmInfo> FrmInfo;
    std::unique_ptr<ue::TFrmProgress> FrmProgress;
    std::unique_ptr<ue::QtUserInterface> userInterface_;
};

int Start(char* programName) {
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
    QtToolkit toolkit(app);
    return ue::RunProgram(toolkit);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any window, lock or database: the child holds none of them.
    ue::RunRegistrationChild(std::vector<std::string>(argv + 1, argv + argc));
    try {
        Start(argv[0]);
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
    }
    return 0;
}
