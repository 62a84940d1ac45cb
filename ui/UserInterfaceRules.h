// The rules of the file-in-use dialog that every toolkit's UserInterface
// follows, so that the Qt and the Win32 dialogs end the same way.
#pragma once

#include <functional>

namespace ue {

// What ShowFileInUseDialog does once the dialog's modal loop has ended with
// `modalResult`: layout::mrContinue returns, and the run goes on; any other
// result (the close button, or the end of the application requested while
// the dialog was open) calls `requestEnd`, which asks the toolkit to end its
// message loop with exit code 0, and then raises SilentAbort to unwind the run.
void FinishFileInUseDialog(int modalResult, const std::function<void()>& requestEnd);

// "中止安装" (or Esc): ends the own process at once with AbortExitCode(). Nothing
// after it runs: no window is closed in order and nothing is cleaned up; the
// system releases open files and the database when the process ends.
[[noreturn]] void AbortInstallation();

// The exit code of AbortInstallation: 0 unless the program was started with
// an option (see ProgramExitCode).
void SetAbortExitCode(int code);
int AbortExitCode();

}  // namespace ue
