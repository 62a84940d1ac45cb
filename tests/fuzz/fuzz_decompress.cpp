// Payload expansion over arbitrary bytes: never crashes, and whatever it
// accepts is exactly one complete zlib stream whose content it reproduced.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Errors.h"
#include "sysops/Compression.h"

namespace {

constexpr std::size_t kMaxOutput = 256 * 1024;  // keeps bombs cheap

class MemoryStream : public ue::ByteStream {
public:
    MemoryStream(const std::uint8_t* data, std::size_t size) : data_(reinterpret_cast<const char*>(data), size) {}
    MemoryStream() = default;

    std::size_t Read(void* buffer, std::size_t count) override {
        if (count > 4096) std::abort();  // pieces of 4096 bytes
        const std::size_t n = std::min(count, data_.size() - position_);
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        return n;
    }
    std::size_t Write(const void* buffer, std::size_t count) override {
        if (count == 0 || count > 4096) std::abort();
        const std::size_t n = std::min(count, kMaxOutput - data_.size());
        data_.append(static_cast<const char*>(buffer), n);
        return n;
    }
    bool SeekToStart() override {
        position_ = 0;
        return true;
    }
    const std::string& data() const { return data_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

// The whole input inflated at once: Z_STREAM_END with every byte consumed.
bool ReferenceInflate(const std::uint8_t* data, std::size_t size, std::string& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    static Bytef buffer[kMaxOutput + 1];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    const int rc = inflate(&z, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    out.assign(reinterpret_cast<const char*>(buffer), z.total_out);
    inflateEnd(&z);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryStream source(data, size), destination;
    bool accepted = false;
    bool writeError = false;
    try {
        ue::DecompressStream(destination, source);
        accepted = true;
    } catch (const ue::DecompressionError&) {
    } catch (const ue::Error& e) {
        if (std::strcmp(e.what(), "Stream write error") != 0) std::abort();
        writeError = true;
    }
    std::string expected;
    const bool valid = ReferenceInflate(data, size, expected);
    if (accepted && (!valid || expected != destination.data())) std::abort();
    if (writeError && expected.size() <= kMaxOutput) std::abort();
    if (valid && expected.size() <= kMaxOutput && !accepted) std::abort();
    return 0;
}
