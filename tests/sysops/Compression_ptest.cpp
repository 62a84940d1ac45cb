// Payload expansion on both platforms: the stream's rules, and the
// replacement of a payload file by its content.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "core/Root.h"
#include "sysops/Compression.h"
#include "tests/sysops/CompressionSamples.h"
#include "tests/support/HeldFile.h"
#include "tests/support/TempDir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace ue {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::set<std::string> EntryNames(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// The system's text for a cause, as the messages carry it.
std::string Cause(int code) { return SystemReason(SystemError(code)); }
#ifdef _WIN32
const int kMissing = ERROR_FILE_NOT_FOUND, kDenied = ERROR_ACCESS_DENIED,
          kBusy = ERROR_SHARING_VIOLATION, kExists = ERROR_FILE_EXISTS;
#else
const int kMissing = ENOENT, kDenied = EACCES, kBusy = EBUSY, kExists = EEXIST;
#endif

void MakeReadOnly(const std::string& path, bool readOnly) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

class MemoryStream : public ByteStream {
public:
    explicit MemoryStream(std::string data = {}, std::size_t writeLimit = std::string::npos)
        : data_(std::move(data)), writeLimit_(writeLimit) {}

    std::size_t Read(void* buffer, std::size_t count) override {
        maxRead = std::max(maxRead, count);
        const std::size_t n = std::min(count, data_.size() - position_);
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        return n;
    }
    std::size_t Write(const void* buffer, std::size_t count) override {
        maxWrite = std::max(maxWrite, count);
        ++writes;
        const std::size_t n = std::min(count, writeLimit_ - data_.size());
        data_.append(static_cast<const char*>(buffer), n);
        position_ = data_.size();
        return n;
    }
    bool SeekToStart() override {
        position_ = 0;
        return true;
    }
    void SeekToEnd() { position_ = data_.size(); }
    const std::string& data() const { return data_; }

    std::size_t maxRead = 0, maxWrite = 0, writes = 0;

private:
    std::string data_;
    std::size_t position_ = 0;
    std::size_t writeLimit_;
};

using test::Compress;
using test::Deflate;
using test::SampleContent;

std::string Expand(const std::string& payload) {
    MemoryStream source(payload), destination;
    DecompressStream(destination, source);
    return destination.data();
}

// Payloads that are not one complete zlib stream and nothing else.
std::vector<std::pair<std::string, std::string>> DamagedPayloads() {
    const std::string content = SampleContent(20000);
    const std::string good = Compress(content);
    std::string wrongAdler = good;
    wrongAdler.back() ^= 0x01;
    std::string wideWindow = good;
    wideWindow[0] = '\x88';  // a 64 KiB window; the check bits made to fit
    wideWindow[1] = static_cast<char>(31 - (0x88 * 256) % 31);
    return {
        {"empty", ""},
        {"header only", good.substr(0, 2)},
        {"truncated in the data", good.substr(0, good.size() / 2)},
        {"truncated in the trailer", good.substr(0, good.size() - 1)},
        {"wrong Adler-32", wrongAdler},
        {"trailing byte", good + "\n"},
        {"two streams", good + good},
        {"gzip", Deflate(content, 31)},
        {"raw deflate", Deflate(content, -15)},
        {"preset dictionary", Deflate(content, 15, "update file version")},
        {"window over 32 KiB", wideWindow},
        {"plain text", content},
    };
}

TEST(DecompressStream, ExpandsExactlyWhatWasCompressedIn4096BytePieces) {
    for (std::size_t size : {0, 1, 4095, 4096, 4097, 100000, 3 << 20}) {
        const std::string content = SampleContent(size);
        MemoryStream source(Compress(content)), destination;
        DecompressStream(destination, source);
        EXPECT_EQ(destination.data(), content) << size;
        EXPECT_EQ(source.maxRead, 4096u) << size;
        EXPECT_EQ(destination.maxWrite, std::min<std::size_t>(size, 4096)) << size;
        EXPECT_EQ(destination.writes, (size + 4095) / 4096) << size;
    }
}

TEST(DecompressStream, ReadsFromTheStartAndWritesAtTheDestinationPosition) {
    MemoryStream source(Compress("content")), destination("prefix:");
    source.SeekToEnd();
    DecompressStream(destination, source);
    EXPECT_EQ(destination.data(), "prefix:content");
}

TEST(DecompressStream, AnythingButOneCompleteStreamIsACompressionError) {
    for (const auto& [name, payload] : DamagedPayloads()) {
        try {
            Expand(payload);
            ADD_FAILURE() << name << ": no error";
        } catch (const DecompressionError& e) {
            EXPECT_STREQ(e.what(), "compression error") << name;
        }
    }
}

