// Linux only: the file that stands in for the registry value
// PendingFileRenameOperations. It holds exactly the value's bytes and is
// shared by ReplaceFileAtRestart and the boot-time renamer.
//
// Whoever carries a list out acts with the rights of the user it runs as, so
// a list, its lock and its folder must belong to that user (the folder may
// also be root's) and no one else may write them: otherwise another user
// could queue renames, or hold the lock, in our name.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <system_error>

#include "core/FileIO.h"

namespace ue {

// UPDATEEXE_PENDING_RENAMES_FILE when set and not empty. Otherwise, for root,
// /var/lib/updateexe/PendingFileRenameOperations, and for any other user
// $XDG_STATE_HOME/updateexe/PendingFileRenameOperations ($XDG_STATE_HOME
// when it is an absolute path, else $HOME/.local/state, else the home folder
// of the passwd entry).
std::string PendingRenamesFilePath();

// RestartReplacementWarning with every absolute path it looks at (the unit
// folders, the program of ExecStart=) under `root` ("" for the machine), for
// the system unit or else the user unit, whose own folder is under
// `configHome` (the user's $XDG_CONFIG_HOME or ~/.config).
std::string RenamerUnitWarning(const std::string& root, bool systemUnit,
                               const std::string& configHome);

// Why a list, its lock or its folder was refused, or the lock not taken.
enum class PendingRenamesError {
    LockBusy = 1,  // another process held the lock for the whole wait
    FolderUnsafe,  // the folder is another user's, or others may write it
    LockUnsafe,    // the lock is not a regular file of ours that only we write
    ListUnsafe,    // the same for the list
};
const std::error_category& PendingRenamesCategory();
std::error_code make_error_code(PendingRenamesError e);

// Why the object described by `st` may not be trusted by the user `uid`, or
// "" when it may: it must belong to that user (a folder may also be root's),
// and neither its group nor others may write it. A sticky bit does not help:
// others could still create the names we use.
std::string Untrusted(const struct stat& st, uid_t uid);

// How long PendingRenamesLock waits for a lock held elsewhere: 10 s.
// SetPendingRenamesLockWait changes it for the process (tests use a short
// bound) and returns the previous value.
constexpr std::chrono::milliseconds kPendingRenamesLockWait{10000};
std::chrono::milliseconds SetPendingRenamesLockWait(std::chrono::milliseconds wait);

// Holds an exclusive advisory lock (flock) on "<list>.lock" for its lifetime,
// so that writers and the renamer never lose each other's pairs. The lock
// file is created 0600 (a world-readable one is narrowed to 0600, since any
// reader could flock it) and never followed through a link or opened
// read-only. Its folder, the list's, must exist and be ours or root's and
// written by no one else; the lock file must be ours and written by no one
// else. held() is false when any of that fails or the lock stays taken for
// the whole wait; error() then says why.
class PendingRenamesLock {
public:
    explicit PendingRenamesLock(const std::string& listPath);
    ~PendingRenamesLock() = default;
    PendingRenamesLock(const PendingRenamesLock&) = delete;
    PendingRenamesLock& operator=(const PendingRenamesLock&) = delete;
    bool held() const { return file_.Valid(); }
    std::error_code error() const { return error_; }

private:
    fileio::File file_;  // closing it releases the lock
    std::error_code error_;
};

// Creates the list's folder with its missing parents, as the list's owner
// would: 0755 for root (the machine's list is read by administrators), 0700
// for anyone else. An existing folder is left as it is.
std::error_code CreatePendingRenamesFolder(const std::string& listPath);

// The whole content of the list file; "" when it does not exist. nullopt
// (errno set) when it cannot be read whole or is not a regular file.
std::optional<std::string> ReadPendingRenamesFile(const std::string& path);

// Whether the list at `path` may be carried out or added to by the user we
// run as: none, ListUnsafe for a link or a file that is Untrusted, or the
// error of lstat. A folder, FIFO or device is left to the read to refuse.
// Call it under the lock, whose folder check keeps others from swapping the
// list afterwards.
std::error_code CheckPendingRenamesFile(const std::string& path);

// Replaces the list file atomically: a temporary file beside it, fsync,
// rename, fsync of the directory. The file's permission bits are kept (0644
// for a new list of root's, 0600 for anyone else's). False (errno set) when
// the file was left as it was.
bool WritePendingRenamesFile(const std::string& path, const std::string& bytes);

// Removes the list file (absent is fine) and syncs its directory.
bool RemovePendingRenamesFile(const std::string& path);

}  // namespace ue

namespace std {
template <>
struct is_error_code_enum<ue::PendingRenamesError> : true_type {};
}  // namespace std
