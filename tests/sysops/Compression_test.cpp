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
#include <set>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "sysops/Compression.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

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

std::string Compress(const std::string& content) {
    uLongf size = compressBound(content.size());
    std::string out(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(content.data()), content.size()),
              Z_OK);
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

TEST(DecompressStream, ExpandsExactlyWhatCompressWasGiven) {
    for (std::size_t size : {0, 1, 4095, 4096, 4097, 100000}) {
        const std::string content = SampleContent(size);
        EXPECT_EQ(Expand(Compress(content)), content) << size;
    }
}

TEST(DecompressStream, ManyPiecesGiveTheSameBytesAsOne) {
    const std::string content = SampleContent(3 << 20);
    const std::string payload = Compress(content);
    ASSERT_GT(payload.size(), 20u * 4096);
    std::string whole(content.size(), '\0');
    uLongf size = whole.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(whole.data()), &size,
                         reinterpret_cast<const Bytef*>(payload.data()), payload.size()),
              Z_OK);

    MemoryStream source(payload), destination;
    DecompressStream(destination, source);
    EXPECT_EQ(destination.data(), whole);
    EXPECT_EQ(source.maxRead, 4096u);
    EXPECT_EQ(destination.maxWrite, 4096u);
    EXPECT_EQ(destination.writes, (content.size() + 4095) / 4096);
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
    } catch (const DecompressionError&) {
        ADD_FAILURE() << "wrong error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
}

// --- Expansion of payload files in place ---

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string ExpandError(const std::string& path) {
    try {
        ExpandCompressedFile(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

TEST(ExpandCompressedFile, ReplacesThePayloadByItsContentKeepingItsMode) {
    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    const std::string content = SampleContent(1 << 20);
    WriteFileBytes(path, Compress(content));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    ExpandCompressedFile(path);
    EXPECT_EQ(ReadFileBytes(path), content);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"Tool.dll"});
}

TEST(ExpandCompressedFile, StaleTemporaryCopyIsReplaced) {
    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    WriteFileBytes(path, Compress("content"));
    WriteFileBytes(path + "bakr", "left over from an earlier run");
    ASSERT_EQ(::chmod((path + "bakr").c_str(), 0444), 0);

    ExpandCompressedFile(path);
    EXPECT_EQ(ReadFileBytes(path), "content");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"Tool.dll"});
}

TEST(ExpandCompressedFile, DamagedPayloadLeavesItsBytesAndNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    for (const auto& [name, payload] : DamagedPayloads()) {
        WriteFileBytes(path, payload);
        EXPECT_EQ(ExpandError(path), "compression error") << name;
        EXPECT_EQ(ReadFileBytes(path), payload) << name;
        EXPECT_EQ(Names(dir.path()), std::set<std::string>{"Tool.dll"}) << name;
    }
}

TEST(ExpandCompressedFile, MissingPayloadCannotBeOpened) {
    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    EXPECT_EQ(ExpandError(path), "Cannot open file \"" + path + "\". No such file or directory");
    std::filesystem::create_directory(path);
    EXPECT_EQ(ExpandError(path), "Cannot open file \"" + path + "\". Is a directory");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"Tool.dll"});
}

TEST(ExpandCompressedFile, PayloadThatMayNotBeReplacedCannotBeCreatedAndStaysIntact) {
    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    const std::string payload = Compress("content");
    WriteFileBytes(path, payload);

    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(ExpandError(path), "Cannot create file \"" + path + "\". Permission denied");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

    {
        const int fd = ::open(path.c_str(), O_RDONLY);  // held open, here by ourselves
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ExpandError(path), "Cannot create file \"" + path + "\". Device or resource busy");
        ::close(fd);
    }
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"Tool.dll"});
}

TEST(ExpandCompressedFile, PayloadInADirectoryWeMayNotWrite) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any directory";
    TempDir dir;
    const std::string sub = dir.file("update");
    std::filesystem::create_directory(sub);
    const std::string path = sub + "/Tool.dll";
    const std::string payload = Compress("content");
    WriteFileBytes(path, payload);
    ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
    EXPECT_EQ(ExpandError(path), "Cannot create file \"" + path + "\". Permission denied");
    EXPECT_EQ(ReadFileBytes(path), payload);
}

TEST(ExpandCompressedFile, FailedWriteLeavesThePayload) {
    TempDir dir;
    const std::string path = dir.file("Tool.dll");
    const std::string payload = Compress(SampleContent(1 << 20));
    WriteFileBytes(path, payload);
    ASSERT_LT(payload.size(), 256u * 1024);

    // A child with a file size limit stands in for a full disk.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(ExpandError(path) == "Stream write error" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(path), payload);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"Tool.dll"});
}

}  // namespace
}  // namespace ue
