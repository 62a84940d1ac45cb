#include <gtest/gtest.h>

#include "sysops/ProcessControl.h"

namespace ue {
namespace {

TEST(ImageName, LetterCaseIsIgnoredInAsciiOnly) {
    EXPECT_TRUE(ImageNameMatches("MAIN.EXE", "main.exe"));
    EXPECT_TRUE(ImageNameMatches("Main.exe", "mAIN.eXE"));
    EXPECT_FALSE(ImageNameMatches("Main.exe", "Main.ex"));
    EXPECT_FALSE(ImageNameMatches("Main.ex", "Main.exe"));
    // '@' and '[' sit next to the letters but are no letters.
    EXPECT_FALSE(ImageNameMatches("@.exe", "`.exe"));
    EXPECT_FALSE(ImageNameMatches("[.exe", "{.exe"));
}

TEST(ImageName, OnlyTheListedNameIsStripped) {
    EXPECT_TRUE(ImageNameMatches("Main.exe   ", "Main.exe"));
    EXPECT_TRUE(ImageNameMatches(" \t\r\nMain.exe\x01\x1f", "MAIN.EXE"));
    EXPECT_TRUE(ImageNameMatches("   ", ""));
    EXPECT_FALSE(ImageNameMatches("Main.exe", " Main.exe"));
    EXPECT_FALSE(ImageNameMatches("Main.exe", "Main.exe "));
    EXPECT_FALSE(ImageNameMatches(" Main.exe ", " Main.exe "));
    // Blanks inside the name stay.
    EXPECT_TRUE(ImageNameMatches(" My App.exe ", "my app.exe"));
    EXPECT_FALSE(ImageNameMatches("My  App.exe", "My App.exe"));
}

TEST(ImageName, BytesAboveAsciiAreNeitherStrippedNorFolded) {
    // 0xA0 and a GBK full-width blank are above 0x20 as unsigned bytes.
    EXPECT_FALSE(ImageNameMatches("\xA0Main.exe", "Main.exe"));
    EXPECT_FALSE(ImageNameMatches("Main.exe\xA1\xA1", "Main.exe"));
    // 主程序.exe in GBK; the lead bytes differ from their "other case" by 0x20.
    const std::string gbk = "\xD6\xF7\xB3\xCC\xD0\xF2.exe";
    EXPECT_TRUE(ImageNameMatches(gbk, "\xD6\xF7\xB3\xCC\xD0\xF2.EXE"));
    EXPECT_FALSE(ImageNameMatches(gbk, "\xF6\xF7\xB3\xCC\xD0\xF2.exe"));
    EXPECT_FALSE(ImageNameMatches("\xF6\xF7\xB3\xCC\xD0\xF2.exe", gbk));
    // A trail byte in 'a'..'z' is folded like any other such byte.
    EXPECT_TRUE(ImageNameMatches("\x81\x61.exe", "\x81\x41.exe"));
}

TEST(ImageName, DirectoriesNeverMatch) {
    EXPECT_FALSE(ImageNameMatches("Main.exe", "C:\\App\\Main.exe"));
    EXPECT_FALSE(ImageNameMatches("Main.exe", "/opt/app/Main.exe"));
}

TEST(ImageName, ListedNameEndsAtNulAndAfter260Bytes) {
    EXPECT_TRUE(ImageNameMatches(std::string("Main.exe\0junk", 13), "Main.exe"));
    EXPECT_TRUE(ImageNameMatches(std::string("Main.exe  \0junk", 15), "main.exe"));
    std::string longName(300, 'a');
    EXPECT_TRUE(ImageNameMatches(longName, std::string(260, 'A')));
    EXPECT_FALSE(ImageNameMatches(longName, longName));
    // A NUL in the argument is compared like any byte.
    EXPECT_FALSE(ImageNameMatches("Main.exe", std::string("Main.exe\0", 9)));
}

}  // namespace
}  // namespace ue
