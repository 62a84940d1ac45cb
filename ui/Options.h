// The program's command line and its exit codes. Started without arguments
// the program takes none and ends with 0 whatever happened; the options
// below add an unattended run, a text log, the version and a short help, and
// with any of them the exit code tells the outcome.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ue {

// Windows also takes "/name" (and "/?"), as Windows installers do.
enum class OptionStyle { Posix, Windows };

// This platform's style.
OptionStyle ThisOptionStyle();

struct Options {
    bool unattended = false;
    bool version = false;
    bool help = false;
    // Where the run's log lines are appended as text (UTF-8); none: no file.
    std::optional<std::string> logFile;
    // An option was given: the exit code tells the outcome.
    bool any = false;
    // What is wrong with the command line ("--log" without its file); the
    // program says so and ends with the failed code before touching anything.
    std::string error;
};

// Reads the arguments after the program's name. Unknown arguments are
// ignored; option names are matched without regard to ASCII case on Windows.
Options ParseOptions(const std::vector<std::string>& args, OptionStyle style);

// How a run ended, as its exit code tells it.
enum class Outcome {
    Done,            // applied, or nothing to do
    RestartNeeded,   // applied, some files wait for the restart
    StoppedByUser,   // the user closed a window or aborted
    Failed,          // an error ended the run
    AnotherUpdater,  // another UpdateExe works on this installation
};

// The exit code of `outcome`: the Windows Installer convention on Windows
// (0, 3010, 1602, 1603, 1618), small codes on Linux (0, 10, 2, 1, 3).
int ExitCode(Outcome outcome, OptionStyle style);

// The exit code the program ends with: 0 without options.
int ProgramExitCode(const Options& options, Outcome outcome);

// "UpdateExe <version>", with its line end.
std::string VersionText();
// The usage, with its line end, in the platform's style.
std::string HelpText(OptionStyle style);

}  // namespace ue
