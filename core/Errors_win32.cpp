// System errors on Windows: GetLastError values, and their text from
// FormatMessageW in the user's language, handed on as UTF-8. MinGW's
// std::system_category().message() goes through FormatMessageA, whose bytes
// are the ANSI code page's (GBK on a Chinese Windows), not UTF-8.
#include <windows.h>

#include "core/Errors.h"
#include "core/WinText.h"

namespace ue {

std::error_code LastSystemError() {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

std::error_code SystemError(int code) { return {code, std::system_category()}; }

std::string SystemReason(const std::error_code& ec) {
    if (ec.category() != std::system_category()) return ec.message();
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(ec.value()), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    // Windows ends its texts with ".\r\n" (Chinese ones with "。\r\n").
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' ||
                             wide.back() == L'.' || wide.back() == L'\x3002')) {
        wide.pop_back();
    }
    if (wide.empty()) return "error " + std::to_string(static_cast<DWORD>(ec.value()));
    return Narrow(wide);
}

}  // namespace ue
