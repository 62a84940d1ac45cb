// Payloads for the expansion tests of both platforms.
#pragma once

#include <zlib.h>

#include <gtest/gtest.h>

#include <string>

namespace ue::test {

// Text-like content that compresses a few times over, like a program file.
inline std::string SampleContent(std::size_t size) {
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
inline std::string Deflate(const std::string& content, int windowBits, const std::string& dictionary = {}) {
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

inline std::string Compress(const std::string& content) { return Deflate(content, 15); }

}  // namespace ue::test
