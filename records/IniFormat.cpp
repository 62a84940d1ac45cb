#include "records/IniFormat.h"

#include "core/Errors.h"

#include <cstdint>

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

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

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

// ---- UTF-16LE <-> UTF-8 ------------------------------------------------------
// Unpaired surrogates are carried as their 3-byte forms (as in WTF-8) so that
// every UTF-16 file converts back to exactly its own bytes.

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUnit(std::string& out, std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// Decodes one UTF-8 character at s[i]; 0 when the bytes are not one. With
// `strict`, encoded surrogates are refused too.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, std::uint32_t& cp, bool strict) {
    Byte b0 = static_cast<Byte>(s[i]);
    std::size_t n;
    std::uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        Byte b = static_cast<Byte>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) return 0;
    if (strict && cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return n;
}

bool IsStrictUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        std::uint32_t cp;
        std::size_t n = DecodeUtf8(s, i, cp, true);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string EncodeUtf16(std::string_view text, std::string_view oddTail) {
    std::string out = "\xFF\xFE";
    out.reserve(2 + text.size() * 2 + oddTail.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp;
        std::size_t n = DecodeUtf8(text, i, cp, false);
        if (n == 0) throw Error("The settings text cannot be stored as UTF-16");
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnit(out, 0xD800 | (cp >> 10));
            AppendUnit(out, 0xDC00 | (cp & 0x3FF));
        } else {
            AppendUnit(out, cp);
        }
        i += n;
    }
    out += oddTail;
    return out;
}

bool HasUtf16Bom(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<Byte>(bytes[0]) == 0xFF &&
           static_cast<Byte>(bytes[1]) == 0xFE;
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
    std::string out;
    out.reserve(bytes.size());
    std::size_t count = (bytes.size() - 2) / 2;
    auto unit = [&](std::size_t k) -> std::uint32_t {
        return static_cast<Byte>(bytes[2 + 2 * k]) |
               (static_cast<std::uint32_t>(static_cast<Byte>(bytes[3 + 2 * k])) << 8);
    };
    for (std::size_t k = 0; k < count; ++k) {
        std::uint32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < count) {
            std::uint32_t low = unit(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        AppendUtf8(out, u);
    }
    return out;
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
        } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
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
                                     std::string_view key, Encoding encoding) {
    bool utf16 = false;
    std::string text = DecodeFile(fileBytes, &utf16);
    if (utf16) encoding = Encoding::Utf8;
    std::vector<Line> lines = SplitLines(text, encoding);
    Lookup found = Find(text, lines, TrimSpaces(section), TrimSpaces(key), encoding);
    if (found.key == std::string_view::npos) return std::nullopt;
    const Line& l = lines[found.key];
    std::string_view value =
        Unquote(std::string_view(text).substr(l.valueBegin, l.valueEnd - l.valueBegin));
    return std::string(CutToCharacters(value, kMaxValueBytes, encoding));
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
    if (utf16 && !(IsStrictUtf8(section) && IsStrictUtf8(key) && IsStrictUtf8(value)))
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
