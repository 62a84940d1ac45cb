// Update.ini cases with the result the Windows profile functions give. The
// format's own tests check our reader and writer against them on every
// platform; on Windows they are also run through the profile functions.
#pragma once

#include "records/IniFormat.h"

#include <string>
#include <string_view>
#include <vector>

namespace ue::test {

// How far a case is checked. Api: through the profile functions too; its text
// reads the same byte by byte and as GBK. ApiGbk: GBK text, through the profile
// functions under code page 936. Ours: our code only, byte by byte (as UTF-8):
// text the narrow profile functions cannot express, byte-by-byte rules, and
// points where Windows' own behaviour is not pinned down.
enum class Check { Api, ApiGbk, Ours };

inline ini::Encoding EncodingOf(Check c) {
    return c == Check::ApiGbk ? ini::Encoding::Gbk : ini::Encoding::Utf8;
}

struct IniReadCase {
    const char* name;
    std::string file, section, key, expected;
    Check check = Check::Api;
    const char* wineDiffers = nullptr;  // why Wine 8 reads something else
    std::string def = "d";
};

struct IniWriteCase {
    const char* name;
    std::string file;  // empty: no file yet
    std::string section, key, value, expected;
    Check check = Check::Api;
    const char* wineDiffers = nullptr;  // why Wine 8 writes other bytes
};

inline std::string Repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

inline std::string Replaced(std::string s, std::string_view from, std::string_view to) {
    return s.replace(s.find(from), from.size(), to);
}

// UTF-16LE bytes with their byte-order mark.
inline std::string Utf16(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t u : text) out += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    return out;
}

// GBK: 升级 (upgrade), 文件 (file), 中文 (Chinese). 0x81 0x5D is one character
// whose trail byte is "]"; 0x81 0x41 and 0x81 0x61 differ only in a trail byte
// that is "A" or "a".
inline const std::string kShengji = "\xC9\xFD\xBC\xB6", kWenjian = "\xCE\xC4\xBC\xFE",
                         kZhongwen = "\xD6\xD0\xCE\xC4";