TEST(DecompressStream, ShortWriteIsAStreamWriteError) {
    MemoryStream source(Compress(SampleContent(10000))), destination({}, 5000);
    try {
        DecompressStream(destination, source);
        ADD_FAILURE() << "no error";
    } catch (const DecompressionError& e) {
        ADD_FAILURE() << "a compression error: " << e.what();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
}

// Each test expands the payload Tool.dll in a directory of its own, where
// nothing else may be left behind.
class ExpandCompressedFileTest : public ::testing::Test {
protected:
    std::string ExpandError(const std::string& file, const fileio::Root* root = nullptr) {
        try {
            ExpandCompressedFile(file, LeftTemporary::Refuse, root);
        } catch (const Error& e) {
            return e.what();
        }
        return "no error";
    }
    std::string ExpandError() { return ExpandError(path); }

    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    const std::set<std::string> onlyPayload{"Tool.dll"};
};

TEST_F(ExpandCompressedFileTest, ReplacesThePayloadByItsContentAndAStaleTemporaryCopy) {
    const std::string content = SampleContent(1 << 20);
    WriteFileBytes(path, Compress(content));
    ASSERT_EQ(ExpansionTemporary(path), path + "bakr");
    WriteFileBytes(path + "bakr", "left over from an earlier run");
    MakeReadOnly(path + "bakr", true);

    ExpandCompressedFile(path, LeftTemporary::Replace);
    EXPECT_EQ(ReadFileBytes(path), content);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

// Unless the caller knows it for its own leftover, a file under the
// temporary's name (a download of that name) stays as it is, and so does the
// payload.
TEST_F(ExpandCompressedFileTest, AFileUnderTheTemporarysNameIsRefusedUnlessItIsOurs) {
    const std::string payload = Compress("content");
    WriteFileBytes(path, payload);
    WriteFileBytes(path + "bakr", "a download named Tool.dllbakr");
    EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "bakr\". " + Cause(kExists));
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(ReadFileBytes(path + "bakr"), "a download named Tool.dllbakr");
}

// Through the installation opened as a root, the same: a file under the
// temporary's name refused unless ours, the payload replaced by its content.
TEST_F(ExpandCompressedFileTest, ThroughTheRootTheSame) {
    fileio::Root root;
    ASSERT_FALSE(fileio::Root::Open(dir.path(), root));
    const std::string payload = Compress("content");
    WriteFileBytes(path, payload);
    WriteFileBytes(path + "bakr", "a download named Tool.dllbakr");
    EXPECT_EQ(ExpandError(path, &root), "Cannot create file \"" + path + "bakr\". " + Cause(kExists));
    EXPECT_EQ(ReadFileBytes(path), payload);
    ExpandCompressedFile(path, LeftTemporary::Replace, &root);
    EXPECT_EQ(ReadFileBytes(path), "content");
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

// The progress rises piece by piece up to all of the payload's bytes.
TEST_F(ExpandCompressedFileTest, ProgressReachesEveryByteOfThePayload) {
    std::string content;
    std::uint32_t x = 12345;  // content that compresses to many pieces
    for (int i = 0; i < (4 << 20); ++i) {
        x = x * 1103515245u + 12345u;
        content += static_cast<char>('a' + (x >> 16) % 16);
    }
    const std::string payload = Compress(content);
    ASSERT_GT(payload.size(), 2 * kExpandPieceSize);
    WriteFileBytes(path, payload);
    std::uint64_t done = 0, total = 0;
    int calls = 0;
    bool rising = true;
    ExpandCompressedFile(path, LeftTemporary::Refuse, nullptr, [&](std::uint64_t d, std::uint64_t t) {
        rising = rising && d >= done && d <= t;  // repeated while written out
        done = d;
        total = t;
        ++calls;
    });
    EXPECT_EQ(ReadFileBytes(path), content);
    EXPECT_TRUE(rising);
    EXPECT_GE(calls, 3);
    EXPECT_EQ(done, payload.size());
    EXPECT_EQ(total, payload.size());
}

TEST_F(ExpandCompressedFileTest, DamagedPayloadLeavesItsBytesAndNoTemporaryFile) {
    for (const auto& [name, payload] : DamagedPayloads()) {
        WriteFileBytes(path, payload);
        int calls = 0;
        try {  // also while its progress is reported
            ExpandCompressedFile(path, LeftTemporary::Refuse, nullptr,
                                 [&](std::uint64_t, std::uint64_t) { ++calls; });
            ADD_FAILURE() << name << " expanded";
        } catch (const DecompressionError&) {
        }
        EXPECT_EQ(ReadFileBytes(path), payload) << name;
        EXPECT_EQ(EntryNames(dir.path()), onlyPayload) << name;
        // The fixed text first, then which payload it was.
        EXPECT_EQ(ExpandError(), "compression error: \"" + path + "\"") << name;
        EXPECT_EQ(ReadFileBytes(path), payload) << name;
        EXPECT_EQ(EntryNames(dir.path()), onlyPayload) << name;
    }
}

TEST_F(ExpandCompressedFileTest, MissingPayloadCannotBeOpened) {
    EXPECT_EQ(ExpandError(), "Cannot open file \"" + path + "\". " + Cause(kMissing));
    fs::create_directory(path);
    EXPECT_EQ(ExpandError(), "Cannot open file \"" + path + "\". " +
                                 std::make_error_code(std::errc::is_a_directory).message());
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

TEST_F(ExpandCompressedFileTest, PayloadThatMayNotBeReplacedCannotBeCreatedAndStaysIntact) {
    const std::string payload = Compress("content");
    WriteFileBytes(path, payload);

    MakeReadOnly(path, true);
    EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "\". " + Cause(kDenied));
    MakeReadOnly(path, false);
    {
        test::HeldFile held(path);  // here by ourselves
        EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "\". " + Cause(kBusy));
    }
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
    ExpandCompressedFile(path);
    EXPECT_EQ(ReadFileBytes(path), "content");
}

}  // namespace
}  // namespace ue
