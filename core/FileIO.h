// Low-level file I/O that records and sysops share, written once per platform
// (FileIO_posix.cpp, FileIO_win32.cpp). Nothing here raises for a failure of
// the system: the failure comes back as a std::error_code of the system
// category (an errno value on Linux, a GetLastError value on Windows), so that
// its cause can reach the message the user reads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace ue::fileio {

#ifdef _WIN32
using NativeFile = void*;  // a HANDLE
#else
using NativeFile = int;  // a descriptor
#endif

// Owns an open file and closes it when it leaves scope. Move-only.
class File {
public:
    File() = default;
    explicit File(NativeFile native) : native_(native) {}
    ~File();
    File(File&& other) noexcept : native_(other.Release()) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // The platform's value for "no file" (-1, INVALID_HANDLE_VALUE).
    static NativeFile None();

    bool Valid() const { return native_ != None(); }
    NativeFile Native() const { return native_; }
    // Gives the file up without closing it.
    NativeFile Release();
    // Closes the file now. Its error counts: some file systems report a
    // failed write only here. Without a file, nothing happens.
    std::error_code Close();

private:
    NativeFile native_ = None();
};

// The rest of an open file, from its position to its end, into `bytes`.
std::error_code ReadAll(const File& file, std::string& bytes);
// The whole content of the regular file at `path`. A missing file gives an
// error equal to std::errc::no_such_file_or_directory; a directory, a FIFO or
// a device gives an error as well, and is never waited on.
std::error_code ReadAll(const std::string& path, std::string& bytes);

// Opens the regular file at `path` for reading, following links; a
// directory, a FIFO or a device gives an error, and is never waited on.
std::error_code OpenRegularFile(const std::string& path, File& file);

// At most the first `count` bytes of the regular file at `path`, fewer for a
// shorter file; the same errors as ReadAll.
std::error_code ReadPrefix(const std::string& path, std::size_t count, std::string& bytes);

// Opens the regular file at `path` for reading, its last name not followed
// when it is a symbolic link (ELOOP on Linux); a directory, a FIFO or a
// device gives an error, and is never waited on.
std::error_code OpenToRead(const std::string& path, File& file);

// Opens the file at `path` for appending, creating it when missing (mode
// 0644 on Linux); other processes may read and append meanwhile. Each
// WriteAll of the open file lands at the end, never over another writer's.
std::error_code OpenToAppend(const std::string& path, File& file);

// Reads at most `count` bytes at the file's position into `buffer`; `got` is
// 0 at the end of the file.
std::error_code ReadSome(const File& file, void* buffer, std::size_t count, std::size_t& got);
// Moves the file's position back to its start.
std::error_code Rewind(const File& file);

// Writes all of `bytes`, resuming after partial writes and interruptions.
std::error_code WriteAll(const File& file, std::string_view bytes);

// How far long file work has got: `done` of `total` bytes. Called between
// pieces on the working thread; it must be cheap (the caller throttles).
using ByteProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// For a new file written from its start and synced at the end: starts the
// writing-out of what was written, piece by piece, and waits for the pieces
// written some time ago, so that the data does not pile up in memory and the
// final sync has little left to do (a sync of a gigabyte blocks for seconds).
// Linux: sync_file_range; elsewhere it does nothing.
class WriteBehind {
public:
    static constexpr std::uint64_t kPiece = std::uint64_t{4} << 20;
    // Pieces written out but not waited for: the wait is for a piece long
    // started, so it rarely blocks, and the memory held stays bounded.
    static constexpr std::uint64_t kLag = 8;
    explicit WriteBehind(const File& file) : file_(file) {}
    // `bytes` more were written at the end.
    void Wrote(std::uint64_t bytes);
    // Syncs the file, calling `between` every few milliseconds meanwhile (the
    // caller's progress, which keeps a window answering): the sync runs on a
    // thread of its own, as it can block for most of a second on a busy
    // disk. The first failure to write out or sync (which a later sync may
    // no longer report).
    std::error_code Finish(const std::function<void()>& between);

private:
    const File& file_;
    std::uint64_t written_ = 0;
    std::uint64_t started_ = 0;  // up to here the writing-out was started
    std::error_code failure_;
};

// The size of an open file (0 when it cannot be told).
std::uint64_t SizeOf(const File& file);

// Copies the rest of `from` to `to` (in the kernel where it can). With
// `progress`, the copy goes in pieces of at most 16 MiB and reports the
// bytes copied after each, of the rest's size at the start.
std::error_code CopyAll(const File& from, const File& to, const ByteProgress& progress = {});

