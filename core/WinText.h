// UTF-8 <-> the wide strings of the Win32 W calls. Header-only and free of
// platform switches: it assumes a 16-bit wchar_t (MinGW, MSVC), so include it
// from Windows files only.
#pragma once

#include <string>
#include <string_view>

#include "core/Text.h"

namespace ue::text {

// UTF-8 (or WTF-8) to UTF-16; raises Error for bytes that are not UTF-8.
inline std::wstring Wide(std::string_view utf8) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Wide needs a 16-bit wchar_t");
    const std::u16string units = Utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

// UTF-16 to UTF-8; unpaired surrogates are kept (WTF-8), so nothing is lost.
inline std::string Narrow(std::wstring_view wide) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Narrow needs a 16-bit wchar_t");
    const std::u16string units(wide.begin(), wide.end());
    return Utf16ToUtf8(units);
}

}  // namespace ue::text
