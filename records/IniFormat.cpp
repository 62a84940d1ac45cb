#include "records/IniFormat.h"

#include "core/Errors.h"
#include "core/Text.h"

#include <string>

namespace ue::ini {
namespace {

using Byte = unsigned char;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

bool IsGbkLead(char c) {
    Byte b = static_cast<Byte>(c);
    return b >= 0x81 && b <= 0xFE;
}

bool IsGbkTrail(char c) {
    Byte b = static_cast<Byte>(c);
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// Bytes taken by the character at s[i]: 2 for a GBK pair, else 1. UTF-8 text
// is walked byte by byte: none of its multi-byte characters holds an ASCII
// byte, so no byte of one can be mistaken for a syntax character.
std::size_t CharWidth(std::string_view s, std::size_t i, Encoding encoding) {
    if (encoding == Encoding::Gbk && IsGbkLead(s[i]) && i + 1 < s.size() && IsGbkTrail(s[i + 1]))
        return 2;
    return 1;
}

std::string_view TrimSpaces(std::string_view s) { return text::Trim(s, " "); }

// The first `limit` bytes of `s` at most, without splitting a character.
std::string_view CutToCharacters(std::string_view s, std::size_t limit, Encoding encoding) {
    if (s.size() <= limit) return s;
    if (encoding == Encoding::Gbk) {
        std::size_t i = 0;
        while (i < s.size()) {
            std::size_t w = CharWidth(s, i, encoding);
            if (i + w > limit) break;
            i += w;
        }
        return s.substr(0, i);
    }
    // UTF-8: step back from the cut over continuation bytes to the lead byte
    // of the character that would be split, if it would be.
    std::size_t i = limit;
    while (i > 0 && limit - i < 3 && (static_cast<Byte>(s[i]) & 0xC0) == 0x80) --i;
    Byte lead = static_cast<Byte>(s[i]);
    std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (i < limit && lead >= 0xC0 && i + need > limit) return s.substr(0, i);
    return s.substr(0, limit);
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// ---- UTF-16LE files ----------------------------------------------------------
// The text itself converts through core/Text.h, which carries unpaired
// surrogates as their 3-byte forms (as in WTF-8), so that every UTF-16 file
// converts back to exactly its own bytes. Here: the byte-order mark, the
// byte order, and an odd last byte, which is no unit and is kept as it is.

bool HasUtf16Bom(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<Byte>(bytes[0]) == 0xFF &&
           static_cast<Byte>(bytes[1]) == 0xFE;
}

// The UTF-16LE units after the byte-order mark; an odd last byte is none.
std::u16string UnitsOf(std::string_view bytes) {
    std::u16string units((bytes.size() - 2) / 2, u'\0');
    for (std::size_t k = 0; k < units.size(); ++k) {
        units[k] = static_cast<char16_t>(static_cast<Byte>(bytes[2 + 2 * k]) |
                                         (static_cast<Byte>(bytes[3 + 2 * k]) << 8));
    }
    return units;
}

std::string EncodeUtf16(std::string_view narrow, std::string_view oddTail) {
    const std::u16string units = text::Utf8ToUtf16(narrow, "settings text");
    std::string out = "\xFF\xFE";
    out.reserve(2 + units.size() * 2 + oddTail.size());
    for (char16_t unit : units) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    out += oddTail;
    return out;
}

// ---- write checks ------------------------------------------------------------

// The name as it can be shown in a message: control bytes as \xNN.
std::string Shown(std::string_view s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        Byte b = static_cast<Byte>(c);
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A GBK lead byte left alone at the end would pair with the "]" after it.
bool EndsWithLoneLeadByte(std::string_view s, Encoding encoding) {
    if (encoding != Encoding::Gbk) return false;
    std::size_t i = 0, last = 0;
    for (; i < s.size(); i += CharWidth(s, i, encoding)) last = i;
    return !s.empty() && last == s.size() - 1 && IsGbkLead(s[last]);
}

bool HasSingleByte(std::string_view s, char wanted, Encoding encoding) {
    for (std::size_t i = 0; i < s.size(); i += CharWidth(s, i, encoding))
        if (s[i] == wanted) return true;
    return false;
}

void CheckName(std::string_view name, const char* what, Encoding encoding) {
    auto fail = [&](const char* why) {
        throw Error(std::string("Invalid ") + what + " name \"" + Shown(name) +
                    "\" for the settings file: " + why);
    };
    if (name.empty()) fail("it is empty");
    if (HasLineBreakOrNul(name)) fail("it contains a line break or NUL");
    if (name.find('=') != std::string_view::npos) fail("it contains \"=\"");
    if (HasSingleByte(name, ']', encoding)) fail("it contains \"]\"");
    if (name.front() == ';') fail("it starts with \";\"");
    if (IsBlank(name.front()) || IsBlank(name.back())) fail("it starts or ends with a tab or vertical tab");
}

}  // namespace

// ---- reading -------------------------------------------------------------------

std::string DecodeFile(std::string_view bytes, bool* utf16) {
    bool isUtf16 = HasUtf16Bom(bytes);
    if (utf16) *utf16 = isUtf16;
    if (!isUtf16) return std::string(bytes);
    return text::Utf16ToUtf8(UnitsOf(bytes));
}

std::vector<Line> SplitLines(std::string_view text, Encoding encoding) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        std::size_t ce = text.find_first_of("\r\n", pos);
        if (ce == std::string_view::npos) ce = text.size();
        line.contentEnd = ce;
        std::size_t end = ce;
        if (end < text.size()) {
            if (text[end] == '\n') {
                end += 1;
            } else if (text.substr(end, 3) == "\r\r\n") {
                end += 3;
            } else if (text.substr(end, 2) == "\r\n") {
                end += 2;
            } else {
                end += 1;
            }
        }
        line.end = end;

        std::size_t p = pos;
        while (p < ce && IsBlank(text[p])) ++p;
        if (p < ce && text[p] == '[') {
            line.kind = Line::Kind::Header;
            std::size_t close = p + 1;
            while (close < ce && text[close] != ']') close += CharWidth(text, close, encoding);
            if (close > ce) close = ce;  // a lead byte's pair never crosses a line end
            std::size_t nb = p + 1, ne = close;
            while (nb < ne && IsBlank(text[nb])) ++nb;
            while (ne > nb && IsBlank(text[ne - 1])) --ne;
            line.nameBegin = nb, line.nameEnd = ne;
        } else if (p < ce && text[p] == ';') {
            line.kind = Line::Kind::Comment;
        } else {
            // "=" and blanks are below 0x40, so never the trail byte of a pair.
            std::size_t eq = text.find('=', p);
            if (eq < ce) {
                line.kind = Line::Kind::Key;
                std::size_t ne = eq;
                while (ne > p && IsBlank(text[ne - 1])) --ne;
                line.nameBegin = p, line.nameEnd = ne;
                std::size_t vb = eq + 1, ve = ce;
                while (vb < ve && IsBlank(text[vb])) ++vb;
                while (ve > vb && IsBlank(text[ve - 1])) --ve;
                line.valueBegin = vb, line.valueEnd = ve;
            }
        }
        lines.push_back(line);
        pos = end;
    }
    return lines;
}

bool NamesEqual(std::string_view a, std::string_view b, Encoding encoding) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        std::size_t w = CharWidth(a, i, encoding);
        if (w == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (text::LowerAscii(a[i]) != text::LowerAscii(b[i])) {
            return false;
        }
        i += w;
    }
    return true;
}

namespace {

struct Lookup {
    std::size_t header = std::string_view::npos;  // index of the section's first header
    std::size_t key = std::string_view::npos;     // index of the key's first line in it
    std::size_t lastKey = std::string_view::npos; // last key line of that section
};

Lookup Find(std::string_view text, const std::vector<Line>& lines, std::string_view section,
            std::string_view key, Encoding encoding) {
    Lookup found;
    auto name = [&](const Line& l) { return text.substr(l.nameBegin, l.nameEnd - l.nameBegin); };
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        if (lines[i].kind == Line::Kind::Header && NamesEqual(name(lines[i]), section, encoding)) break;
    }
    if (i == lines.size()) return found;
    found.header = i;
    for (++i; i < lines.size() && lines[i].kind != Line::Kind::Header; ++i) {
        if (lines[i].kind != Line::Kind::Key) continue;
        found.lastKey = i;
        if (found.key == std::string_view::npos && NamesEqual(name(lines[i]), key, encoding))
            found.key = i;
    }
    return found;
}

}  // namespace

