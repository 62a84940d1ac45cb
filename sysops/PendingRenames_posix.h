// Linux only: the file that stands in for the registry value
// PendingFileRenameOperations. It holds exactly the value's bytes and is
// shared by ReplaceFileAtRestart and the boot-time renamer.
#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "core/FileIO.h"

namespace ue {

// UPDATEEXE_PENDING_RENAMES_FILE when set and not empty, otherwise
// /var/lib/updateexe/PendingFileRenameOperations.
std::string PendingRenamesFilePath();

// Holds an exclusive advisory lock (flock) on "<list>.lock" for its lifetime,
// so that writers and the renamer never lose each other's pairs. When the lock
// file cannot be opened or locked, held() is false and error() says why; the
// renamer goes on unlocked, QueueFileReplacement reports the error.
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

// The whole content of the list file; "" when it does not exist. nullopt
// (errno set) when it cannot be read whole or is not a regular file.
std::optional<std::string> ReadPendingRenamesFile(const std::string& path);

// Replaces the list file atomically: a temporary file beside it, fsync,
// rename, fsync of the directory. The file's permission bits are kept (0644
// for a new file). False (errno set) when the file was left as it was.
bool WritePendingRenamesFile(const std::string& path, const std::string& bytes);

// Removes the list file (absent is fine) and syncs its directory.
bool RemovePendingRenamesFile(const std::string& path);

}  // namespace ue
