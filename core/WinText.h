// UTF-8 <-> the wide strings of the Windows W calls. On Windows wchar_t is a
// UTF-16 code unit, so the conversion is the one of core/Text.h; elsewhere
// these are not used (wchar_t is 32-bit there).
#pragma once

#include <string>
#include <string_view>

#include "core/Text.h"

namespace ue::text {

// UTF-8 to the wide form; bytes that are not UTF-8 raise Error naming `what`.
inline std::wstring Wide(std::string_view text, std::string_view what = "text") {
    static_assert(sizeof(wchar_t) == 2 || sizeof(wchar_t) == 4);
    const std::u16string units = Utf8ToUtf16(text, what);
    return std::wstring(units.begin(), units.end());
}

// The wide form back to UTF-8.
inline std::string Narrow(std::wstring_view text) {
    const std::u16string units(text.begin(), text.end());
    return Utf16ToUtf8(units);
}

}  // namespace ue::text