std::optional<std::string> FindValue(std::string_view fileBytes, std::string_view section,
                                     std::string_view key, Encoding encoding, std::size_t maxBytes) {
    bool utf16 = false;
    std::string text = DecodeFile(fileBytes, &utf16);
    if (utf16) encoding = Encoding::Utf8;
    std::vector<Line> lines = SplitLines(text, encoding);
    Lookup found = Find(text, lines, TrimSpaces(section), TrimSpaces(key), encoding);
    if (found.key == std::string_view::npos) return std::nullopt;
    const Line& l = lines[found.key];
    std::string_view value =
        Unquote(std::string_view(text).substr(l.valueBegin, l.valueEnd - l.valueBegin));
    return std::string(CutToCharacters(value, maxBytes, encoding));
}

std::string ReadValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                      std::string_view defaultValue, Encoding encoding) {
    if (auto value = FindValue(fileBytes, section, key, encoding)) return *value;
    if (HasUtf16Bom(fileBytes)) encoding = Encoding::Utf8;
    while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
    return std::string(CutToCharacters(defaultValue, kMaxValueBytes, encoding));
}

// ---- writing -------------------------------------------------------------------

void CheckWriteArguments(std::string_view section, std::string_view key, std::string_view value,
                         Encoding encoding) {
    section = TrimSpaces(section);
    key = TrimSpaces(key);
    CheckName(section, "section", encoding);
    CheckName(key, "key", encoding);
    if (EndsWithLoneLeadByte(section, encoding))
        throw Error("Invalid section name \"" + Shown(section) +
                    "\" for the settings file: it ends with half a double-byte character");
    // A key line starting with "[" would be read as a header.
    if (key.front() == '[')
        throw Error("Invalid key name \"" + Shown(key) +
                    "\" for the settings file: it starts with \"[\"");
    if (HasLineBreakOrNul(value))
        throw Error("Invalid value for key \"" + Shown(key) +
                    "\" in the settings file: it contains a line break or NUL");
}

