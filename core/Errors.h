// Error kinds shared by every layer. Failures are errors that carry a message
// text; the error box shows the message, except for SilentAbort.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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

// Raised by zlib failures; DecompressionError's message is always "compression error".
class ZlibError : public Error {
public:
    using Error::Error;
};

class DecompressionError : public ZlibError {
public:
    DecompressionError() : ZlibError("compression error") {}
};

// Unwinds the per-file procedure and the run after the end of the application
// was requested; the error box passes over it without a message.
class SilentAbort : public Error {
public:
    SilentAbort() : Error("Operation aborted") {}
};

}  // namespace ue
