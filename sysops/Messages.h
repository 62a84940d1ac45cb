// Message texts of the system operations, shared by both platforms so that
// the wording is the same wherever an operation fails.
#pragma once

#include <cstdint>
#include <string>

#include "core/Errors.h"

namespace ue {

// The platform's text for an error with its trailing control characters,
// blanks (bytes 0 to 32) and full stops cut off.
std::string TrimPlatformText(const std::string& text);

// A library that cannot be loaded: "<platform text>: <file>".
std::string LoadFailureMessage(const std::string& platformText, const std::string& file);

// A self-registration entry that reports failure:
// "DllRegisterServer in <file> failed."
std::string EntryFailureMessage(const std::string& file);

// The operating-system error's message: "System Error.  Code: <code>.\r\n<text>",
// the code printed as a signed 32-bit number; for code 0 "A call to an OS
// function failed".
std::string OSErrorMessage(std::uint32_t code, const std::string& platformText);
OSError MakeOSError(std::uint32_t code, const std::string& platformText);

// RunFailureMessage is declared and defined with process control.

}  // namespace ue
