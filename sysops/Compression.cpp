// Payload expansion over zlib. A payload is exactly one zlib stream: the
// expansion fails ("compression error") unless the stream is complete, its
// Adler-32 value checked, and nothing follows it, so a truncated or damaged
// download is never taken for its content.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "sysops/Compression.h"

namespace ue {
namespace {

// Read-only view of the inflated content of a source stream. Owns its inflate
// state, not the source. Nothing else moves the source while it reads, so it
// keeps no position of its own.
class InflatingReader {
public:
    InflatingReader(ByteStream& source, std::size_t inputSize) : source_(source), input_(inputSize) {
        if (inflateInit(&stream_) != Z_OK) throw DecompressionError();
    }
    ~InflatingReader() { inflateEnd(&stream_); }
    InflatingReader(const InflatingReader&) = delete;
    InflatingReader& operator=(const InflatingReader&) = delete;

    // Up to `count` inflated bytes; fewer only at the end of the stream or of
    // the source.
    std::size_t Read(unsigned char* out, std::size_t count) {
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(count);
        while (stream_.avail_out > 0 && !ended_) {
            if (stream_.avail_in == 0) {
                const std::size_t got = source_.Read(input_.data(), input_.size());
                if (got == 0) break;
                stream_.next_in = input_.data();
                stream_.avail_in = static_cast<uInt>(got);
            }
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                ended_ = true;  // inflate is never called again
            } else if (rc != Z_OK) {
                // Z_NEED_DICT (a preset dictionary, which payloads do not use),
                // Z_DATA_ERROR (bad header, method, window, data or Adler-32),
                // Z_MEM_ERROR, Z_STREAM_ERROR; Z_BUF_ERROR cannot make progress.
                throw DecompressionError();
            }
        }
        return count - stream_.avail_out;
    }

    // Whether the stream ended with its trailer verified.
    bool Ended() const { return ended_; }

    // Whether the source holds anything after the end of the stream.
    bool HasTrailingBytes() {
        return stream_.avail_in > 0 || source_.Read(input_.data(), input_.size()) > 0;
    }

private:
    ByteStream& source_;
    z_stream stream_{};
    bool ended_ = false;
    std::vector<unsigned char> input_;
};

}  // namespace

void DecompressStream(ByteStream& destination, ByteStream& source, std::size_t pieceSize) {
    if (!source.SeekToStart()) throw DecompressionError();
    if (pieceSize == 0) pieceSize = kDecompressPieceSize;
    InflatingReader reader(source, pieceSize);
    std::vector<unsigned char> buffer(pieceSize);
    for (;;) {
        const std::size_t count = reader.Read(buffer.data(), buffer.size());
        if (count == 0) break;
        if (destination.Write(buffer.data(), count) != count) throw Error("Stream write error");
    }
    // The source ran out before the stream's end (an empty payload among them),
    // or something follows the stream, which the payload format does not have.
    if (!reader.Ended() || reader.HasTrailingBytes()) throw DecompressionError();
}

std::string ExpansionTemporary(const std::string& path) { return path + "bakr"; }

std::size_t ExpansionStream::Read(void* buffer, std::size_t count) {
    std::size_t got = 0;
    if (fileio::ReadSome(file_, buffer, count, got)) return 0;
    if (progress_ != nullptr && got > 0) {
        read_ += got;
        (*progress_)(read_, std::max(read_, total_));
    }
    return got;
}

std::size_t ExpansionStream::Write(const void* buffer, std::size_t count) {
    if (failed_) return 0;
    if (pending_ + count > sizeof buffer_ && !Flush()) return 0;
    if (count >= sizeof buffer_) return WriteAll(buffer, count) ? count : 0;
    std::memcpy(buffer_ + pending_, buffer, count);
    pending_ += count;
    return count;
}

bool ExpansionStream::SeekToStart() { return Flush() && !fileio::Rewind(file_); }

bool ExpansionStream::Flush() {
    if (!failed_ && pending_ > 0) WriteAll(buffer_, pending_);
    pending_ = 0;
    return !failed_;
}

bool ExpansionStream::WriteAll(const void* data, std::size_t count) {
    writeError_ = fileio::WriteAll(file_, std::string_view(static_cast<const char*>(data), count));
    if (writeError_) failed_ = true;
    else if (behind_) behind_->Wrote(count);
    return !failed_;
}

OSError ExpansionWriteError(const std::string& path, std::error_code ec) {
    return OSError(FailureText(Message(MessageId::StreamWriteErrorWhileExpanding, {"Stream write error"}), path, ec),
                   static_cast<std::uint32_t>(ec.value()));
}

void ExpandInto(const fileio::File& out, const fileio::File& in, const std::string& path,
                const fileio::ByteProgress& progress) {
    ExpansionStream destination(out);
    ExpansionStream source(in);
    const std::uint64_t size = progress ? fileio::SizeOf(in) : 0;
    if (progress) {
        // Watched by a window: the final sync must not block it for long.
        source.ReportReads(&progress, size);
        destination.WriteOutAsItGoes();
    }
    try {
        DecompressStream(destination, source, kExpandPieceSize);
    } catch (const DecompressionError&) {
        throw DecompressionError(path);
    } catch (const Error&) {
        // A short write to the destination: say why, and of which file.
        if (destination.WriteFailure()) throw ExpansionWriteError(path, destination.WriteFailure());
        throw;
    }
    if (!destination.Flush()) throw ExpansionWriteError(path, destination.WriteFailure());
    if (progress) {
        if (const std::error_code ec = destination.FinishWriteOut([&] { progress(size, size); })) {
            throw ExpansionWriteError(path, ec);
        }
    }
}

}  // namespace ue
