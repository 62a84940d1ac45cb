// What the update run needs of the person in front of the screen. The Qt and
// Win32 programs and the tests' scripted stand-ins implement it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sysops/FilePrimitives.h"
#include "sysops/ProcessControl.h"

namespace ue {

// Where the run is: the file it applies (its FileName), its place among the
// files this walk applies (index 1..count), and for a copy or an expansion
// under way, its bytes done of total (both 0 otherwise).
struct FileProgress {
    std::string file;
    int index = 0;
    int count = 0;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Shows the file-in-use dialog modally with `message` and, below it, the
    // programs that hold the file (`holders`, none when unknown). Returns only
    // when the user chose to continue; otherwise the process ends, or the end
    // of the application is requested and SilentAbort is raised.
    virtual void ShowFileInUseDialog(const std::string& message,
                                     const std::vector<RunningProgram>& holders) = 0;

    // The restart question (caption "提示", OK and Cancel, question icon);
    // true when the user chose OK.
    virtual bool AskRestart() = 0;

    // The application window that owns copies and message boxes.
    virtual WindowHandle OwnerWindow() = 0;

    // Told when the run begins a file and after each piece of its copy or
    // expansion, on the run's own thread; it may process pending window
    // messages, so it must be cheap and must not end the run's windows.
    virtual void ShowProgress(const FileProgress& /*progress*/) {}
};

}  // namespace ue
