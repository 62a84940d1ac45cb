// SHA-256 from the platform's library, checked against the published test
// vectors, given whole, in uneven pieces and as a file read in pieces.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Digest.h"
#include "tests/support/TempDir.h"

namespace ue::digest {
namespace {

struct Vector {
    const char* name;
    std::string message;
    const char* sha256;
};

const Vector kVectors[] = {
    {"Abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"Empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"TwoBlocks448Bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    // Larger than a piece of the file reader, and not a multiple of it.
    {"MillionA", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

class Sha256Vectors : public testing::TestWithParam<Vector> {};

TEST_P(Sha256Vectors, WholeInPiecesAndAsAFile) {
    const Vector& v = GetParam();
    std::string hex;
    ASSERT_FALSE(Sha256Of(v.message, hex));
    EXPECT_EQ(hex, v.sha256);

    // Pieces that cut the 64-byte blocks anywhere.
    Sha256 sha;
    for (std::size_t at = 0, step = 1; at < v.message.size(); at += step, step = step * 3 % 1000 + 1) {
        ASSERT_FALSE(sha.Update(std::string_view(v.message).substr(at, step)));
    }
    ASSERT_FALSE(sha.Finish(hex));
    EXPECT_EQ(hex, v.sha256);

    test::TempDir dir;
    test::WriteFileBytes(dir.file("m.bin"), v.message);
    ASSERT_FALSE(Sha256OfFile(dir.file("m.bin"), hex));
    EXPECT_EQ(hex, v.sha256);
}

INSTANTIATE_TEST_SUITE_P(, Sha256Vectors, testing::ValuesIn(kVectors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sha256OfFile, WhatIsNoFileGivesAnError) {
    test::TempDir dir;
    std::string hex = "stale";
    EXPECT_EQ(Sha256OfFile(dir.file("absent"), hex), std::errc::no_such_file_or_directory);
    EXPECT_EQ(hex, "");
    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_TRUE(Sha256OfFile(dir.file("folder"), hex));
    EXPECT_EQ(hex, "");
}

}  // namespace
}  // namespace ue::digest
