// The application title and the error box that reports an error reaching the
// message loop.
#pragma once

#include <QString>
#include <exception>
#include <string>

namespace ue {

// Shown on the task bar and as the caption of the error box.
QString ApplicationTitle();

// The message as the error box shows it: a "." is added when the last byte
// sorts after "." (bytes compared unsigned, so any non-ASCII ending gets one).
std::string WithFullStop(std::string message);

// A modal message box owned by the application: the title as caption, an
// error icon, an OK button and the message with its full stop.
void ShowErrorBox(const std::string& message);

// Reports an exception caught at the message loop: SilentAbort shows
// nothing, any other error its message.
void ReportException(std::exception_ptr error);

}  // namespace ue
