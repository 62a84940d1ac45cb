// The Update.ini cases run through the Windows profile functions themselves.
// Where Wine 8 is known to differ from Windows the case names the difference:
// our code follows Windows there, and the test expects Wine to give something
// else (if Wine ever agrees, the case fails so that the table gets updated).
#include "records/IniFormat.h"
#include "records/SettingsFile.h"
#include "core/Errors.h"
#include "tests/records/IniCases.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ue::test {
namespace {

ini::Encoding Ansi() { return GetACP() == 936 ? ini::Encoding::Gbk : ini::Encoding::Utf8; }

// The cases that the profile functions can take.
template <class Case>
std::vector<Case> ApiCases(std::vector<Case> cases) {
    std::erase_if(cases, [](const Case& c) { return c.check == Check::Ours; });
    return cases;
}

// GetPrivateProfileStringA with the settings object's 2048-byte buffer.
std::string ApiRead(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& def = "<default>") {
    char buffer[2048] = {};
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer,
                                       sizeof buffer, path.c_str());
    return std::string(buffer, strnlen(buffer, n));
}

void ExpectFromWine(const std::string& got, const auto& c) {
    if (c.wineDiffers) {
        EXPECT_NE(got, c.expected) << "expected Wine 8 to differ: " << c.wineDiffers;
    } else {
        EXPECT_EQ(got, c.expected);
    }
}

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

class ProfileRead : public testing::TestWithParam<IniReadCase> {};

TEST_P(ProfileRead, MatchesWindows) {
    const IniReadCase& c = GetParam();
    if (c.check == Check::ApiGbk && GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    TempDir dir;
    std::string path = dir.file("read.ini");
    WriteFileBytes(path, c.file);
    EXPECT_EQ(ini::ReadValue(c.file, c.section, c.key, c.def, Ansi()), c.expected);
    ExpectFromWine(ApiRead(path, c.section, c.key, c.def), c);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProfileRead, testing::ValuesIn(ApiCases(IniReadCases())), CaseName);

class ProfileWrite : public testing::TestWithParam<IniWriteCase> {};

// Both files, ours and the one the profile functions wrote, read alike through
// the profile functions for the key written and every key the file held.
TEST_P(ProfileWrite, ReadsBackAsWindowsWrote) {
    const IniWriteCase& c = GetParam();
    if (c.check == Check::ApiGbk && GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    TempDir dir;
    std::string theirs = dir.file("api.ini"), ours = dir.file("ours.ini");
    if (!c.file.empty()) WriteFileBytes(theirs, c.file);
    ASSERT_TRUE(WritePrivateProfileStringA(c.section.c_str(), c.key.c_str(), c.value.c_str(),
                                           theirs.c_str()));
    std::string ourBytes = ini::WriteValue(c.file, c.section, c.key, c.value, Ansi());
    EXPECT_EQ(ourBytes, c.expected);
    WriteFileBytes(ours, ourBytes);

    std::vector<std::pair<std::string, std::string>> probes = {{c.section, c.key}};
    std::string text = ini::DecodeFile(c.file), section;
    for (const ini::Line& l : ini::SplitLines(text, Ansi())) {
        std::string name = text.substr(l.nameBegin, l.nameEnd - l.nameBegin);
        if (l.kind == ini::Line::Kind::Header) section = name;
        if (l.kind == ini::Line::Kind::Key && !section.empty()) probes.emplace_back(section, name);
    }
    for (const auto& [s, k] : probes) {
        SCOPED_TRACE(s + "/" + k);
        std::string wrote = ApiRead(theirs, s, k);
        EXPECT_EQ(ini::ReadValue(ourBytes, s, k, "<default>", Ansi()), wrote);
        EXPECT_EQ(ApiRead(ours, s, k), wrote);
    }
    ExpectFromWine(ReadFileBytes(theirs), c);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProfileWrite, testing::ValuesIn(ApiCases(IniWriteCases())), CaseName);

// The settings object calls the W functions with UTF-8 text; the file keeps
// its own encoding: an ANSI file stays ANSI (GBK here), a UTF-16 file UTF-16.
TEST(SettingsFileEncoding, AnsiStaysAnsiAndUtf16StaysUtf16) {
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    TempDir dir;
    const std::string ansi = dir.file("ansi.ini"), wide = dir.file("wide.ini");
    WriteFileBytes(ansi, "[Update]\r\nExeFile=\xC9\xFD\xBC\xB6.exe\r\n");  // 升级.exe in GBK
    SettingsFile a(ansi);
    EXPECT_EQ(a.ReadSetting("Update", "ExeFile", ""), "升级.exe");
    a.WriteSetting("Update", "Note", "中文");
    EXPECT_EQ(ReadFileBytes(ansi), "[Update]\r\nExeFile=\xC9\xFD\xBC\xB6.exe\r\nNote=\xD6\xD0\xCE\xC4\r\n");
    // What the code page cannot hold is refused, not written as "?".
    EXPECT_THROW(a.WriteSetting("Update", "Note", "\xF0\x9F\x98\x80"), Error);
    EXPECT_EQ(a.ReadSetting("Update", "Note", ""), "中文");

    WriteFileBytes(wide, std::string("\xFF\xFE[\0U\0]\0\r\0\n\0", 12));
    SettingsFile w(wide);
    w.WriteSetting("U", "k", "\xF0\x9F\x98\x80");
    EXPECT_EQ(w.ReadSetting("U", "k", ""), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ReadFileBytes(wide).substr(0, 2), "\xFF\xFE");
}

}  // namespace
}  // namespace ue::test
