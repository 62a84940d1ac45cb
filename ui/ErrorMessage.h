// What the error box shows for an error that reaches the message loop.
#pragma once

#include <exception>
#include <optional>
#include <string>

namespace ue {

// The message as the error box shows it: a "." is added when the last byte
// sorts after "." (bytes compared unsigned, so any non-ASCII ending gets one).
std::string WithFullStop(std::string message);

// The text of the error box for `error`, with its full stop: nothing for
// SilentAbort, the message of any other std::exception, "Unknown exception"
// for anything else.
std::optional<std::string> ErrorBoxText(std::exception_ptr error);

}  // namespace ue
