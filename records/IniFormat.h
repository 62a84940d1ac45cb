// Update.ini as bytes: reading a value and producing the file's new bytes
// after a key is set, by the rules of the Windows profile functions
// (GetPrivateProfileStringA / WritePrivateProfileStringA).
//
// Reading:
// - Lines end with CRLF, LF, CR or CRCRLF; a missing final newline is fine.
// - A header is a line whose first non-blank byte is "["; the name runs to
//   the first "]" (or to the end of the line when there is none) and is
//   trimmed. Lines before the first header belong to no section.
// - A comment is a line whose first non-blank byte is ";". There are no
//   end-of-line comments; "#" is an ordinary character.
// - A key line holds "=": the key is the text before the first "=", the
//   value the rest, both trimmed of space, tab and VT. One pair of matching
//   outer quotes (" or ') is removed from a value of two or more bytes.
// - Section and key names match without regard to ASCII letter case; the
//   names passed in are trimmed of spaces. The first header of a section and
//   the first line of a key win; later duplicates are never looked at.
// - A value is cut to its first 2047 bytes; the cut never splits a
//   multi-byte character (it stops one byte short instead), which is what
//   Wine does and keeps the result valid text.
// - A file that starts with a UTF-16LE byte-order mark is text in UTF-16;
//   it is exchanged in UTF-8 (names and values passed in and returned), the
//   narrow encoding of Linux. Unpaired surrogates survive a rewrite. A UTF-8
//   byte-order mark is not recognised: it stays part of the first line.
//
// Writing:
// - An existing key keeps its place, its spelling and everything before its
//   value; only the value's bytes change. A new key goes right after the
//   last key line of the first matching section (right after the header when
//   the section has none), a new section at the end of the file.
// - New lines take the file's own line ending (that of its first line; CRLF
//   for a file without one). An unterminated last line gets one before
//   anything is added after it. Every other byte stays as it was.
// - When the value is already there, the result equals the input.
//
// Encodings: GBK (code page 936) takes a byte 0x81-0xFE followed by a byte
// 0x40-0x7E or 0x80-0xFE as one character, so such a trail byte is never
// case-folded nor taken for "]". UTF-8 needs no such care: none of its
// multi-byte characters holds an ASCII byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ue::ini {

enum class Encoding { Utf8, Gbk };

// The longest value a read returns, in bytes (a 2048-byte buffer with its NUL).
inline constexpr std::size_t kMaxValueBytes = 2047;

// One line of a file, as byte offsets into the (narrow) text.
struct Line {
    enum class Kind { Other, Comment, Header, Key };
    Kind kind = Kind::Other;
    std::size_t begin = 0;       // first byte of the line
    std::size_t contentEnd = 0;  // first byte of the line ending
    std::size_t end = 0;         // first byte after the line ending
    std::size_t nameBegin = 0;   // Header: section name; Key: key (both trimmed)
    std::size_t nameEnd = 0;
    std::size_t valueBegin = 0;  // Key: value trimmed, quotes still on
    std::size_t valueEnd = 0;
};

// The file's text split into lines. For a UTF-16 file this is the UTF-8 text
// that DecodeFile gives, not the file's bytes.
std::vector<Line> SplitLines(std::string_view text, Encoding encoding);

// The file's bytes as narrow text (UTF-16LE converted to UTF-8, byte-order
// mark dropped); other files unchanged. `utf16` tells which it was.
std::string DecodeFile(std::string_view bytes, bool* utf16 = nullptr);

// ASCII case-insensitive comparison of two names that keeps double-byte
// characters whole.
bool NamesEqual(std::string_view a, std::string_view b, Encoding encoding);

// The value of `key` in `section`, quotes removed and cut to `maxBytes`
// (whole characters); nothing when the section or the key is missing.
std::optional<std::string> FindValue(std::string_view fileBytes, std::string_view section,
                                     std::string_view key, Encoding encoding,
                                     std::size_t maxBytes = kMaxValueBytes);

// What GetPrivateProfileStringA with a 2048-byte buffer gives: the value, or
// the default without its trailing spaces when there is none; cut to
// kMaxValueBytes either way.
std::string ReadValue(std::string_view fileBytes, std::string_view section,
                      std::string_view key, std::string_view defaultValue, Encoding encoding);

// Raises Error when the section, key or value cannot be written without
// breaking the file's lines or becoming unreadable under that name: empty
// names, CR, LF or NUL anywhere, "=" or "]" in a name, a name starting with
// ";" (or a key with "["), tab or VT at a name's edge.
void CheckWriteArguments(std::string_view section, std::string_view key, std::string_view value,
                         Encoding encoding);

// The file's bytes after setting `key` in `section` to `value` (written as
// given). An empty input is a missing file: the result is
// "[section]\r\nkey=value\r\n". Raises Error as CheckWriteArguments does, and
// when the file is UTF-16 and a name or the value is not valid UTF-8.
std::string WriteValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                       std::string_view value, Encoding encoding);

}  // namespace ue::ini
