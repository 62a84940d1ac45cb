// The message form of failed operations, the same on every platform; the
// system's reason comes from Errors_posix.cpp or Errors_win32.cpp.
#include "core/Errors.h"

namespace ue {

std::string FailureText(std::string_view action, std::string_view path, const std::error_code& ec) {
    std::string text(action);
    text += " \"";
    text += path;
    text += "\"";
    if (ec) text += ": " + SystemReason(ec);
    return text;
}

void ThrowFailure(std::string_view action, std::string_view path, const std::error_code& ec) {
    throw OSError(FailureText(action, path, ec), static_cast<std::uint32_t>(ec.value()));
}

}  // namespace ue
