// Text helpers every layer shares: ASCII case rules, trimming, and the one
// conversion between UTF-8 and UTF-16 (the Windows bindings and UTF-16
// Update.ini files need it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ue::text {

// 'A'..'Z' to 'a'..'z' (and back); every other byte, also of multi-byte
// characters, stays as it is.
char LowerAscii(char c);
char UpperAscii(char c);
std::string LowerAscii(std::string_view s);
std::string UpperAscii(std::string_view s);
// Equal but for the letter case of ASCII letters.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);

// `s` without the characters of `blanks` at either end.
std::string_view Trim(std::string_view s, std::string_view blanks = " \t");

// Decodes one UTF-8 character at s[i] into `cp`; the bytes it takes, or 0 when
// the bytes there are not one. With `strict`, encoded surrogates are refused.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, std::uint32_t& cp, bool strict);
void AppendUtf8(std::string& out, std::uint32_t cp);
// Valid UTF-8 without encoded surrogates.
bool IsStrictUtf8(std::string_view s);

// UTF-16 code units to UTF-8. Unpaired surrogates are carried as their
// 3-byte forms (as in WTF-8), so that every UTF-16 text converts back to
// exactly its own units.
std::string Utf16ToUtf8(std::u16string_view units);
// UTF-8 (or WTF-8) to UTF-16 code units. Bytes that are not UTF-8 raise Error
// naming `what`.
std::u16string Utf8ToUtf16(std::string_view text, std::string_view what = "text");

// A decimal number written as text, as a variant comparison reads it: blanks
// (" \t") at either end are ignored; then an optional sign, digits with an
// optional fraction ("5", "+0", "-2", "0.0", ".5", "5.") and an optional
// exponent ("5e0", "1E-3"). Hexadecimal, "inf", "nan", inner blanks and
// thousands separators are no number; neither is a value beyond the range of
// a double. The point is always "."; the locale plays no part.
bool ParseDecimalNumber(std::string_view s, double& value);

}  // namespace ue::text
