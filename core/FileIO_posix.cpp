// File I/O on Linux: descriptors, errno values as std::error_code.
#include "core/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>
#include <cerrno>
#include <vector>

#include "core/Errors.h"

namespace ue::fileio {
namespace {

std::error_code Errno() { return LastSystemError(); }
std::error_code Errno(int code) { return SystemError(code); }

// Reports a copy's progress; `done` starts from what was copied before.
struct CopyProgress {
    const ByteProgress& report;
    std::uint64_t total;
    std::uint64_t done = 0;
    void Add(std::uint64_t bytes) {
        done += bytes;
        if (report) report(done, std::max(done, total));
    }
};

std::error_code CopyByReadWrite(const File& from, const File& to, CopyProgress& progress) {
    std::vector<char> buffer(128 * 1024);
    for (;;) {
        const ssize_t n = ::read(from.Native(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Errno();
        if (n == 0) return {};
        if (auto ec = WriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            return ec;
        }
        progress.Add(static_cast<std::uint64_t>(n));
    }
}

// Creates `name` exclusively; with a trailing "XXXXXX", under the first
// unused name it leads to, which `created` receives.
std::error_code CreateExclusive(const std::string& name, NewFile access, File& file,
                                std::string& created) {
    const mode_t mode = access == NewFile::Private ? 0600 : 0666;
    const bool pattern = name.size() >= 6 && name.ends_with("XXXXXX");
    std::string candidate = name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (pattern) FillTemplate(candidate);
        // O_EXCL also refuses a symbolic link planted under the name.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            file = File(fd);
            created = candidate;
            return {};
        }
        if (errno != EEXIST || !pattern) return Errno();
    }
    return Errno(EEXIST);
}

}  // namespace

NativeFile File::None() { return -1; }

std::error_code File::Close() {
    if (!Valid()) return {};
    // Never retried: the descriptor is gone even when close reports EINTR.
    const int rc = ::close(Release());
    return rc == 0 ? std::error_code() : Errno();
}

std::error_code ReadAll(const File& file, std::string& bytes) {
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.Native(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Errno();
        if (n == 0) return {};
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::error_code OpenRegularFile(const std::string& path, File& file) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    file = File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.Valid()) return Errno();
    struct stat st {};
    std::error_code ec;
    if (::fstat(file.Native(), &st) != 0) {
        ec = Errno();
    } else if (!S_ISREG(st.st_mode)) {
        ec = Errno(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    if (ec) file.Close();
    return ec;
}

std::error_code StatusOf(const std::string& path, Status& status) {
    status = {};
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        // ENOTDIR: a file stands where a folder of the path should be; the
        // name itself is then not there either, as ENOENT says for a
        // missing folder.
        return errno == ENOENT ? std::error_code() : Errno();
    }
    if (S_ISREG(st.st_mode)) {
        status.kind = Kind::Regular;
        status.size = static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
        status.kind = Kind::Directory;
    } else if (S_ISLNK(st.st_mode)) {
        status.kind = Kind::Link;
    } else {
        status.kind = Kind::Other;
    }
    return {};
}

std::error_code IdentityOf(const std::string& path, LastLink last, FileIdentity& identity,
                           bool& found) {
    identity = {};
    found = false;
    struct stat st {};
    const int rc = last == LastLink::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    // ENOTDIR: a file stands where a folder of the path should be, so the
    // name is not there.
    if (rc != 0) return errno == ENOENT || errno == ENOTDIR ? std::error_code() : Errno();
    identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    found = true;
    return {};
}

std::error_code RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
    return Errno();
}

std::error_code ReadSome(const File& file, void* buffer, std::size_t count, std::size_t& got) {
    for (;;) {
        const ssize_t n = ::read(file.Native(), buffer, count);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return {};
        }
        if (errno != EINTR) return Errno();
    }
}

std::error_code Rewind(const File& file) {
    return ::lseek(file.Native(), 0, SEEK_SET) == 0 ? std::error_code() : Errno();
}

std::error_code WriteAll(const File& file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.Native(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Errno();
        if (n == 0) return Errno(EIO);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

void WriteBehind::Wrote(std::uint64_t bytes) {
    written_ += bytes;
    while (written_ - started_ >= kPiece) {
        const auto at = static_cast<off64_t>(started_);
        const auto piece = static_cast<off64_t>(kPiece);
        // Failures only lose the head start: the final sync reports them.
        (void)::sync_file_range(file_.Native(), at, piece, SYNC_FILE_RANGE_WRITE);
        if (started_ >= kLag * kPiece &&
            ::sync_file_range(file_.Native(), at - static_cast<off64_t>(kLag) * piece, piece,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) != 0 &&
            !failure_) {
            failure_ = Errno();
        }
        started_ += kPiece;
    }
}

std::error_code WriteBehind::Finish(const std::function<void()>& between) {
    started_ = written_;
    if (failure_) return failure_;
    // The rest of the data, the journal's commit and the disk's cache: on a
    // thread of its own.
    std::atomic<bool> done{false};
    int result = 0, error = 0;
    std::thread sync([&] {
        result = ::fsync(file_.Native());
        error = errno;
        done = true;
    });
    std::exception_ptr raised;  // by `between`: the thread is joined first
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!between || raised) continue;
        try {
            between();
        } catch (...) {
            raised = std::current_exception();
        }
    }
    sync.join();
    if (raised) std::rethrow_exception(raised);
    if (result != 0) failure_ = Errno(error);
    return failure_;
}

