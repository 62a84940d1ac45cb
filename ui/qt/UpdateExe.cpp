// UpdateExe: applies the downloaded files of the suite. Without arguments it
// shows its windows and ends with 0 on every path; the options (ui/Options.h)
// add an unattended run without any display and exit codes. Started by
// itself with the internal registration option, it is the child of a
// self-registration instead.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MessageTable.h"
#include "run/DMUpdateEx.h"
#include "sysops/Registration.h"
#include "ui/Options.h"
#include "ui/Program.h"
#include "ui/Unattended.h"
#include "ui/qt/ErrorBox.h"
#include "ui/qt/Info.h"
#include "ui/qt/QtLanguage.h"
#include "ui/qt/QtUserInterface.h"
#include "ui/qt/SysProgress.h"
#include "ui/qt/updateExeMain.h"

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt aborts when it has no display to open; say so and end instead (failed),
// before anything is touched.
bool HasDisplay() {
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

class QtToolkit : public ue::Toolkit {
public:
    explicit QtToolkit(QApplication& app) : app_(app) {}

    void ShowErrorBox(const std::string& text) override { ue::ShowErrorBox(text); }

    ue::UserInterface& CreateWindows(ue::TDM_Update& DM_Update,
                                     std::function<void()> runUpdate) override {
        FrmMain = std::make_unique<ue::TFrmMain>(DM_Update.DownLoadFileLog, DM_Update.UpdateFileLog,
                                                 std::move(runUpdate));
        FrmInfo = std::make_unique<ue::TFrmInfo>();
        FrmProgress = std::make_unique<ue::TFrmProgress>();
        userInterface_ = std::make_unique<ue::QtUserInterface>(*FrmInfo, FrmMain.get());
        return *userInterface_;
    }

    void Loop() override {
        FrmMain->show();
        app_.exec();
    }

    void PumpMessages() override {
        if (FrmMain) FrmMain->PumpMessages();
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

int Start(char* programName, const ue::Options& options) {
    const int failed = ue::ProgramExitCode(options, ue::Outcome::Failed);
    if (!options.error.empty()) {
        std::fputs(("UpdateExe: " + options.error + "\n").c_str(), stderr);
        return failed;
    }
    // Neither opens the installation.
    if (options.help || options.version) {
        std::fputs((options.help ? ue::HelpText(ue::ThisOptionStyle()) : ue::VersionText()).c_str(),
                   stdout);
        return std::fflush(stdout) == 0 ? 0 : failed;
    }
    // No Qt application at all: nothing connects to a display.
    if (options.unattended) {
        ue::UnattendedToolkit toolkit;
        return ue::RunProgram(toolkit, options);
    }
    if (!HasDisplay()) {
        std::fputs(("UpdateExe: " + ue::Message(ue::MessageId::NoDisplay) + "\n").c_str(), stderr);
        return failed;
    }
    // The program's options are its own: none of Qt's (-platform, -style,
    // ...) may change what it does.
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    app.setApplicationName(ue::ApplicationTitle());
    // Before any box: its standard buttons in the language of our messages.
    const auto qtTexts = ue::InstallQtTranslations(ue::CurrentLanguage());
    QtToolkit toolkit(app);
    return ue::RunProgram(toolkit, options);
}

}  // namespace

int main(int argc, char** argv) {
    // Our own messages in the user's language, from the first one on.
    ue::SetLanguage(ue::UserLanguage());
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Before any window, lock or database: the child holds none of them.
    ue::RunRegistrationChild(args);
    const ue::Options options = ue::ParseOptions(args, ue::ThisOptionStyle());
    try {
        return Start(argv[0], options);
    } catch (...) {
        // Nothing is left to report to: the windows are gone.
        return ue::ProgramExitCode(options, ue::Outcome::Failed);
    }
}
