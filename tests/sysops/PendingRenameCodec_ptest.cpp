#include <gtest/gtest.h>

#include "core/Errors.h"
#include "sysops/PendingRenames.h"

namespace ue {
namespace {

using namespace std::string_literals;

const std::string kOurs = "\\??\\C:\\App\\update\\X.dll\0!\\??\\C:\\App\\X.dll\0"s;

TEST(PendingRenameCodec, EmptyOrAbsentListGetsExactlyOurPair) {
    for (const std::string& present : {""s, "\0"s, "\0\0"s}) {
        std::string out = AppendPendingRename(present, "C:\\App\\update\\X.dll", "C:\\App\\X.dll");
        EXPECT_EQ(out, kOurs + '\0');
        EXPECT_EQ(out.size(), 43u);
    }
}

TEST(PendingRenameCodec, OthersPairsAndDeletionsStayByteForByteInOrder) {
    const std::string others =
        "\\??\\C:\\a.tmp\0\0"                   // deletion
        "\\??\\C:\\b.new\0!\\??\\C:\\b\0"       // replace
        "\\??\\C:\\c.new\0\\??\\C:\\c\0"s       // rename, no replace
        "\\??\\C:\\d.tmp\0\0\0"s;               // deletion, then the closing NUL
    std::string out = AppendPendingRename(others, "C:\\App\\update\\X.dll", "C:\\App\\X.dll");
    EXPECT_EQ(out, others.substr(0, others.size() - 1) + kOurs + '\0');

    PendingList list = DecodePendingRenames(others);
    ASSERT_EQ(list.pairs.size(), 4u);
    EXPECT_EQ(list.pairs[0], RenamePair("\\??\\C:\\a.tmp", ""));
    EXPECT_EQ(list.pairs[3], RenamePair("\\??\\C:\\d.tmp", ""));
    EXPECT_FALSE(list.dangling);
}

TEST(PendingRenameCodec, MissingClosingNulIsClosedOnRewrite) {
    // Both a last string with its NUL and one without it count as complete.
    for (const std::string& present : {"\\??\\s\0!\\??\\t\0"s, "\\??\\s\0!\\??\\t"s}) {
        std::string out = AppendPendingRename(present, "S", "T");
        EXPECT_EQ(out, "\\??\\s\0!\\??\\t\0\\??\\S\0!\\??\\T\0\0"s);
    }
}

TEST(PendingRenameCodec, DanglingSourceIsNeverPairedWithOursNorDeleted) {
    for (const std::string& present : {"\\??\\a\0\\??\\b\0\\??\\lone\0"s, "\\??\\a\0\\??\\b\0\\??\\lone"s}) {
        PendingList list = DecodePendingRenames(present);
        ASSERT_EQ(list.pairs.size(), 1u);
        EXPECT_EQ(list.dangling, "\\??\\lone");

        // Carried over as a rename onto itself without "!": the file stays.
        std::string out = AppendPendingRename(present, "S", "T");
        EXPECT_EQ(out, "\\??\\a\0\\??\\b\0\\??\\lone\0\\??\\lone\0\\??\\S\0!\\??\\T\0\0"s);
        PendingList again = DecodePendingRenames(out);
        EXPECT_FALSE(again.dangling);
        for (const auto& pair : again.pairs) EXPECT_FALSE(pair.second.empty());
    }
}

TEST(PendingRenameCodec, ListEndsAtFirstEmptySource) {
    PendingList list = DecodePendingRenames("\\??\\a\0\\??\\b\0\0stale\0\\??\\x\0\0"s);
    ASSERT_EQ(list.pairs.size(), 1u);
    EXPECT_EQ(list.pairs[0], RenamePair("\\??\\a", "\\??\\b"));
    EXPECT_FALSE(list.dangling);
}

TEST(PendingRenameCodec, SameFileQueuedTwiceHoldsThePairTwice) {
    std::string once = AppendPendingRename("", "/opt/app/update/X.so", "/opt/app/X.so");
    std::string twice = AppendPendingRename(once, "/opt/app/update/X.so", "/opt/app/X.so");
    const std::string pair = "\\??\\/opt/app/update/X.so\0!\\??\\/opt/app/X.so\0"s;
    EXPECT_EQ(twice, pair + pair + '\0');
}

TEST(PendingRenameCodec, GbkPathsAreWrittenAsTheyAre) {
    // C:\升级\乗文件.dll in GBK; the trail byte of "乗" is 0x5C, a "\".
    const std::string source = "C:\\\xC9\xFD\xBC\xB6\\\x81\x5C\xCE\xC4\xBC\xFE.dll";
    const std::string target = "C:\\\xB3\xCC\xD0\xF2\\\xCE\xC4\xBC\xFE.dll";
    std::string out = AppendPendingRename("", source, target);
    EXPECT_EQ(out, "\\??\\" + source + '\0' + "!\\??\\" + target + '\0' + '\0');
    PendingList list = DecodePendingRenames(out);
    ASSERT_EQ(list.pairs.size(), 1u);
    EXPECT_EQ(list.pairs[0].first, "\\??\\" + source);
}

TEST(PendingRenameCodec, PathsThatWouldShiftThePairsAreRefused) {
    EXPECT_THROW(AppendPendingRename("", "a\0b"s, "T"), Error);
    EXPECT_THROW(AppendPendingRename("", "S", "T\0"s), Error);
    EXPECT_THROW(AppendPendingRename("", "", "T"), Error);
    EXPECT_THROW(AppendPendingRename("", "S", ""), Error);
    EXPECT_THROW(EncodePendingRenames({{"", "x"}}), Error);
    EXPECT_EQ(EncodePendingRenames({}), "\0"s);
}

}  // namespace
}  // namespace ue
