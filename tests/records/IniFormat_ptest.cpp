#include "records/IniFormat.h"

#include "core/Errors.h"

#include <gtest/gtest.h>

#include <string>

namespace ue::ini {
namespace {

constexpr Encoding kU8 = Encoding::Utf8;
constexpr Encoding kGbk = Encoding::Gbk;

std::string Read(const std::string& file, const char* section, const char* key,
                 Encoding encoding = kU8) {
    return ReadValue(file, section, key, "<default>", encoding);
}

// ---- reading ---------------------------------------------------------------------

TEST(IniRead, NamesMatchWithoutCaseAndBlanks) {
    const std::string file =
        "[Update]\r\n"
        "  ExeFile  =  Main.exe  \r\n"
        "\tTabbed\t=\tv\t\r\n"
        "Vt\v=\vw\r\n";
    EXPECT_EQ(Read(file, "update", "EXEFILE"), "Main.exe");
    EXPECT_EQ(Read(file, "  UPDATE ", " exefile  "), "Main.exe");  // spaces around names passed in
    EXPECT_EQ(Read(file, "Update", "Tabbed"), "v");
    EXPECT_EQ(Read(file, "Update", "Vt"), "w");
    // Only spaces are stripped from the names passed in.
    EXPECT_EQ(Read(file, "Update", "\tTabbed"), "<default>");
}

TEST(IniRead, ValueText) {
    const std::string file =
        "[s]\n"
        "empty=\n"
        "blank=   \n"
        "eq=a=b==c\n"
        "inner=a  b\n"
        "dq=\"quoted value\"\n"
        "sq=' x '\n"
        "emptyq=\"\"\n"
        "mismatch=\"abc'\n"
        "one=\"\n"
        "inside=a\"b\"\n"
        "twice=\"\"x\"\"\n"
        "hash=#not a comment\n"
        "eol=v ;not a comment\n";
    EXPECT_EQ(Read(file, "s", "empty"), "");  // present but empty: not the default
    EXPECT_EQ(Read(file, "s", "blank"), "");
    EXPECT_EQ(Read(file, "s", "eq"), "a=b==c");
    EXPECT_EQ(Read(file, "s", "inner"), "a  b");
    EXPECT_EQ(Read(file, "s", "dq"), "quoted value");
    EXPECT_EQ(Read(file, "s", "sq"), " x ");
    EXPECT_EQ(Read(file, "s", "emptyq"), "");
    EXPECT_EQ(Read(file, "s", "mismatch"), "\"abc'");
    EXPECT_EQ(Read(file, "s", "one"), "\"");
    EXPECT_EQ(Read(file, "s", "inside"), "a\"b\"");
    EXPECT_EQ(Read(file, "s", "twice"), "\"x\"");  // one outer pair only
    EXPECT_EQ(Read(file, "s", "hash"), "#not a comment");
    EXPECT_EQ(Read(file, "s", "eol"), "v ;not a comment");
}

TEST(IniRead, WhatIsNotAKey) {
    const std::string file =
        "k0=before any section\n"
        "[s]\n"
        ";c=commented\n"
        "  ;d=indented comment\n"
        "plain line\n"
        "#h=hash key\n";
    EXPECT_EQ(Read(file, "", "k0"), "<default>");  // lines before the first section
    EXPECT_EQ(Read(file, "s", ";c"), "<default>");
    EXPECT_EQ(Read(file, "s", "c"), "<default>");
    EXPECT_EQ(Read(file, "s", "d"), "<default>");
    EXPECT_EQ(Read(file, "s", "plain line"), "<default>");
    EXPECT_EQ(Read(file, "s", "#h"), "hash key");
    EXPECT_EQ(Read(file, "missing", "k0"), "<default>");
}

TEST(IniRead, Headers) {
    const std::string file =
        "  [  Spaced  ]  trailing text\n"
        "a=1\n"
        "[x]y]\n"
        "b=2\n"
        "[open\n"
        "c=3\n"
        "[]\n"
        "d=4\n";
    EXPECT_EQ(Read(file, "Spaced", "a"), "1");
    EXPECT_EQ(Read(file, "x", "b"), "2");  // the name ends at the first "]"
    EXPECT_EQ(Read(file, "x]y", "b"), "<default>");
    EXPECT_EQ(Read(file, "open", "c"), "3");  // no "]": the name runs to the line end
    EXPECT_EQ(Read(file, "", "d"), "4");
}

TEST(IniRead, FirstOccurrenceWins) {
    const std::string file =
        "[S]\n"
        "k=first\n"
        "K=second\n"
        "[other]\n"
        "k=other\n"
        "[s]\n"
        "k=third\n"
        "only=in the second header\n";
    EXPECT_EQ(Read(file, "s", "k"), "first");
    EXPECT_EQ(Read(file, "s", "only"), "<default>");
    EXPECT_EQ(Read(file, "other", "k"), "other");
}

TEST(IniRead, LineEndings) {
    for (const char* eol : {"\r\n", "\n", "\r", "\r\r\n"}) {
        std::string e = eol;
        std::string file = "[a]" + e + "x=1" + e + e + "[b]" + e + "y=2";  // no final newline
        EXPECT_EQ(Read(file, "a", "x"), "1") << "ending of " << e.size() << " bytes";
        EXPECT_EQ(Read(file, "b", "y"), "2") << "ending of " << e.size() << " bytes";
    }
}

TEST(IniRead, Utf8BomIsPartOfTheFirstLine) {
    const std::string file = "\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n";
    EXPECT_EQ(Read(file, "s", "k"), "<default>");
    EXPECT_EQ(Read(file, "t", "k"), "w");
}

TEST(IniRead, DefaultAndMissingFile) {
    EXPECT_EQ(ReadValue("", "s", "k", "def  ", kU8), "def");  // trailing spaces removed
    EXPECT_EQ(ReadValue("", "s", "k", "  def", kU8), "  def");
    EXPECT_EQ(ReadValue("", "s", "k", "", kU8), "");
    EXPECT_FALSE(FindValue("", "s", "k", kU8).has_value());
    EXPECT_EQ(ReadValue("", "s", "k", std::string(3000, 'd'), kU8).size(), kMaxValueBytes);
}

TEST(IniRead, LongValuesAreCutWithoutSplittingACharacter) {
    auto file = [](const std::string& v) { return "[s]\r\nk=" + v + "\r\n"; };
    EXPECT_EQ(Read(file(std::string(2047, 'x')), "s", "k"), std::string(2047, 'x'));
    EXPECT_EQ(Read(file(std::string(5000, 'x')), "s", "k"), std::string(2047, 'x'));

    // GBK: "中" is D6 D0. After one ASCII byte the pairs end exactly at 2047;
    // after two, the last pair would straddle the cut and is left out.
    std::string pairs;
    for (int i = 0; i < 1500; ++i) pairs += "\xD6\xD0";
    std::string one = Read(file("a" + pairs), "s", "k", kGbk);
    EXPECT_EQ(one.size(), 2047u);
    std::string two = Read(file("ab" + pairs), "s", "k", kGbk);
    EXPECT_EQ(two.size(), 2046u);
    EXPECT_EQ(two.substr(2044), "\xD6\xD0");

    // UTF-8: "中" is E4 B8 AD; 682 of them end at 2046, the 683rd would not fit.
    std::string chars;
    for (int i = 0; i < 700; ++i) chars += "\xE4\xB8\xAD";
    EXPECT_EQ(Read(file(chars), "s", "k").size(), 2046u);
    EXPECT_EQ(Read(file("a" + chars), "s", "k").size(), 2047u);
    // A quote is removed before the cut, as the value is what gets cut.
    EXPECT_EQ(Read(file("\"" + std::string(3000, 'q') + "\""), "s", "k"), std::string(2047, 'q'));
}

TEST(IniRead, GbkTrailBytesAreNeitherFoldedNorBrackets) {
    // 0x81 0x5D is one character whose trail byte is "]"; 0x81 0x41 / 0x81 0x61
    // are two different characters whose trail bytes are "A" and "a".
    const std::string file =
        "[\x81\x5D" "x]\r\n"
        "k=gbk section\r\n"
        "[\x81\x41]\r\n"
        "\x81\x41=upper\r\n"
        "Ab\x81\x41=mixed\r\n";
    EXPECT_EQ(Read(file, "\x81\x5D" "x", "k", kGbk), "gbk section");
    EXPECT_EQ(Read(file, "\x81\x41", "\x81\x41", kGbk), "upper");
    EXPECT_EQ(Read(file, "\x81\x41", "\x81\x61", kGbk), "<default>");
    EXPECT_EQ(Read(file, "\x81\x61", "\x81\x41", kGbk), "<default>");
    EXPECT_EQ(Read(file, "\x81\x41", "aB\x81\x41", kGbk), "mixed");
    // Byte by byte (UTF-8 rules), the same header ends at the trail byte.
    EXPECT_EQ(Read(file, "\x81", "k", kU8), "gbk section");
}

TEST(IniRead, Utf16LittleEndianFile) {
    // "[s]\r\nk=中\r\n" in UTF-16LE with its byte-order mark.
    const std::string file("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\x2D\x4E\r\0\n\0", 22);
    EXPECT_EQ(Read(file, "S", "K"), "\xE4\xB8\xAD");
    EXPECT_EQ(Read(file, "s", "missing"), "<default>");
}

// ---- writing ---------------------------------------------------------------------

TEST(IniWrite, NewFile) {
    EXPECT_EQ(WriteValue("", "Update", "CurVer", "12", kU8), "[Update]\r\nCurVer=12\r\n");
    EXPECT_EQ(WriteValue("", "  Update ", " CurVer  ", "-3", kU8), "[Update]\r\nCurVer=-3\r\n");
    std::string once = WriteValue("", "Update", "CurVer", "12", kU8);
    EXPECT_EQ(WriteValue(once, "Update", "UpdateTime", "2008-05-09", kU8),
              "[Update]\r\nCurVer=12\r\nUpdateTime=2008-05-09\r\n");
}

TEST(IniWrite, ExistingKeyChangesOnlyItsValue) {
    const std::string file =
        "; suite settings\r\n"
        "[update]\r\n"
        "  curver = \"7\"  \r\n"
        "ExeFile=Main.exe\r\n";
    EXPECT_EQ(WriteValue(file, "Update", "CurVer", "12", kU8),
              "; suite settings\r\n"
              "[update]\r\n"
              "  curver = 12  \r\n"
              "ExeFile=Main.exe\r\n");
    EXPECT_EQ(WriteValue("[s]\nk=\nx=1\n", "s", "k", "v", kU8), "[s]\nk=v\nx=1\n");
    EXPECT_EQ(WriteValue("[s]\nk=old", "s", "k", "new", kU8), "[s]\nk=new");  // no newline added
    // Only the first of duplicate keys is the key.
    EXPECT_EQ(WriteValue("[s]\nk=1\nk=2\n", "s", "K", "3", kU8), "[s]\nk=3\nk=2\n");
}

TEST(IniWrite, ValueAlreadyThereLeavesTheBytesAsTheyAre) {
    const std::string file = "[s]\r\n k = v \r\nq=\"x\"\r\n";
    EXPECT_EQ(WriteValue(file, "S", "K", "v", kU8), file);
    EXPECT_EQ(WriteValue(file, "s", "q", "\"x\"", kU8), file);
    EXPECT_NE(WriteValue(file, "s", "q", "x", kU8), file);  // reads the same, but is other text
    // A value with blanks of its own replaces the old blanks too.
    std::string blanks = WriteValue(file, "s", "k", "\tw ", kU8);
    EXPECT_EQ(blanks, "[s]\r\n k =\tw \r\nq=\"x\"\r\n");
    EXPECT_EQ(WriteValue(blanks, "s", "k", "\tw ", kU8), blanks);
}

TEST(IniWrite, NewKeyGoesAfterTheLastKeyOfTheFirstMatchingSection) {
    EXPECT_EQ(WriteValue("[s]\r\na=1\r\n\r\nnote\r\nb=2\r\n; about [t]\r\n\r\n[t]\r\nc=3\r\n[s]\r\nz=9\r\n",
                         "S", "new", "v", kU8),
              "[s]\r\na=1\r\n\r\nnote\r\nb=2\r\nnew=v\r\n; about [t]\r\n\r\n[t]\r\nc=3\r\n[s]\r\nz=9\r\n");
    // A section without keys: right after its header.
    EXPECT_EQ(WriteValue("[s]\n; comment\n[t]\n", "s", "k", "v", kU8), "[s]\nk=v\n; comment\n[t]\n");
    // The last line had no newline: it gets the file's.
    EXPECT_EQ(WriteValue("[s]\na=1", "s", "k", "v", kU8), "[s]\na=1\nk=v\n");
    EXPECT_EQ(WriteValue("[s]", "s", "k", "v", kU8), "[s]\r\nk=v\r\n");
}

TEST(IniWrite, NewSectionGoesAtTheEnd) {
    EXPECT_EQ(WriteValue("top=1\n[a]\nx=1\n", "b", "k", "v", kU8), "top=1\n[a]\nx=1\n[b]\nk=v\n");
    EXPECT_EQ(WriteValue("[a]\r\nx=1", "b", "k", "v", kU8), "[a]\r\nx=1\r\n[b]\r\nk=v\r\n");
    EXPECT_EQ(WriteValue("[a]\rx=1\r", "b", "k", "v", kU8), "[a]\rx=1\r[b]\rk=v\r");
    EXPECT_EQ(WriteValue("[a]\r\r\nx=1\r\r\n", "b", "k", "v", kU8),
              "[a]\r\r\nx=1\r\r\n[b]\r\r\nk=v\r\r\n");
    EXPECT_EQ(WriteValue("just text", "b", "k", "v", kU8), "just text\r\n[b]\r\nk=v\r\n");
    // Keys before the first section belong to none.
    EXPECT_EQ(WriteValue("k=0\n", "s", "k", "v", kU8), "k=0\n[s]\nk=v\n");
}

TEST(IniWrite, TwoWritesLeaveEveryOtherByte) {
    const std::string file =
        "\xEF\xBB\xBF" "first line before any section\n"
        "; Suite settings\n"
        "\n"
        "[Main]\n"
        "Window = 10, 20 \n"
        "\n"
        "[Update]\n"
        "ExeFile=\xE5\x8D\x87\xE7\xBA\xA7.exe\n"
        "ExeFile2 = \"Helper.exe\"\n"
        "CurVer=11\n"
        "\t; trailing comment\n"
        "[Tail]\n"
        "x=y";
    std::string once = WriteValue(file, "Update", "CurVer", "12", kU8);
    std::string twice = WriteValue(once, "Update", "UpdateTime", "2008-05-09", kU8);
    std::string expected = file;
    expected.replace(expected.find("CurVer=11\n"), 10, "CurVer=12\nUpdateTime=2008-05-09\n");
    EXPECT_EQ(twice, expected);
    EXPECT_EQ(Read(twice, "Update", "ExeFile"), "\xE5\x8D\x87\xE7\xBA\xA7.exe");
    EXPECT_EQ(Read(twice, "Update", "ExeFile2"), "Helper.exe");
}

TEST(IniWrite, GbkNamesAndValues) {
    const std::string file = "[\x81\x5D" "x]\r\nk=1\r\n";
    std::string out = WriteValue(file, "\x81\x5D" "x", "\xD6\xD0", "\xCE\xC4", kGbk);
    EXPECT_EQ(out, "[\x81\x5D" "x]\r\nk=1\r\n\xD6\xD0=\xCE\xC4\r\n");
    EXPECT_EQ(Read(out, "\x81\x5D" "x", "\xD6\xD0", kGbk), "\xCE\xC4");
    // Byte by byte the same "]" is a real one, and refused in a name.
    EXPECT_THROW(WriteValue(file, "\x81\x5D" "x", "k", "v", kU8), Error);
    // Half a character at the end would swallow the header's "]".
    EXPECT_THROW(WriteValue(file, "x\x81", "k", "v", kGbk), Error);
    EXPECT_NO_THROW(WriteValue(file, "x\x81", "k", "v", kU8));
}

TEST(IniWrite, Utf16FileStaysUtf16) {
    const std::string file("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\x2D\x4E\r\0\n\0", 22);
    std::string out = WriteValue(file, "s", "k", "\xE6\x96\x87", kU8);  // 文 U+6587
    EXPECT_EQ(out, std::string("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\x87\x65\r\0\n\0", 22));
    std::string added = WriteValue(file, "t", "n", "\xF0\x9F\x98\x80", kU8);  // U+1F600
    EXPECT_EQ(added.substr(0, 22), file);
    EXPECT_EQ(added.substr(22), std::string("[\0t\0]\0\r\0\n\0n\0=\0\x3D\xD8\x00\xDE\r\0\n\0", 22));
    EXPECT_EQ(Read(added, "t", "n"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(WriteValue(std::string("\xFF\xFE", 2), "s", "k", "v", kU8),
              std::string("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0", 22));
    // Text that has no UTF-16 form is refused rather than mangled.
    EXPECT_THROW(WriteValue(file, "s", "k", "\xD6\xD0", kU8), Error);
}

TEST(IniWrite, Utf16OddBytesAndLoneSurrogatesSurviveARewrite) {
    // x=<lone high surrogate D800> then a stray odd byte at the end.
    const std::string file("\xFF\xFE[\0s\0]\0\n\0x\0=\0\x00\xD8\n\0\x41", 19);
    EXPECT_EQ(Read(file, "s", "x"), "\xED\xA0\x80");
    std::string out = WriteValue(file, "s", "k", "v", kU8);
    EXPECT_EQ(out, std::string("\xFF\xFE[\0s\0]\0\n\0x\0=\0\x00\xD8\n\0k\0=\0v\0\n\0\x41", 27));
}

TEST(IniWrite, RefusesWhatWouldBreakTheLines) {
    struct Bad {
        const char* what;
        std::string section, key, value;
    };
    const Bad cases[] = {
        {"CR in value", "s", "k", "a\rb"},
        {"LF in value", "s", "k", "a\nInjected=1"},
        {"NUL in value", "s", "k", std::string("a\0b", 3)},
        {"LF in key", "s", "k\nx", "v"},
        {"CR in section", "s\r", "k", "v"},
        {"NUL in key", "s", std::string("k\0", 2), "v"},
        {"= in key", "s", "a=b", "v"},
        {"= in section", "a=b", "k", "v"},
        {"] in section", "a]b", "k", "v"},
        {"] in key", "s", "a]", "v"},
        {"; starts key", "s", ";k", "v"},
        {"; starts section", " ;s", "k", "v"},
        {"[ starts key", "s", "[k", "v"},
        {"empty key", "s", "", "v"},
        {"blank section", "   ", "k", "v"},
        {"tab ends key", "s", "k\t", "v"},
        {"VT starts section", "\vs", "k", "v"},
    };
    const std::string file = "[s]\r\nk=old\r\n";
    for (const Bad& c : cases) {
        EXPECT_THROW(CheckWriteArguments(c.section, c.key, c.value, kU8), Error) << c.what;
        EXPECT_THROW(WriteValue(file, c.section, c.key, c.value, kGbk), Error) << c.what;
    }
    try {
        WriteValue(file, "s", "k", "a\nb", kU8);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "Invalid value for key \"k\" in the settings file: it contains a line break or NUL");
    }
    // Allowed: ";" and "[" inside names, "=" "]" ";" in values, blanks around the value.
    EXPECT_NO_THROW(CheckWriteArguments("a;[b", "k;[x", " =]; v ", kU8));
}

}  // namespace
}  // namespace ue::ini