std::uint64_t SizeOf(const File& file) {
    struct stat st {};
    return ::fstat(file.Native(), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::error_code CopyAll(const File& from, const File& to, const ByteProgress& report) {
    struct stat st {};
    if (::fstat(from.Native(), &st) != 0) return Errno();
    const off_t at = ::lseek(from.Native(), 0, SEEK_CUR);
    CopyProgress progress{report, static_cast<std::uint64_t>(std::max<off_t>(0, st.st_size - std::max<off_t>(0, at)))};
    // Pieces small enough to report on, large enough to cost nothing; the
    // copy is written out as it goes, so that its sync does not block long.
    const std::size_t piece = report ? std::size_t{16} << 20 : std::size_t{1} << 30;
    WriteBehind behind(to);
    off_t copied = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(from.Native(), nullptr, to.Native(), nullptr, piece, 0);
        if (n > 0) {
            copied += n;
            progress.Add(static_cast<std::uint64_t>(n));
            if (report) behind.Wrote(static_cast<std::uint64_t>(n));
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        // Not between these files or on this file system: copy through a buffer.
        if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                            errno == EOPNOTSUPP || errno == EPERM)) {
            return CopyByReadWrite(from, to, progress);
        }
        return Errno();
    }
    // Some file systems (/proc and the like) report an empty range for files
    // that are not empty.
    if (copied == 0 && st.st_size > 0) return CopyByReadWrite(from, to, progress);
    if (report) return behind.Finish([&] { report(progress.done, std::max(progress.done, progress.total)); });
    return {};
}

std::string ParentDirectory(const std::string& path) {
    const std::string::size_type last = path.find_last_not_of('/');  // trailing separators
    if (last == std::string::npos) return path.empty() ? "." : "/";
    const std::string::size_type slash = path.rfind('/', last);
    if (slash == std::string::npos) return ".";
    const std::string::size_type end = path.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

std::error_code SyncDirectoryOf(const std::string& path) {
    File dir(::open(ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) return Errno();
    return ::fsync(dir.Native()) == 0 ? std::error_code() : Errno();
}

std::error_code RenameFile(const std::string& from, const std::string& to, Existing existing) {
    if (existing == Existing::Replace) {
        return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : Errno();
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return Errno();
    // The file system cannot refuse atomically: look first.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return Errno(EEXIST);
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : Errno();
}

std::error_code LinkFile(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0) return Errno();
    return SyncDirectoryOf(to);
}

std::error_code WriteNewFile(std::string& name, std::string_view bytes, NewFile access) {
    File file;
    std::string created;
    if (auto ec = CreateExclusive(name, access, file, created)) return ec;
    std::error_code ec = WriteAll(file, bytes);
    const std::error_code closed = file.Close();
    if (!ec) ec = closed;
    if (ec) {
        ::unlink(created.c_str());
        return ec;
    }
    name = created;
    return {};
}

std::error_code ReplaceAtomically(const std::string& target, const std::string& temporary,
                                  const ContentWriter& write, const ReplaceOptions& options) {
    File file;
    std::string name;
    if (auto ec = CreateExclusive(temporary, options.access, file, name)) return ec;
    std::error_code ec;
    try {
        ec = write(file);
    } catch (...) {
        file.Close();
        ::unlink(name.c_str());
        throw;
    }
    if (!ec && ::fsync(file.Native()) != 0) ec = Errno();
    const std::error_code closed = file.Close();
    if (!ec) ec = closed;
    if (!ec) ec = RenameFile(name, target, options.existing);
    if (ec) {
        ::unlink(name.c_str());
        return ec;
    }
    // The target is replaced; some file systems cannot sync a directory,
    // which is no reason to say otherwise.
    (void)SyncDirectoryOf(target);
    return {};
}

std::error_code ReplaceAtomically(const std::string& target, const std::string& temporary,
                                  std::string_view bytes, const ReplaceOptions& options) {
    return ReplaceAtomically(
        target, temporary, [bytes](const File& file) { return WriteAll(file, bytes); }, options);
}

std::error_code OpenToRead(const std::string& path, File& file) {
    File opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!opened.Valid()) return Errno();
    struct stat st {};
    if (::fstat(opened.Native(), &st) != 0) return Errno();
    if (!S_ISREG(st.st_mode)) return Errno(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    file = std::move(opened);
    return {};
}

std::error_code OpenToAppend(const std::string& path, File& file) {
    File opened(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!opened.Valid()) return Errno();
    file = std::move(opened);
    return {};
}

}  // namespace ue::fileio