inline std::vector<IniReadCase> IniReadCases() {
    using enum Check;
    const std::string crlf =
        "; suite settings\r\n[s]\r\n;k=commented\r\n  ;i=indented\r\nk=v\r\n[t]\r\nk=w\r\n";
    const std::string lf = "; suite settings\n[s]\n;k=commented\nk=v\n[t]\nk=w\n";
    const std::string blanks = "  [  s  ]  trailing\r\n \t k \t = \t a  b \t \r\nvt\v=\vx\v\r\n";
    const std::string quotes = "[q]\r\ndq=\"a b\"\r\nsq=' c '\r\nmis=\"d'\r\nemp=\"\"\r\none=\"\r\n"
                               "inner=x\"y\"\r\ntwice=\"\"e\"\"\r\n";
    const std::string misc = "top=1\r\n[s]\r\nempty=\r\nblank=   \r\nplain line\r\n#h=hash\r\n"
                             "eol=v ;c\r\neq=a=b==c\r\n";
    const std::string dups = "[s]\r\nk=first\r\nK=second\r\n[o]\r\nx=1\r\n[S]\r\nk=third\r\nonly=2\r\n";
    const std::string bom = "\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n";
    auto value = [](const std::string& v) { return "[s]\r\nk=" + v + "\r\n"; };
    const std::string gbk = "[" + kShengji + "]\r\n" + kWenjian + "=" + kZhongwen + "\r\n"
                            "[\x81\x5D" "x]\r\nk=trail\r\n"
                            "[\x81\x41]\r\nk=upper\r\n\x81\x41=pair\r\nAb\x81\x41=mixed\r\n";
    const std::string utf8Chars = Repeat("\xE4\xB8\xAD", 700);  // 中, 3 bytes each
    const std::string x2047(2047, 'x');

    return {
        {"CommentsCrlf", crlf, "s", "k", "v"},
        {"CommentsLf", lf, "S", "K", "v"},
        {"CommentLineIsNoKey", crlf, "s", ";k", "d", Api, "a comment line is read as a key"},
        {"IndentedCommentIsNoKey", crlf, "s", ";i", "d", Api, "a comment line is read as a key"},
        {"CrEndings", "[s]\rk=v\r[t]\rk=w", "t", "k", "w"},
        {"CrCrLfEndings", "[s]\r\r\nk=v\r\r\n", "s", "k", "v"},
        {"NoFinalNewline", "[s]\r\nk=v", "s", "k", "v"},
        {"BlanksAroundNames", blanks, "s", "k", "a  b"},
        {"VerticalTab", blanks, "s", "vt", "x"},
        {"SpacesAroundNamesPassedIn", blanks, "  s ", " k  ", "a  b"},
        {"TabAroundNamePassedIn", blanks, "s", "\tk", "d", Api,
         "white space other than spaces is stripped from the names passed in"},
        {"DoubleQuotes", quotes, "q", "dq", "a b"},
        {"SingleQuotesKeepInnerBlanks", quotes, "q", "sq", " c "},
        {"MismatchedQuotes", quotes, "q", "mis", "\"d'"},
        {"EmptyQuotes", quotes, "q", "emp", ""},
        {"OneQuote", quotes, "q", "one", "\""},
        {"InnerQuotes", quotes, "q", "inner", "x\"y\""},
        {"OneOuterPairOnly", quotes, "q", "twice", "\"e\""},
        {"EmptyValueIsNotTheDefault", misc, "s", "empty", ""},
        {"BlankValueIsEmpty", misc, "s", "blank", ""},
        {"LineWithoutEquals", misc, "s", "plain line", "d"},
        {"HashIsOrdinary", misc, "s", "#h", "hash"},
        {"NoEndOfLineComment", misc, "s", "eol", "v ;c"},
        {"EqualsInValue", misc, "s", "eq", "a=b==c"},
        {"BeforeFirstSection", misc, "", "top", "d", Api,
         "lines before the first section belong to a section named \"\""},
        {"EmptySectionName", "[]\r\nk=v\r\n", "", "k", "v", Ours},
        {"FirstKeyWins", dups, "s", "k", "first"},
        {"FirstSectionWins", dups, "s", "only", "d"},
        {"HeaderEndsAtFirstBracket", "[a]b]\r\nk=v\r\n", "a", "k", "v", Api,
         "a header's name ends at its last \"]\""},
        {"HeaderWithoutBracket", "[open\r\nk=v\r\n", "open", "k", "v", Api,
         "a line without \"]\" is no header"},
        {"Utf8BomNotRecognised", bom, "s", "k", "d", Api, "a UTF-8 byte-order mark is honoured"},
        {"Utf8BomLeavesLaterSections", bom, "t", "k", "w"},
        {"Utf16File", Utf16(u"[s]\r\nk=v\r\n"), "S", "K", "v"},
        {"Utf16ToUtf8", Utf16(u"[s]\r\nk=\u4E2D\r\n"), "s", "k", "\xE4\xB8\xAD", Ours},
        {"Utf16SurrogatePair", Utf16(u"[t]\r\nn=\U0001F600\r\n"), "t", "n", "\xF0\x9F\x98\x80",
         Ours},
        {"Utf16LoneSurrogate", Utf16(u"[s]\nx=\xD800\n") + "\x41", "s", "x", "\xED\xA0\x80", Ours},
        {"DefaultLosesTrailingSpaces", misc, "s", "missing", "def", Api, nullptr, "def  "},
        {"DefaultKeepsLeadingSpaces", misc, "s", "missing", "  def", Api, nullptr, "  def"},
        {"LongDefaultCut", misc, "s", "missing", x2047, Api, nullptr, std::string(3000, 'x')},
        {"LongestValue", value(x2047), "s", "k", x2047},
        {"LongValueCut", value(std::string(3000, 'x')), "s", "k", x2047},
        {"QuotesGoBeforeTheCut", value("\"" + std::string(3000, 'x') + "\""), "s", "k", x2047},
        {"GbkNames", gbk, kShengji, kWenjian, kZhongwen, ApiGbk},
        {"GbkTrailIsNoBracket", gbk, "\x81\x5D" "x", "k", "trail", ApiGbk},
        {"GbkSectionTrailIsNotFolded", gbk, "\x81\x61", "k", "d", ApiGbk},
        {"GbkKey", gbk, "\x81\x41", "\x81\x41", "pair", ApiGbk},
        {"GbkKeyTrailIsNotFolded", gbk, "\x81\x41", "\x81\x61", "d", ApiGbk},
        {"GbkKeyAsciiIsFolded", gbk, "\x81\x41", "aB\x81\x41", "mixed", ApiGbk},
        {"ByteByByteHeaderEndsAtTrail", gbk, "\x81", "k", "trail", Ours},
        // "中文" pairs after one ASCII byte end exactly at 2047; after two, the
        // last pair would straddle the cut and is left out.
        {"GbkLongEvenCut", value("a" + Repeat(kZhongwen, 800)), "s", "k",
         "a" + Repeat(kZhongwen, 511) + "\xD6\xD0", ApiGbk},
        {"GbkLongNoSplit", value("ab" + Repeat(kZhongwen, 800)), "s", "k", "ab" + Repeat(kZhongwen, 511),
         ApiGbk},
        {"Utf8LongNoSplit", value(utf8Chars), "s", "k", utf8Chars.substr(0, 2046), Ours},
        {"Utf8LongEvenCut", value("a" + utf8Chars), "s", "k", ("a" + utf8Chars).substr(0, 2047), Ours},
    };
}

