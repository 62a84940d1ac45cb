// Plain file operations used to test and replace installed files. None of
// them raises: every failure gives the neutral result (false or 0). Those that
// answer with false sit on a twin that returns the failure's cause instead,
// for the messages that report it. A "file" is a regular file: directories
// and special files count as absent.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "core/FileIO.h"
#include "sysops/DateTime.h"

namespace ue {

namespace fileio {
class Root;
}

// The owner window of a copy (a native window handle, or none).
using WindowHandle = void*;

// True for an existing file, whatever its modified time.
bool IsFilePresent(const std::string& path);
// The last-write time as a local date-time value (millisecond resolution);
// files with equal times give equal values. 0 when absent.
TDateTime GetFileModifiedTime(const std::string& path);
// The low 32 bits of the size, read as a signed integer. 0 when absent.
std::int32_t GetFileSizeByName(const std::string& path);
// True when the file exists and cannot be replaced now: some process (this
// one included) holds it open or mapped, or the system would refuse its
// replacement (a folder we may not write; on Linux an immutable file). A
// read-only file (no write permission bit on Linux) is replaced, as the
// shell's copy replaces it. False for a missing file.
bool IsFileInUse(const std::string& path);
// IsFileInUse with the reason: none when the file can be replaced now (or is
// absent); std::errc::device_or_resource_busy when a process holds it open or
// mapped; the system's error (permission denied, read-only file system,
// operation not permitted, ...) when its replacement would be refused.
std::error_code ReplaceBlocker(const std::string& path);
// Copies over the target without asking; the target gets the source's content,
// permission bits and modified time. The target is replaced whole or not at
// all: false, with the target untouched, when the source is absent, the target
// is in use, or anything fails. The owner window is not used: no progress or
// question is shown.
bool ShellCopyFile(WindowHandle owner, const std::string& source, const std::string& target);
// ShellCopyFile with the cause of a failure: the system's error (a missing
// source gives std::errc::no_such_file_or_directory, a target in use
// std::errc::device_or_resource_busy or what keeps us from writing it).
// The source is never read through a symbolic link (Linux: ELOOP).
//
// What the copy inherits on Linux: the owner (user and group) of the
// installation, that is of the existing target, or of the folder for a new
// one (only root can give a file away; anyone else keeps it, with that group
// when a member of it); the source's bits for the owner, always with write
// (no copy is read-only, as on Windows), and its read and
// execute bits for group and others; write for group and others only as the
// existing target had it, or for a new file as both the source and a folder
// without the sticky bit grant it. So a download that anyone may write never
// becomes an installed file that anyone may write.
// `temporary`, when given, is the name of the temporary file beside the target
// that the copy is written to (created exclusively: a file there is an
// error), so that the caller can record it before it exists.
//
// `root`, when given, is the installation, beneath which both paths lie: they
// are resolved beneath it at the moment of the copy, so that a folder or the
// download swapped for a link since the caller looked leads nowhere outside
// (std::errc::cross_device_link, or too_many_symbolic_link_levels for the
// download itself).
// `progress`, when given, hears the bytes copied of the source's size.
std::error_code CopyFileOver(const std::string& source, const std::string& target,
                             const std::string& temporary = {}, const fileio::Root* root = nullptr,
                             const fileio::ByteProgress& progress = {});

// The mark in the name of a temporary made by CopyToTemporaryBeside
// ("<target>.~urXXXXXX"); it is left for the restart and is not a leftover.
inline constexpr char kRestartTemporaryMark[] = ".~ur";
// Copies `source` into a new file beside `target`, created exclusively under
// a name no file has, with what CopyFileOver would give the target (owner,
// permission bits, modified time), synced; `temporary` receives its path.
// This is what a replacement at the restart moves over the target, so that it
// does not carry the download's owner or bits. On failure nothing is left and
// `temporary` is empty.
// `root` as for CopyFileOver.
std::error_code CopyToTemporaryBeside(const std::string& source, const std::string& target,
                                      std::string& temporary, const fileio::Root* root = nullptr);

// Creates a directory with all missing parents; false on failure.
bool ForceDirectories(const std::string& path);
// ForceDirectories with the cause of a failure. Follows links on the way:
// a caller that must stay inside a directory checks with CheckBeneath first.
std::error_code CreateDirectories(const std::string& path);

// None when `path` lies beneath the directory `base` (or is `base`) once every
// symbolic link on the way, the last name included, is followed. `path` is
// `base` followed by a relative path, and need not exist: its deepest existing
// part is resolved, and what is missing may hold no step to a parent. A
// relative link is followed as long as it stays beneath `base`; an absolute
// one only when its text names a place beneath `base` as given or beneath its
// real path (so a link made with the installation's full path keeps working). Otherwise
// std::errc::cross_device_link (EXDEV) for "leads outside", or the system's
// error when a part cannot be resolved at all (a loop of links, a folder we
// may not search, a file where a folder is needed): the operation on the path
// would fail on the same part.
std::error_code CheckBeneath(const std::string& base, const std::string& path);
// For a file that the downloader left: none when `path` is a regular file that
// is no symbolic link; std::errc::no_such_file_or_directory when nothing is
// there; std::errc::too_many_symbolic_link_levels (ELOOP, as an open that does
// not follow links reports) for a symbolic link, whatever it points at;
// std::errc::invalid_argument for a directory, a device, a FIFO or a socket;
// the system's error when it cannot be looked at.
std::error_code CheckDownloadedFile(const std::string& path);

}  // namespace ue
