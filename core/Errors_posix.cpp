// System errors on Linux: errno values and strerror_r's text.
#include <cerrno>
#include <cstring>

#include "core/Errors.h"

namespace ue {

std::error_code LastSystemError() { return {errno, std::system_category()}; }

std::error_code SystemError(int code) { return {code, std::system_category()}; }

std::string SystemReason(const std::error_code& ec) {
    if (ec.category() != std::system_category() && ec.category() != std::generic_category()) {
        return ec.message();
    }
    char buffer[256];
    // The GNU form: the text may be a static string rather than the buffer.
    const char* text = ::strerror_r(ec.value(), buffer, sizeof buffer);
    std::string reason = text != nullptr ? text : "error " + std::to_string(ec.value());
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
    return reason;
}

}  // namespace ue
