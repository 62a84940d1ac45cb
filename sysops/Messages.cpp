#include "sysops/Messages.h"

namespace ue {

std::string TrimPlatformText(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0) {
        unsigned char c = static_cast<unsigned char>(text[end - 1]);
        if (c > 32 && c != '.') break;
        --end;
    }
    return text.substr(0, end);
}

std::string LoadFailureMessage(const std::string& platformText, const std::string& file) {
    // Joined, not formatted: a "%" in the path or the text stays as it is.
    return platformText + ": " + file;
}

std::string EntryFailureMessage(const std::string& file) {
    return "DllRegisterServer in " + file + " failed.";
}

std::string OSErrorMessage(std::uint32_t code, const std::string& platformText) {
    if (code == 0) return "A call to an OS function failed";
    return "System Error.  Code: " + std::to_string(static_cast<std::int32_t>(code)) + ".\r\n" +
           platformText;
}

OSError MakeOSError(std::uint32_t code, const std::string& platformText) {
    return OSError(OSErrorMessage(code, platformText), code);
}

}  // namespace ue