inline std::vector<IniWriteCase> IniWriteCases() {
    using enum Check;
    const char* regenerates = "Wine rewrites the whole file (blank lines, spacing, line endings)";
    // A UTF-8 byte-order mark is no more than bytes of the first line.
    const std::string rich =
        "\xEF\xBB\xBF; suite settings\r\n\r\n[Main]\r\n  Left = 10 \r\n\r\n[Update]\r\n"
        "ExeFile = \"Main.exe\"\r\nExeFile2=Helper.exe\r\nCurVer=11\r\n; end of update\r\n[Tail]\r\nx=y\r\n";
    // LF endings, a line before any section, an unterminated last line.
    const std::string lf =
        "first line\n; settings\n\n[Main]\nWindow = 10, 20 \n\n[Update]\nExeFile=\xE5\x8D\x87\xE7\xBA\xA7.exe\n"
        "ExeFile2 = \"Helper.exe\"\nCurVer=11\n\t; comment\n[Tail]\nx=y";
    const std::string sparse =
        "[s]\r\na=1\r\n\r\nnote\r\nb=2\r\n; about [t]\r\n\r\n[t]\r\nc=3\r\n[s]\r\nz=9\r\n";
    const std::string same = "[s]\r\n k = v \r\nq=\"x\"\r\n";
    const std::string time = "UpdateTime=2008-05-09";
    const char* crlf = "Wine writes CRLF";
    const char* leading = "Wine drops a value's leading white space";

    return {
        {"NewFile", "", "Update", "CurVer", "12", "[Update]\r\nCurVer=12\r\n"},
        {"NamesPassedInAreTrimmed", "", "  Update ", " CurVer  ", "-3", "[Update]\r\nCurVer=-3\r\n",
         Ours},
        {"AddKeyAtTheEnd", "[Update]\r\nCurVer=12\r\n", "Update", "UpdateTime", "2008-05-09",
         "[Update]\r\nCurVer=12\r\n" + time + "\r\n"},
        {"ReplaceInCompactFile", "[Update]\r\nExeFile=a.exe\r\nCurVer=11\r\n", "Update", "CurVer", "12",
         "[Update]\r\nExeFile=a.exe\r\nCurVer=12\r\n"},
        {"ReplaceKeepsSpellingAndBlanks", "; s\r\n[update]\r\n  curver = \"7\"  \r\nExeFile=a\r\n",
         "Update", "CurVer", "12", "; s\r\n[update]\r\n  curver = 12  \r\nExeFile=a\r\n", Api, regenerates},
        {"ReplaceEmptyValue", "[s]\nk=\nx=1\n", "s", "k", "v", "[s]\nk=v\nx=1\n", Api, crlf},
        {"ReplaceInUnterminatedLine", "[s]\nk=old", "s", "k", "new", "[s]\nk=new", Api, crlf},
        {"AddKeyBeforeNextSection", "[Update]\r\nCurVer=11\r\n[Other]\r\nk=v\r\n", "update", "UpdateTime",
         "2008-05-09", "[Update]\r\nCurVer=11\r\n" + time + "\r\n[Other]\r\nk=v\r\n"},
        {"AddKeyAfterTheLastKey", sparse, "S", "new", "v", Replaced(sparse, "b=2\r\n", "b=2\r\nnew=v\r\n"),
         Api, regenerates},
        {"AddKeyToSectionWithoutKeys", "[s]\n; comment\n[t]\n", "s", "k", "v", "[s]\nk=v\n; comment\n[t]\n",
         Api, crlf},
        {"AddSection", "[Other]\r\nk=v\r\n", "Update", "CurVer", "-3",
         "[Other]\r\nk=v\r\n[Update]\r\nCurVer=-3\r\n"},
        {"AddSectionAfterLf", "top=1\n[a]\nx=1\n", "b", "k", "v", "top=1\n[a]\nx=1\n[b]\nk=v\n", Api, crlf},
        {"AddSectionAfterCr", "[a]\rx=1\r", "b", "k", "v", "[a]\rx=1\r[b]\rk=v\r", Api, crlf},
        {"AddSectionAfterCrCrLf", "[a]\r\r\nx=1\r\r\n", "b", "k", "v", "[a]\r\r\nx=1\r\r\n[b]\r\r\nk=v\r\r\n",
         Api, crlf},
        {"AddSectionToTextWithoutLines", "just text", "b", "k", "v", "just text\r\n[b]\r\nk=v\r\n"},
        {"RichReplace", rich, "Update", "CurVer", "12", Replaced(rich, "CurVer=11", "CurVer=12"), Api,
         regenerates},
        {"RichAddKey", rich, "Update", "UpdateTime", "2008-05-09",
         Replaced(rich, "CurVer=11\r\n", "CurVer=11\r\n" + time + "\r\n"), Api, regenerates},
        {"RichAddSection", rich, "New", "k", "v", rich + "[New]\r\nk=v\r\n", Api, regenerates},
        {"LfReplace", lf, "Update", "CurVer", "12", Replaced(lf, "CurVer=11", "CurVer=12"), Api, crlf},
        {"LfAddKey", lf, "Update", "UpdateTime", "2008-05-09",
         Replaced(lf, "CurVer=11\n", "CurVer=11\n" + time + "\n"), Api, crlf},
        {"NoFinalNewline", "[Other]\r\nk=v", "Update", "CurVer", "1",
         "[Other]\r\nk=v\r\n[Update]\r\nCurVer=1\r\n"},
        {"NoFinalNewlineInSection", "[Update]\r\nk=v", "Update", "CurVer", "1",
         "[Update]\r\nk=v\r\nCurVer=1\r\n"},
        {"HeaderOnly", "[s]", "s", "k", "v", "[s]\r\nk=v\r\n"},
        {"DuplicateSections", "[Update]\r\na=1\r\n[x]\r\nb=2\r\n[UPDATE]\r\nc=3\r\n", "Update", "CurVer",
         "1",
         "[Update]\r\na=1\r\nCurVer=1\r\n[x]\r\nb=2\r\n[UPDATE]\r\nc=3\r\n"},
        {"DuplicateKeys", "[Update]\r\nCurVer=1\r\ncurver=2\r\n", "Update", "CURVER", "3",
         "[Update]\r\nCurVer=3\r\ncurver=2\r\n"},
        {"SameValueAgain", "[Update]\r\nCurVer=11\r\n", "Update", "CurVer", "11",
         "[Update]\r\nCurVer=11\r\n"},
        {"SameValueInBlanks", same, "S", "K", "v", same},
        {"SameQuotedValue", same, "s", "q", "\"x\"", same},
        {"UnquotedIsOtherText", same, "s", "q", "x", "[s]\r\n k = v \r\nq=x\r\n", Api, regenerates},
        // A value with blanks of its own replaces the old blanks too, and
        // writing it again changes nothing.
        {"BlankEdgedValue", same, "s", "k", "\tw ", "[s]\r\n k =\tw \r\nq=\"x\"\r\n", Api, leading},
        {"BlankEdgedValueAgain", "[s]\r\n k =\tw \r\n", "s", "k", "\tw ", "[s]\r\n k =\tw \r\n", Api,
         leading},
        {"QuotedValue", "[Update]\r\nExeFile=a\r\n", "Update", "CurVer", "\"q r\"",
         "[Update]\r\nExeFile=a\r\nCurVer=\"q r\"\r\n"},
        {"LeadingBlanksInValue", "[Update]\r\n", "Update", "CurVer", "  12", "[Update]\r\nCurVer=  12\r\n",
         Api, leading},
        {"LongValue", "[s]\r\nk=1\r\n", "s", "long", std::string(3000, 'z'),
         "[s]\r\nk=1\r\nlong=" + std::string(3000, 'z') + "\r\n"},
        {"BeforeFirstSection", "top=1\r\n[s]\r\nk=1\r\n", "s", "n", "v", "top=1\r\n[s]\r\nk=1\r\nn=v\r\n"},
        {"KeysBeforeTheFirstSectionBelongToNone", "k=0\r\n", "s", "k", "v", "k=0\r\n[s]\r\nk=v\r\n"},
        {"GbkNamesAndValues", "[" + kShengji + "]\r\nk=1\r\n", kShengji, kWenjian, kZhongwen,
         "[" + kShengji + "]\r\nk=1\r\n" + kWenjian + "=" + kZhongwen + "\r\n", ApiGbk},
        {"GbkTrailByteIsNoBracket", "[\x81\x5D" "x]\r\nk=1\r\n", "\x81\x5D" "x", "\xD6\xD0", "\xCE\xC4",
         "[\x81\x5D" "x]\r\nk=1\r\n\xD6\xD0=\xCE\xC4\r\n", ApiGbk},
        {"EmptyUtf16File", "\xFF\xFE", "s", "k", "v", Utf16(u"[s]\r\nk=v\r\n")},
        {"Utf16Replace", Utf16(u"[s]\r\nk=\u4E2D\r\n"), "s", "k", "\xE6\x96\x87",
         Utf16(u"[s]\r\nk=\u6587\r\n"), Ours},
        {"Utf16AddSection", Utf16(u"[s]\r\nk=v\r\n"), "t", "n", "\xF0\x9F\x98\x80",
         Utf16(u"[s]\r\nk=v\r\n[t]\r\nn=\U0001F600\r\n"), Ours},
        {"Utf16OddByteAndLoneSurrogateStay", Utf16(u"[s]\nx=\xD800\n") + "\x41", "s", "k", "v",
         Utf16(u"[s]\nx=\xD800\nk=v\n") + "\x41", Ours},
    };
}

}  // namespace ue::test
