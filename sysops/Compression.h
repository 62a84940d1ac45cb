// Expansion of zlib payloads. A payload is exactly one zlib stream (RFC 1950,
// no preset dictionary) and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include "core/Errors.h"
#include "core/FileIO.h"

namespace ue {

namespace fileio {
class Root;
}

// Minimal byte stream for DecompressStream.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;  // 0 at end or on failure
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual bool SeekToStart() = 0;
};

constexpr std::size_t kDecompressPieceSize = 4096;

// Copies the inflated content of `source` (from its start) into `destination`
// at its current position, reading and writing pieces of at most `pieceSize`
// bytes (4096 unless given; the memory used grows with it, never with the
// stream). Raises
// DecompressionError unless the source holds one complete stream whose
// Adler-32 value checks out and nothing after it (an empty or truncated source
// is an error too), and Error("Stream write error") when the destination takes
// fewer bytes than given. After an error the destination may hold part of the
// content. Both streams stay open.
void DecompressStream(ByteStream& destination, ByteStream& source,
                      std::size_t pieceSize = kDecompressPieceSize);

// The temporary file beside the payload at `path` that its expansion is
// written to: path + "bakr".
std::string ExpansionTemporary(const std::string& path);

// What the expansion does with a file already at ExpansionTemporary(path).
enum class LeftTemporary {
    Refuse,   // it stays, and the expansion fails ("File exists")
    Replace,  // it is removed first: the caller knows it for its own leftover
};

// Replaces the payload at `path` by its expanded content, through the
// temporary file ExpansionTemporary(path) beside it that is renamed over the
// payload once the stream is verified and synced. The temporary is created
// exclusively, never through a link planted under its name, and a file under
// that name, whatever it is, is used only as `left` says. The result keeps
// the payload's permission bits. After any error the payload is unchanged
// and no temporary file the expansion made is left.
// Raises OSError (with the system's error code) with "Cannot open file
// \"%s\". %s" (missing or unreadable payload), "Cannot create file \"%s\". %s"
// (a payload that may not be replaced: no write bit, no write access to it or
// its folder, held open by a process; or a temporary file that cannot be made,
// synced or put in its place) or "Stream write error while expanding \"%s\":
// %s" (the expanded content cannot be written, e.g. the disk is full); the
// first %s is the payload's path, the second the system's text. Raises
// DecompressionError ("compression error") for a damaged payload.
//
// `root`, when given, is the installation, beneath which `path` lies: the
// payload's folder is opened beneath it at the moment of the expansion, and
// the payload is read and the temporary made and renamed through that
// folder, so that a folder swapped for a link since the caller looked leads
// nowhere outside ("Cannot open file" with std::errc::cross_device_link).
//
// `progress`, when given, hears the payload's bytes read of its size, after
// each piece.
void ExpandCompressedFile(const std::string& path, LeftTemporary left = LeftTemporary::Refuse,
                          const fileio::Root* root = nullptr,
                          const fileio::ByteProgress& progress = {});

// What the platforms' ExpandCompressedFile share.

// Pieces of 256 KiB: with 4096-byte pieces the calls into zlib and the
// system cost a fifth of the throughput. The memory stays fixed, whatever the
// payload's size.
constexpr std::size_t kExpandPieceSize = 256 * 1024;

// A byte stream over an open file that it does not own. Small writes are
// gathered into a fixed buffer of 64 KiB (one system call per small piece
// costs a third of the throughput); larger ones go straight to the file. The
// first failed write's cause is kept for the message.
class ExpansionStream : public ByteStream {
public:
    explicit ExpansionStream(const fileio::File& file) : file_(file) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    // Writes the file out as it goes (fileio::WriteBehind).
    void WriteOutAsItGoes() { behind_.emplace(file_); }
    // After Flush: waits for the rest to be written out, calling `between`
    // after each piece (see fileio::WriteBehind::Finish).
    std::error_code FinishWriteOut(const std::function<void()>& between) {
        return behind_ ? behind_->Finish(between) : std::error_code();
    }
    // Reports the bytes read so far of `total` after each read.
    void ReportReads(const fileio::ByteProgress* progress, std::uint64_t total) {
        progress_ = progress;
        total_ = total;
    }
    std::size_t Write(const void* buffer, std::size_t count) override;
    bool SeekToStart() override;

    // Writes what is gathered; false when a write failed at any point.
    bool Flush();
    // Why the first failed write failed; empty while none has.
    std::error_code WriteFailure() const { return writeError_; }

private:
    bool WriteAll(const void* data, std::size_t count);

    const fileio::File& file_;
    bool failed_ = false;
    std::error_code writeError_;
    std::size_t pending_ = 0;
    std::optional<fileio::WriteBehind> behind_;
    const fileio::ByteProgress* progress_ = nullptr;
    std::uint64_t total_ = 0;
    std::uint64_t read_ = 0;
    char buffer_[64 * 1024];
};

// The expanded content of `path` could not be written: the system's cause (a
// full disk, a quota) is what the user needs to act on.
OSError ExpansionWriteError(const std::string& path, std::error_code ec);

// Inflates the payload `in` (of `path`) into `out` and writes it all out.
// Raises DecompressionError for a damaged payload and ExpansionWriteError
// with the cause when a write fails. `progress` as for ExpandCompressedFile.
void ExpandInto(const fileio::File& out, const fileio::File& in, const std::string& path,
                const fileio::ByteProgress& progress = {});

}  // namespace ue