// The directory part of `path`. Trailing separators are not part of the last
// name ("/a/b/" gives "/a"), and a run of separators counts as one ("/a//b"
// gives "/a"); a bare name gives ".", a name directly in the root gives "/".
std::string ParentDirectory(const std::string& path);

// Makes the latest changes of entries (renames, removals) in the directory
// holding `path` durable.
std::error_code SyncDirectoryOf(const std::string& path);

// What lies under a name, its last name not followed when it is a link (a
// symbolic link, or on Windows any reparse point).
enum class Kind { Missing, Regular, Directory, Link, Other };
struct Status {
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;  // of a regular file
};
// The status of `path`. A name that is not there (nor is its folder) gives
// Kind::Missing and no error; a name the system cannot look at (too long, a
// folder we may not search, a file where a folder is needed) gives its error.
std::error_code StatusOf(const std::string& path, Status& status);

// Which file a name stands for: two names with equal identities are one
// file, whatever their spelling (a hard link, a folder reached another way,
// on Windows a short 8.3 alias or another letter case).
struct FileIdentity {
    std::uint64_t device = 0;  // st_dev; the volume serial number on Windows
    std::uint64_t file = 0;    // st_ino; the file index on Windows
    bool operator==(const FileIdentity&) const = default;
};
// Whether a link named last in a path is followed to what it leads to.
enum class LastLink { Follow, Stay };
// The identity of the file at `path`; `found` is false, without an error,
// for a name that is not there. A name the system cannot look at gives its
// error. With LastLink::Stay a symbolic link (on Windows any reparse point)
// named last is itself the file.
std::error_code IdentityOf(const std::string& path, LastLink last, FileIdentity& identity,
                           bool& found);

// Removes the file or link at `path` (never a directory); a name that is not
// there is no error.
std::error_code RemoveFile(const std::string& path);

// What happens to an existing target.
enum class Existing {
    Replace,  // it is replaced
    Keep,     // it stays, and the result is std::errc::file_exists
};

// Renames `from` to `to` in one step.
std::error_code RenameFile(const std::string& from, const std::string& to, Existing existing);

// Gives the file `from` the further name `to` (a hard link: no content is
// copied; an existing `to` is an error) and makes the new name durable. Fails
// where the file system has no hard links; the caller then copies.
std::error_code LinkFile(const std::string& from, const std::string& to);

// The permission bits a temporary file is created with.
enum class NewFile {
    Private,  // only we may read it, until the writer sets the final bits
    Default,  // those of any new file (on Linux 0666 less the umask)
};

struct ReplaceOptions {
    Existing existing = Existing::Replace;
    NewFile access = NewFile::Private;
};

// Replaces the last six characters of `name` (a temporary's "XXXXXX") by
// letters and digits, as mkstemp does.
void FillTemplate(std::string& name);

// Fills the temporary file; returns the first error.
using ContentWriter = std::function<std::error_code(const File& temporary)>;

// Replaces `target` whole or not at all, so that it is never seen half
// written. `temporary` is created exclusively (a file or link already there
// is an error, never written through; six trailing "X" are first replaced by
// characters that make an unused name, as mkstemp does), so it must lie beside
// the target, in the same directory. `write` fills it; it is then synced,
// closed and renamed over the target, and the directory is synced. On any
// failure, also an exception from `write` (which passes on), the temporary is
// removed and the target is left as it was; the first error is returned.
// Once the rename is done the result is success: a directory that cannot be
// synced does not undo it.
std::error_code ReplaceAtomically(const std::string& target, const std::string& temporary,
                                  const ContentWriter& write, const ReplaceOptions& options = {});
// The same with the content given.
std::error_code ReplaceAtomically(const std::string& target, const std::string& temporary,
                                  std::string_view bytes, const ReplaceOptions& options = {});

// Creates the new file `name` exclusively (a trailing "XXXXXX" is first
// replaced as for ReplaceAtomically's temporary; `name` then holds the name
// made), writes `bytes` into it and closes it. On failure nothing is left.
std::error_code WriteNewFile(std::string& name, std::string_view bytes, NewFile access = NewFile::Default);

#ifdef _WIN32
// `path` (UTF-8, with "/" or "\\" between names) as the W calls take it: "/"
// becomes "\\", and a path too long for MAX_PATH is made absolute and given
// the "\\?\\" form ("\\?\\UNC\\" for a network path), which has no limit.
// Raises Error for bytes that are not UTF-8.
std::wstring WidePath(const std::string& path);
#endif

}  // namespace ue::fileio
