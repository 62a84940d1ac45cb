#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "sysops/Compression.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

using test::EntryNames;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

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

// Text-like content that compresses a few times over, like a program file.
std::string SampleContent(std::size_t size) {
    static const char* const kWords[] = {"update ", "file ", "version ", "\x01\x02\x03", "registry ",
                                         "payload ", "\xff\xfe", "library ", "\n", "0123456789"};
    std::string out;
    unsigned state = 12345;
    while (out.size() < size) {
        state = state * 1103515245 + 12345;
        out += kWords[(state >> 16) % 10];
        if ((state >> 8) % 7 == 0) out += static_cast<char>(state >> 24);
    }
    out.resize(size);
    return out;
}

// Deflates with the given window bits (31: gzip, -15: raw) and dictionary.
std::string Deflate(const std::string& content, int windowBits, const std::string& dictionary = {}) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    if (!dictionary.empty()) {
        deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size()));
    }
    std::string out(deflateBound(&z, content.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Compress(const std::string& content) { return Deflate(content, 15); }

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
    EXPECT_EQ(test::PlainErrorOf<DecompressionError>([&] { DecompressStream(destination, source); }),
              "Stream write error");
}

// Each test expands the payload Tool.dll in a directory of its own, where
// nothing else may be left behind.
class ExpandCompressedFileTest : public ::testing::Test {
protected:
    std::string ExpandError(const std::string& file) {
        try {
            ExpandCompressedFile(file);
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

TEST_F(ExpandCompressedFileTest, ReplacesThePayloadByItsContentKeepingItsModeAndAStaleTemporaryCopy) {
    const std::string content = SampleContent(1 << 20);
    WriteFileBytes(path, Compress(content));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(ExpansionTemporary(path), path + "bakr");
    WriteFileBytes(path + "bakr", "left over from an earlier run");
    ASSERT_EQ(::chmod((path + "bakr").c_str(), 0444), 0);

    ExpandCompressedFile(path, LeftTemporary::Replace);
    EXPECT_EQ(ReadFileBytes(path), content);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

// Unless the caller knows it for its own leftover, whatever holds the
// temporary's name (a download of that name, a link) stays as it is, and so
// does the payload.
TEST_F(ExpandCompressedFileTest, AFileUnderTheTemporarysNameIsRefusedUnlessItIsOurs) {
    const std::string payload = Compress("content");
    const std::string outside = dir.file("outside");
    for (const bool link : {false, true}) {
        WriteFileBytes(path, payload);
        std::filesystem::remove(path + "bakr");
        if (link) {
            std::filesystem::create_symlink(outside, path + "bakr");
        } else {
            WriteFileBytes(path + "bakr", "a download named Tool.dllbakr");
        }
        EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "bakr\". File exists") << link;
        EXPECT_EQ(ReadFileBytes(path), payload) << link;
        EXPECT_FALSE(std::filesystem::exists(outside)) << link;
        if (!link) {
            EXPECT_EQ(ReadFileBytes(path + "bakr"), "a download named Tool.dllbakr");
        }
    }
}

TEST_F(ExpandCompressedFileTest, DamagedPayloadLeavesItsBytesAndNoTemporaryFile) {
    for (const auto& [name, payload] : DamagedPayloads()) {
        WriteFileBytes(path, payload);
        EXPECT_EQ(ExpandError(), "compression error") << name;
        EXPECT_EQ(ReadFileBytes(path), payload) << name;
        EXPECT_EQ(EntryNames(dir.path()), onlyPayload) << name;
    }
}

TEST_F(ExpandCompressedFileTest, MissingPayloadCannotBeOpened) {
    EXPECT_EQ(ExpandError(), "Cannot open file \"" + path + "\". No such file or directory");
    std::filesystem::create_directory(path);
    EXPECT_EQ(ExpandError(), "Cannot open file \"" + path + "\". Is a directory");
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

TEST_F(ExpandCompressedFileTest, PayloadThatMayNotBeReplacedCannotBeCreatedAndStaysIntact) {
    const std::string payload = Compress("content");
    WriteFileBytes(path, payload);

    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "\". Permission denied");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

    const int fd = ::open(path.c_str(), O_RDONLY);  // held open, here by ourselves
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ExpandError(), "Cannot create file \"" + path + "\". Device or resource busy");
    ::close(fd);
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

TEST_F(ExpandCompressedFileTest, PayloadInADirectoryWeMayNotWrite) {
    const std::string sub = dir.file("update");
    std::filesystem::create_directory(sub);
    const std::string file = sub + "/Tool.dll";
    const std::string payload = Compress("content");
    WriteFileBytes(file, payload);
    test::HandToUnprivileged(file);
    ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
    // Root may write any directory: an ordinary user expands it.
    const auto error = test::RunUnprivileged([&] { return ExpandError(file); });
    if (!error) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*error, "Cannot create file \"" + file + "\". Permission denied");
    EXPECT_EQ(ReadFileBytes(file), payload);
}

TEST_F(ExpandCompressedFileTest, FailedWriteLeavesThePayload) {
    const std::string payload = Compress(SampleContent(1 << 20));
    WriteFileBytes(path, payload);
    ASSERT_LT(payload.size(), 256u * 1024);

    // A child with a file size limit stands in for a full disk; the message
    // names the file and the system's cause, and carries its code.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ExpandCompressedFile(path);
        } catch (const OSError& e) {
            ::_exit(e.what() == "Stream write error while expanding \"" + path + "\": " +
                                    std::strerror(EFBIG) &&
                            e.Code() == EFBIG
                        ? 0
                        : 1);
        } catch (...) {
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(EntryNames(dir.path()), onlyPayload);
}

}  // namespace
}  // namespace ue
