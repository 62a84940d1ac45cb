// Error kinds shared by every layer. Failures are errors that carry a message
// text; the error box shows the message, except for SilentAbort.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace ue {

// The general error: a message and nothing else.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// An operating-system error that also carries the numeric error code.
class OSError : public Error {
public:
    OSError(const std::string& message, std::uint32_t code) : Error(message), code_(code) {}
    std::uint32_t Code() const { return code_; }

private:
    std::uint32_t code_;
};

// Raised by zlib failures; DecompressionError's message is "compression error",
// followed by the payload's path where the expansion knows it:
//   compression error: "/opt/suite/update/Tool.dll"
class ZlibError : public Error {
public:
    using Error::Error;
};

class DecompressionError : public ZlibError {
public:
    DecompressionError() : ZlibError("compression error") {}
    explicit DecompressionError(std::string_view path)
        : ZlibError("compression error: \"" + std::string(path) + "\"") {}
};

// Unwinds the per-file procedure and the run after the end of the application
// was requested; the error box passes over it without a message.
class SilentAbort : public Error {
public:
    SilentAbort() : Error("Operation aborted") {}
};

// The system's last error (errno, GetLastError()) and a given system code as
// std::error_code of the system category. Written once per platform
// (Errors_posix.cpp, Errors_win32.cpp), as every other binding uses them.
std::error_code LastSystemError();
std::error_code SystemError(int code);

// The reason of `ec` as UTF-8 text without a trailing full stop or line end.
// For the system category it comes from the system in the user's language
// (strerror_r; FormatMessageW on Windows, where the narrow form would hand
// back the ANSI code page's bytes); other categories give their own message.
std::string SystemReason(const std::error_code& ec);

// The one form of a failed operation: `action` names the operation and ends
// where the path follows ("Cannot replace", "Cannot copy \"a\" to"), then
// the path in quotes and the system's reason:
//   Cannot replace "C:\suite\a.dll": Access is denied
std::string FailureText(std::string_view action, std::string_view path, const std::error_code& ec);
// FailureText as an OSError that keeps the system's code.
[[noreturn]] void ThrowFailure(std::string_view action, std::string_view path,
                               const std::error_code& ec);

}  // namespace ue
