// Our Update.ini reader and writer (records/IniFormat.h) against the Windows
// profile functions themselves, on a corpus of files. Run under Wine 8, the
// cases where Wine is known to differ from Windows name the difference: our
// code follows Windows there, and the test expects Wine to give something
// else (if Wine ever agrees, the case fails so the table gets updated).
#include "records/IniFormat.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ue {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

bool Cp936() { return GetACP() == 936; }

ini::Encoding Ansi() { return Cp936() ? ini::Encoding::Gbk : ini::Encoding::Utf8; }

// GetPrivateProfileStringA with the settings object's 2048-byte buffer.
std::string ApiRead(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& def) {
    char buffer[2048] = {};
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer,
                                       sizeof buffer, path.c_str());
    return std::string(buffer, strnlen(buffer, n));
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// GBK bytes: 升级 (upgrade), 文件 (file), 中文 (Chinese).
const std::string kShengji = "\xC9\xFD\xBC\xB6";
const std::string kWenjian = "\xCE\xC4\xBC\xFE";
const std::string kZhongwen = "\xD6\xD0\xCE\xC4";

// ---- reads -----------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string file;
    std::string section, key, def;
    std::string windows;        // what Windows gives, and so our reader
    bool gbk = false;           // needs code page 936
    const char* wineDiffers = nullptr;  // why Wine 8 gives something else
};

std::vector<ReadCase> ReadCases() {
    const std::string crlf = "; suite settings\r\n[s]\r\n;k=commented\r\nk=v\r\n[t]\r\nk=w\r\n";
    const std::string lf = "; suite settings\n[s]\n;k=commented\nk=v\n[t]\nk=w\n";
    const std::string blanks = "  [  s  ]  \r\n \t k \t = \t a  b \t \r\nvt\v=\vx\v\r\n";
    const std::string quotes =
        "[q]\r\ndq=\"a b\"\r\nsq='c'\r\nmis=\"d'\r\nemp=\"\"\r\none=\"\r\ninner=x\"y\"\r\n";
    const std::string misc =
        "top=1\r\n[s]\r\nempty=\r\nplain line\r\n#h=hash\r\neol=v ;c\r\neq=a=b\r\n";
    const std::string dups = "[s]\r\nk=first\r\nK=second\r\n[o]\r\nx=1\r\n[S]\r\nk=third\r\nonly=2\r\n";
    const std::string longValue = "[s]\r\nk=" + std::string(3000, 'x') + "\r\n";
    const std::string gbkFile = "[" + kShengji + "]\r\n" + kWenjian + "=" + kZhongwen + "\r\n"
                                "[\x81\x5D" "x]\r\nk=trail\r\n[\x81\x41]\r\nk=upper\r\n";
    const std::string gbkLong1 = "[s]\r\nk=a" + Repeat(kZhongwen, 800) + "\r\n";
    const std::string gbkLong2 = "[s]\r\nk=ab" + Repeat(kZhongwen, 800) + "\r\n";
    const std::string utf16("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0", 22);

    return {
        {"CommentsCrlf", crlf, "s", "k", "d", "v"},
        {"CommentsLf", lf, "S", "K", "d", "v"},
        {"CommentLineIsNoKey", crlf, "s", ";k", "d", "d", false,
         "a comment line is read as a key named \";k\""},
        {"CrEndings", "[s]\rk=v\r[t]\rk=w", "t", "k", "d", "w"},
        {"CrCrLfEndings", "[s]\r\r\nk=v\r\r\n", "s", "k", "d", "v"},
        {"NoFinalNewline", "[s]\r\nk=v", "s", "k", "d", "v"},
        {"BlanksAroundNames", blanks, "s", "k", "d", "a  b"},
        {"VerticalTab", blanks, "s", "vt", "d", "x"},
        {"SpacesAroundNamesPassedIn", blanks, "  s ", " k  ", "d", "a  b"},
        {"TabAroundNamePassedIn", blanks, "s", "\tk", "d", "d", false,
         "white space other than spaces is stripped from the names passed in"},
        {"DoubleQuotes", quotes, "q", "dq", "d", "a b"},
        {"SingleQuotes", quotes, "q", "sq", "d", "c"},
        {"MismatchedQuotes", quotes, "q", "mis", "d", "\"d'"},
        {"EmptyQuotes", quotes, "q", "emp", "d", ""},
        {"OneQuote", quotes, "q", "one", "d", "\""},
        {"InnerQuotes", quotes, "q", "inner", "d", "x\"y\""},
        {"EmptyValueIsNotTheDefault", misc, "s", "empty", "d", ""},
        {"LineWithoutEquals", misc, "s", "plain line", "d", "d"},
        {"HashIsOrdinary", misc, "s", "#h", "d", "hash"},
        {"NoEndOfLineComment", misc, "s", "eol", "d", "v ;c"},
        {"EqualsInValue", misc, "s", "eq", "d", "a=b"},
        {"DefaultLosesTrailingSpaces", misc, "s", "missing", "def  ", "def"},
        {"BeforeFirstSection", misc, "", "top", "d", "d", false,
         "lines before the first section belong to a section named \"\""},
        {"FirstKeyWins", dups, "s", "k", "d", "first"},
        {"FirstSectionWins", dups, "s", "only", "d", "d"},
        {"HeaderEndsAtFirstBracket", "[a]b]\r\nk=v\r\n", "a", "k", "d", "v", false,
         "a header's name ends at its last \"]\""},
        {"HeaderWithoutBracket", "[open\r\nk=v\r\n", "open", "k", "d", "v", false,
         "a line without \"]\" is no header"},
        {"Utf8BomNotRecognised", "\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k", "d", "d", false,
         "a UTF-8 byte-order mark is honoured"},
        {"Utf16File", utf16, "S", "K", "d", "v"},
        {"LongValueCut", longValue, "s", "k", "d", std::string(2047, 'x')},
        {"GbkNames", gbkFile, kShengji, kWenjian, "d", kZhongwen, true},
        {"GbkTrailIsNoBracket", gbkFile, "\x81\x5D" "x", "k", "d", "trail", true},
        {"GbkTrailIsNotFolded", gbkFile, "\x81\x61", "k", "d", "d", true},
        {"GbkLongEvenCut", gbkLong1, "s", "k", "d", "a" + Repeat(kZhongwen, 511) + "\xD6\xD0", true},
        {"GbkLongNoSplit", gbkLong2, "s", "k", "d", "ab" + Repeat(kZhongwen, 511), true},
    };
}

class ProfileRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, MatchesWindows) {
    const ReadCase& c = GetParam();
    if (c.gbk && !Cp936()) GTEST_SKIP() << "needs code page 936 (run with LC_ALL=zh_CN.UTF-8)";
    TempDir dir;
    std::string path = dir.file("read.ini");
    WriteFileBytes(path, c.file);

    std::string ours = ini::ReadValue(c.file, c.section, c.key, c.def, Ansi());
    EXPECT_EQ(ours, c.windows);
    std::string api = ApiRead(path, c.section, c.key, c.def);
    if (c.wineDiffers) {
        EXPECT_NE(api, c.windows) << "expected Wine 8 to differ: " << c.wineDiffers;
    } else {
        EXPECT_EQ(api, c.windows);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProfileRead, testing::ValuesIn(ReadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileReadMissing, MissingFileGivesTheDefault) {
    TempDir dir;
    std::string path = dir.file("absent.ini");
    EXPECT_EQ(ApiRead(path, "s", "k", "d"), "d");
    EXPECT_EQ(ini::ReadValue("", "s", "k", "d", Ansi()), "d");
}

// ---- writes ----------------------------------------------------------------------

struct WriteCase {
    const char* name;
    std::string file;  // empty: no file
    std::string section, key, value;
    std::vector<std::pair<std::string, std::string>> probes;  // other keys to read back
    bool sameBytes = false;     // Wine's rewrite happens to give our bytes too
    bool gbk = false;
    const char* wineDiffers = nullptr;  // why Wine's bytes differ, where they do
};

std::vector<WriteCase> WriteCases() {
    const char* regenerates = "Wine rewrites the whole file (blank lines, spacing, line endings)";
    const std::string rich =
        "; suite settings\r\n"
        "\r\n"
        "[Main]\r\n"
        "  Left = 10 \r\n"
        "\r\n"
        "[Update]\r\n"
        "ExeFile = \"Main.exe\"\r\n"
        "ExeFile2=Helper.exe\r\n"
        "CurVer=11\r\n"
        "; end of update\r\n"
        "[Tail]\r\n"
        "x=y\r\n";
    const std::vector<std::pair<std::string, std::string>> richProbes = {
        {"Main", "Left"}, {"Update", "ExeFile"}, {"Update", "ExeFile2"}, {"Update", "CurVer"},
        {"Tail", "x"}};
    std::string richLf = rich;
    for (std::size_t at; (at = richLf.find("\r\n")) != std::string::npos;) richLf.replace(at, 2, "\n");

    return {
        {"NewFile", "", "Update", "CurVer", "12", {}, true},
        {"ReplaceInCompactFile", "[Update]\r\nExeFile=a.exe\r\nCurVer=11\r\n", "Update", "CurVer", "12",
         {{"Update", "ExeFile"}}, true},
        {"AddKeyBeforeNextSection", "[Update]\r\nCurVer=11\r\n[Other]\r\nk=v\r\n", "update",
         "UpdateTime", "2008-05-09", {{"Update", "CurVer"}, {"Other", "k"}}, true},
        {"AddSection", "[Other]\r\nk=v\r\n", "Update", "CurVer", "-3", {{"Other", "k"}}, true},
        {"RichReplace", rich, "Update", "CurVer", "12", richProbes, false, false, regenerates},
        {"RichAddKey", rich, "Update", "UpdateTime", "2008-05-09", richProbes, false, false,
         regenerates},
        {"RichAddSection", rich, "New", "k", "v", richProbes, false, false, regenerates},
        {"LfFile", richLf, "Update", "UpdateTime", "2008-05-09", richProbes, false, false,
         "Wine writes CRLF"},
        {"NoFinalNewline", "[Other]\r\nk=v", "Update", "CurVer", "1", {{"Other", "k"}}, true},
        {"NoFinalNewlineInSection", "[Update]\r\nk=v", "Update", "CurVer", "1", {{"Update", "k"}},
         true},
        {"DuplicateSections", "[Update]\r\na=1\r\n[x]\r\nb=2\r\n[UPDATE]\r\nc=3\r\n", "Update",
         "CurVer", "1", {{"Update", "a"}, {"x", "b"}, {"Update", "c"}}, true},
        {"DuplicateKeys", "[Update]\r\nCurVer=1\r\ncurver=2\r\n", "Update", "CURVER", "3",
         {{"Update", "CurVer"}}, true},
        {"SameValueAgain", "[Update]\r\nCurVer=11\r\n", "Update", "CurVer", "11", {}, true},
        {"QuotedValue", "[Update]\r\nExeFile=a\r\n", "Update", "CurVer", "\"q r\"", {}, true},
        {"LeadingBlanksInValue", "[Update]\r\n", "Update", "CurVer", "  12", {}, false, false,
         "Wine drops a value's leading white space"},
        {"LongValue", "[s]\r\nk=1\r\n", "s", "long", std::string(3000, 'z'), {{"s", "k"}}, true},
        {"BeforeFirstSection", "top=1\r\n[s]\r\nk=1\r\n", "s", "n", "v", {{"s", "k"}}, true},
        {"GbkNamesAndValues", "[" + kShengji + "]\r\nk=1\r\n", kShengji, kWenjian, kZhongwen,
         {{kShengji, "k"}}, true, true},
    };
}

class ProfileWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ReadsBackAsWindowsWrote) {
    const WriteCase& c = GetParam();
    if (c.gbk && !Cp936()) GTEST_SKIP() << "needs code page 936 (run with LC_ALL=zh_CN.UTF-8)";
    TempDir dir;
    std::string theirs = dir.file("api.ini");
    std::string ours = dir.file("ours.ini");
    if (!c.file.empty()) WriteFileBytes(theirs, c.file);
    ASSERT_TRUE(WritePrivateProfileStringA(c.section.c_str(), c.key.c_str(), c.value.c_str(),
                                           theirs.c_str()));
    WriteFileBytes(ours, ini::WriteValue(c.file, c.section, c.key, c.value, Ansi()));

    std::string theirBytes = ReadFileBytes(theirs);
    std::string ourBytes = ReadFileBytes(ours);
    auto probes = c.probes;
    probes.emplace_back(c.section, c.key);
    for (const auto& [section, key] : probes) {
        SCOPED_TRACE(section + "/" + key);
        std::string wrote = ApiRead(theirs, section, key, "<default>");
        EXPECT_EQ(ini::ReadValue(ourBytes, section, key, "<default>", Ansi()), wrote);
        // The profile functions read our file as we do.
        EXPECT_EQ(ApiRead(ours, section, key, "<default>"), wrote);
    }
    if (c.sameBytes) {
        EXPECT_EQ(ourBytes, theirBytes);
    }
    if (c.wineDiffers) {
        EXPECT_NE(ourBytes, theirBytes) << "expected Wine 8 to differ: " << c.wineDiffers;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProfileWrite, testing::ValuesIn(WriteCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ue
