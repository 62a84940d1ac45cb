// Expansion of a payload X in place. The expanded content goes into the
// temporary file X + "bakr" (ExpansionTemporary) beside X and replaces X by a rename only once the
// stream is verified complete and the file synced: at every moment X holds its
// whole payload or its whole expanded content, and after any failure X keeps
// its payload and no temporary file is left. X is read directly: no copy of
// the payload is made first, and no pause is needed before reading it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "sysops/Compression.h"
#include "sysops/FilePrimitives_posix.h"

namespace ue {
namespace {

OSError FileError(const char* what, const std::string& path, int code) {
    return OSError(std::string(what) + " \"" + path + "\". " + std::system_category().message(code),
                   static_cast<std::uint32_t>(code));
}

OSError OpenError(const std::string& path, int code) { return FileError("Cannot open file", path, code); }
OSError CreateError(const std::string& path, int code) { return FileError("Cannot create file", path, code); }

// The expanded content of `path` could not be written: the system's cause
// (a full disk, a quota) is what the user needs to act on.
OSError WriteError(const std::string& path, std::error_code ec) {
    return OSError("Stream write error while expanding \"" + path + "\": " + ec.message(),
                   static_cast<std::uint32_t>(ec.value()));
}

// The expansion reads and inflates in pieces of 256 KiB: with 4096-byte
// pieces the calls into zlib and the kernel cost a fifth of the throughput.
// The memory used stays fixed, whatever the payload's size.
constexpr std::size_t kExpandPieceSize = 256 * 1024;

// A byte stream over an open file that it does not own. Small writes are
// gathered into a fixed buffer of 64 KiB (one system call per small piece
// costs a third of the throughput); larger ones go straight to the file. The
// first failed write's cause is kept for the message.
class FileStream : public ByteStream {
public:
    explicit FileStream(const fileio::File& file) : file_(file) {}

    std::size_t Read(void* buffer, std::size_t count) override {
        for (;;) {
            const ssize_t n = ::read(file_.Native(), buffer, count);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) return 0;
        }
    }

    std::size_t Write(const void* buffer, std::size_t count) override {
        if (failed_) return 0;
        if (pending_ + count > sizeof buffer_ && !Flush()) return 0;
        if (count >= sizeof buffer_) return WriteAll(buffer, count) ? count : 0;
        std::memcpy(buffer_ + pending_, buffer, count);
        pending_ += count;
        return count;
    }

    // Writes what is gathered; false when a write failed at any point.
    bool Flush() {
        if (!failed_ && pending_ > 0) WriteAll(buffer_, pending_);
        pending_ = 0;
        return !failed_;
    }

    // Why the first failed write failed; empty while none has.
    std::error_code WriteFailure() const { return writeError_; }

    bool SeekToStart() override { return Flush() && ::lseek(file_.Native(), 0, SEEK_SET) == 0; }

private:
    bool WriteAll(const void* data, std::size_t count) {
        writeError_ = fileio::WriteAll(file_, std::string_view(static_cast<const char*>(data), count));
        if (writeError_) failed_ = true;
        return !failed_;
    }

    const fileio::File& file_;
    bool failed_ = false;
    std::error_code writeError_;
    std::size_t pending_ = 0;
    char buffer_[64 * 1024];
};

}  // namespace

void ExpandCompressedFile(const std::string& path, LeftTemporary left) {
    struct stat payload;
    if (::stat(path.c_str(), &payload) != 0) throw OpenError(path, errno);
    if (!S_ISREG(payload.st_mode)) throw OpenError(path, S_ISDIR(payload.st_mode) ? EISDIR : EINVAL);
    // Checked before we open X ourselves: our own descriptor would count.
    if (const int blocker = posix::FileReplaceBlocker(path)) throw CreateError(path, blocker);

    const fileio::File in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.Valid() || ::fstat(in.Native(), &payload) != 0) throw OpenError(path, errno);

    // A file under the temporary's name may be a download of that name: it
    // is removed only when the caller knows it for its own leftover. The new
    // one is created exclusively, so a link planted under that name is never
    // written through.
    const std::string temporary = ExpansionTemporary(path);
    if (left == LeftTemporary::Replace && ::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        throw CreateError(temporary, errno);
    }
    bool created = false;
    const std::error_code ec = fileio::ReplaceAtomically(path, temporary, [&](const fileio::File& out) {
        created = true;
        FileStream destination(out);
        FileStream source(in);
        try {
            DecompressStream(destination, source, kExpandPieceSize);
        } catch (const DecompressionError&) {
            throw;
        } catch (const Error&) {
            // A short write to the destination: say why, and of which file.
            if (destination.WriteFailure()) throw WriteError(path, destination.WriteFailure());
            throw;
        }
        if (!destination.Flush()) throw WriteError(path, destination.WriteFailure());
        // The payload's owner (when we may give it) and permission bits.
        if (::fchown(out.Native(), payload.st_uid, payload.st_gid) != 0) {
            // Not ours to give away; the file stays ours.
        }
        if (::fchmod(out.Native(), payload.st_mode & 0777) != 0)
            throw WriteError(path, std::error_code(errno, std::system_category()));
        return std::error_code();
    });
    // Not made at all, or not put in place.
    if (ec) throw CreateError(created ? path : temporary, ec.value());
}

}  // namespace ue