std::string WriteValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                       std::string_view value, Encoding encoding) {
    bool utf16 = HasUtf16Bom(fileBytes);
    if (utf16) encoding = Encoding::Utf8;
    CheckWriteArguments(section, key, value, encoding);
    section = TrimSpaces(section);
    key = TrimSpaces(key);
    if (utf16 &&
        !(text::IsStrictUtf8(section) && text::IsStrictUtf8(key) && text::IsStrictUtf8(value)))
        throw Error("Invalid text for the UTF-16 settings file: the section, key or value of \"" +
                    Shown(key) + "\" is not valid UTF-8");

    if (fileBytes.empty()) {
        std::string created = "[";
        created.append(section).append("]\r\n").append(key).append("=").append(value).append("\r\n");
        return created;
    }

    std::string text = DecodeFile(fileBytes, nullptr);
    std::vector<Line> lines = SplitLines(text, encoding);

    std::string eol = "\r\n";
    for (const Line& l : lines) {
        if (l.end > l.contentEnd) {
            eol = text.substr(l.contentEnd, l.end - l.contentEnd);
            break;
        }
    }

    Lookup found = Find(text, lines, section, key, encoding);
    std::string result;
    if (found.key != std::string_view::npos) {
        // The blanks around the old value stay unless the new value brings
        // its own, so that writing the same value again changes nothing.
        const Line& l = lines[found.key];
        std::size_t from = l.valueBegin, to = l.valueEnd;
        if (!value.empty() && IsBlank(value.front())) from = text.find('=', l.nameEnd) + 1;
        if (!value.empty() && IsBlank(value.back())) to = l.contentEnd;
        result = text.substr(0, from);
        result += value;
        result += std::string_view(text).substr(to);
    } else {
        std::size_t at;
        std::string insert;
        if (found.header != std::string_view::npos) {
            const Line& after = lines[found.lastKey != std::string_view::npos ? found.lastKey
                                                                              : found.header];
            at = after.end;
            if (after.end == after.contentEnd) insert = eol;  // unterminated last line
        } else {
            at = text.size();
            if (!lines.empty() && lines.back().end == lines.back().contentEnd) insert = eol;
            insert += "[";
            insert += section;
            insert += "]";
            insert += eol;
        }
        insert += key;
        insert += "=";
        insert += value;
        insert += eol;
        result = text.substr(0, at) + insert + text.substr(at);
    }

    if (!utf16) return result;
    std::string_view oddTail = fileBytes.size() % 2 ? fileBytes.substr(fileBytes.size() - 1) : "";
    return EncodeUtf16(result, oddTail);
}

}  // namespace ue::ini
