// UTF-8 text to and from the wide text of the Windows W calls, at the one
// place where a binding meets them. Header-only and free of platform tests:
// on Windows wchar_t holds UTF-16 units; where it is 32 bits wide it holds
// code points, so the helpers still mean the same there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Errors.h"
#include "core/Text.h"

namespace ue {

// UTF-8 to wide text; bytes that are not UTF-8 raise Error naming `what`.
inline std::wstring Wide(std::string_view text, std::string_view what = "text") {
    if constexpr (sizeof(wchar_t) == 2) {
        const std::u16string units = text::Utf8ToUtf16(text, what);
        return std::wstring(units.begin(), units.end());
    } else {
        std::wstring out;
        for (std::size_t i = 0; i < text.size();) {
            std::uint32_t cp = 0;
            const std::size_t n = text::DecodeUtf8(text, i, cp, false);
            if (n == 0) throw Error("The " + std::string(what) + " is not UTF-8 text");
            out += static_cast<wchar_t>(cp);
            i += n;
        }
        return out;
    }
}

// Wide text to UTF-8; unpaired surrogates are kept (see Utf16ToUtf8).
inline std::string Narrow(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) == 2) {
        return text::Utf16ToUtf8(std::u16string(text.begin(), text.end()));
    } else {
        std::string out;
        for (wchar_t c : text) text::AppendUtf8(out, static_cast<std::uint32_t>(c));
        return out;
    }
}

}  // namespace ue
