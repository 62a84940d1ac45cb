// What the update run needs of the person in front of the screen. The Qt and
// Win32 programs and the tests' scripted stand-ins implement it.
#pragma once

#include <string>
#include <vector>

#include "sysops/FilePrimitives.h"
#include "sysops/ProcessControl.h"

namespace ue {

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
};

}  // namespace ue
