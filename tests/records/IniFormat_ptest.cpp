#include "records/IniFormat.h"

#include "core/Errors.h"
#include "tests/records/IniCases.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace ue::ini {
namespace {

using test::EncodingOf;

TEST(IniFormat, ReadsAsTheProfileFunctions) {
    for (const auto& c : test::IniReadCases())
        EXPECT_EQ(ReadValue(c.file, c.section, c.key, c.def, EncodingOf(c.check)), c.expected) << c.name;
    EXPECT_FALSE(FindValue("", "s", "k", Encoding::Utf8).has_value());
}

TEST(IniFormat, WritesChangingOnlyWhatItMust) {
    for (const auto& c : test::IniWriteCases())
        EXPECT_EQ(WriteValue(c.file, c.section, c.key, c.value, EncodingOf(c.check)), c.expected) << c.name;
}

TEST(IniFormat, RefusesWhatWouldBreakTheLines) {
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
        EXPECT_THROW(CheckWriteArguments(c.section, c.key, c.value, Encoding::Utf8), Error) << c.what;
        EXPECT_THROW(WriteValue(file, c.section, c.key, c.value, Encoding::Gbk), Error) << c.what;
    }
    EXPECT_THAT([&] { WriteValue(file, "s", "k", "a\nb", Encoding::Utf8); },
                testing::ThrowsMessage<Error>(
                    "Invalid value for key \"k\" in the settings file: it contains a line break or NUL"));
    // Allowed: ";" and "[" inside names, "=" "]" ";" in values, blanks around the value.
    EXPECT_NO_THROW(CheckWriteArguments("a;[b", "k;[x", " =]; v ", Encoding::Utf8));

    // Byte by byte, the trail byte "]" of a GBK pair is a real one.
    EXPECT_THROW(WriteValue(file, "\x81\x5D" "x", "k", "v", Encoding::Utf8), Error);
    // Half a GBK character at the end would swallow the header's "]".
    EXPECT_THROW(WriteValue(file, "x\x81", "k", "v", Encoding::Gbk), Error);
    EXPECT_NO_THROW(WriteValue(file, "x\x81", "k", "v", Encoding::Utf8));
    // Text that has no UTF-16 form is refused rather than mangled.
    EXPECT_THROW(WriteValue(test::Utf16(u"[s]\r\nk=v\r\n"), "s", "k", "\xD6\xD0", Encoding::Utf8), Error);
}

}  // namespace
}  // namespace ue::ini
