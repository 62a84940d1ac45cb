// Expansion of zlib payloads.
#pragma once

#include <cstddef>
#include <string>

namespace ue {

// Minimal byte stream for DecompressStream.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;  // 0 at end or on failure
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual bool SeekToStart() = 0;
};

// Copies the inflated content of `source` (from its start) into
// `destination`. Raises DecompressionError or Error("Stream write error").
void DecompressStream(ByteStream& destination, ByteStream& source);

// Replaces the payload at `path` by its expanded content. Raises Error with
// "Cannot open file ...", "Cannot create file ...", "compression error" or
// "Stream write error".
void ExpandCompressedFile(const std::string& path);

}  // namespace ue
