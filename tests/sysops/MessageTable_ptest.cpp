#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/MessageTable.h"

namespace ue {
namespace {

std::set<std::string> Placeholders(std::string_view text) {
    std::set<std::string> found;
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        if (text[i] == '{' && text[i + 1] >= '1' && text[i + 1] <= '9' && text[i + 2] == '}') {
            found.insert(std::string(text.substr(i, 3)));
        }
    }
    return found;
}

// A message without its Chinese text, or with a placeholder one language
// lacks, would show an empty box or drop the path the user needs.
TEST(MessageTable, EveryMessageHasBothTextsWithTheSamePlaceholders) {
    for (std::size_t i = 0; i < kMessageCount; ++i) {
        const auto id = static_cast<MessageId>(i);
        const std::string_view english = MessageText(id, Language::English);
        const std::string_view chinese = MessageText(id, Language::Chinese);
        EXPECT_FALSE(english.empty()) << i;
        EXPECT_FALSE(chinese.empty()) << i;
        EXPECT_NE(english, chinese) << i << ": " << english;
        const std::set<std::string> used = Placeholders(english);
        EXPECT_EQ(used, Placeholders(chinese)) << i << ": " << english << " | " << chinese;
        // Numbered from {1} without gaps, so that no argument is lost.
        for (std::size_t n = 1; n <= used.size(); ++n) {
            EXPECT_TRUE(used.contains("{" + std::to_string(n) + "}")) << i << ": " << english;
        }
    }
}

TEST(MessageTable, FillsPlaceholdersInEachLanguagesOrder) {
    EXPECT_EQ(FillPlaceholders("{2} of {1}", {"a", "b"}), "b of a");
    EXPECT_EQ(FillPlaceholders("{1}{1} {{1} {3}", {"x"}), "xx {1} ");
    // An argument's own braces are text, not placeholders.
    EXPECT_EQ(FillPlaceholders("[{1}] {2}", {"{2}", "y"}), "[{2}] y");
    const Language before = CurrentLanguage();
    SetLanguage(Language::Chinese);
    EXPECT_EQ(Message(MessageId::DatabaseMissing, {"/a/UpdateFile.mdb"}), "更新数据库 \"/a/UpdateFile.mdb\" 不存在");
    SetLanguage(Language::English);
    EXPECT_EQ(Message(MessageId::DatabaseMissing, {"/a/UpdateFile.mdb"}),
              "The update database \"/a/UpdateFile.mdb\" does not exist");
    SetLanguage(before);
}

struct LocaleRow {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    Language expected;
};

TEST(MessageTable, LanguageFromTheLocaleVariables) {
    const Language zh = Language::Chinese, en = Language::English;
    const LocaleRow rows[] = {
        {nullptr, nullptr, "zh_CN.UTF-8", zh},
        {nullptr, nullptr, "zh_TW.Big5", zh},
        {nullptr, nullptr, "zh", zh},
        {nullptr, nullptr, "C", en},
        {nullptr, nullptr, "POSIX", en},
        {nullptr, nullptr, "en_US.UTF-8", en},
        {nullptr, nullptr, "", en},
        {nullptr, nullptr, nullptr, en},
        {nullptr, "zh_CN.UTF-8", "en_US.UTF-8", zh},  // LC_MESSAGES over LANG
        {nullptr, "C", "zh_CN.UTF-8", en},
        {"C.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", en},  // LC_ALL over both
        {"zh_CN.GB18030", "en_US", "en_US", zh},
        {"", "", "zh_CN.UTF-8", zh},  // empty counts as not set
    };
    for (const LocaleRow& row : rows) {
        EXPECT_EQ(LanguageFromLocale(row.lcAll, row.lcMessages, row.lang), row.expected)
            << (row.lcAll ? row.lcAll : "-") << " " << (row.lcMessages ? row.lcMessages : "-") << " "
            << (row.lang ? row.lang : "-");
    }
}

TEST(MessageTable, LanguageFromAWindowsLanguageId) {
    EXPECT_EQ(LanguageFromLangId(0x0804), Language::Chinese);  // zh-CN
    EXPECT_EQ(LanguageFromLangId(0x0404), Language::Chinese);  // zh-TW
    EXPECT_EQ(LanguageFromLangId(0x1004), Language::Chinese);  // zh-SG
    EXPECT_EQ(LanguageFromLangId(0x0409), Language::English);  // en-US
    EXPECT_EQ(LanguageFromLangId(0x0411), Language::English);  // ja-JP
    EXPECT_EQ(LanguageFromLangId(0x0000), Language::English);
}

}  // namespace
}  // namespace ue
