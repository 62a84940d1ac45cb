// What the benchmarks of the expansion share: the payloads they expand and
// the plain zlib inflate they are measured against. Header-only.
#pragma once

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace ue::bench {

constexpr std::size_t kMiB = 1 << 20;

// Text-like content compressing about 3:1, chunk by chunk.
inline void FillContent(std::vector<char>& chunk, unsigned& state) {
    static const char* const kWords[] = {"update ", "file ", "version ", "\x01\x02\x03", "registry ",
                                         "payload ", "\xff\xfe", "library ", "\n", "0123456789"};
    std::size_t n = 0;
    while (n < chunk.size()) {
        state = state * 1103515245 + 12345;
        for (const char* w = kWords[(state >> 16) % 10]; *w != '\0' && n < chunk.size(); ++w) chunk[n++] = *w;
        if ((state >> 8) % 7 == 0 && n < chunk.size()) chunk[n++] = static_cast<char>(state >> 24);
    }
}

// Streams `size` bytes of content (text-like, or one repeated line) into a payload.
inline void WritePayload(const std::string& path, std::size_t size, bool textLike) {
    FILE* out = std::fopen(path.c_str(), "wb");
    z_stream z{};
    deflateInit(&z, textLike ? Z_DEFAULT_COMPRESSION : 1);
    std::vector<char> chunk(std::min(size, kMiB)), buffer(kMiB);
    unsigned state = 1;
    if (!textLike) {
        const std::string line = "update file version payload library\n";
        for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = line[i % line.size()];
    }
    for (std::size_t done = 0; done < size;) {
        if (textLike) FillContent(chunk, state);
        const std::size_t n = std::min(chunk.size(), size - done);
        done += n;
        z.next_in = reinterpret_cast<Bytef*>(chunk.data());
        z.avail_in = static_cast<uInt>(n);
        const int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, flush);
            std::fwrite(buffer.data(), 1, buffer.size() - z.avail_out, out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in > 0));
    }
    deflateEnd(&z);
    std::fclose(out);
}

// The reference: plain inflate with 64 KiB buffers into a new file.
inline void InflateToFile(const std::string& from, const std::string& to, bool sync) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<Bytef> input(64 * 1024), output(64 * 1024);
    z_stream z{};
    inflateInit(&z);
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const ssize_t n = ::read(in, input.data(), input.size());
        if (n <= 0) throw std::runtime_error("truncated payload");
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(n);
        while (z.avail_in > 0 && rc != Z_STREAM_END) {
            z.next_out = output.data();
            z.avail_out = static_cast<uInt>(output.size());
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) throw std::runtime_error("inflate");
            const std::size_t produced = output.size() - z.avail_out;
            if (::write(out, output.data(), produced) != static_cast<ssize_t>(produced)) {
                throw std::runtime_error("write");
            }
        }
    }
    inflateEnd(&z);
    if (sync) ::fsync(out);
    ::close(in);
    ::close(out);
}

}  // namespace ue::bench
