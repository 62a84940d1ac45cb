// The pending-rename list on Linux: a file with the registry value's bytes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "core/Errors.h"
#include "sysops/PendingRenames.h"
#include "sysops/PendingRenames_posix.h"

namespace fs = std::filesystem;

namespace ue {

namespace {

const char kDefaultListPath[] = "/var/lib/updateexe/PendingFileRenameOperations";

}  // namespace

std::string PendingRenamesFilePath() {
    const char* env = std::getenv("UPDATEEXE_PENDING_RENAMES_FILE");
    return env && *env ? env : kDefaultListPath;
}

PendingRenamesLock::PendingRenamesLock(const std::string& listPath) {
    const std::string lockPath = listPath + ".lock";
    file_ = fileio::File(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!file_.Valid()) {
        // Why it could not be created tells more than why it is not there.
        error_ = std::error_code(errno, std::system_category());
        file_ = fileio::File(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
    }
    if (!file_.Valid()) return;
    error_.clear();
    while (::flock(file_.Native(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            error_ = std::error_code(errno, std::system_category());
            file_.Close();
            return;
        }
    }
}

std::optional<std::string> ReadPendingRenamesFile(const std::string& path) {
    std::string bytes;
    const std::error_code ec = fileio::ReadAll(path, bytes);
    if (ec == std::errc::no_such_file_or_directory) return std::string();
    if (ec) {
        errno = ec.value();
        return std::nullopt;
    }
    return bytes;
}

bool WritePendingRenamesFile(const std::string& path, const std::string& bytes) {
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    const std::error_code ec =
        fileio::ReplaceAtomically(path, path + ".XXXXXX", [&](const fileio::File& file) {
            if (auto written = fileio::WriteAll(file, bytes)) return written;
            if (::fchmod(file.Native(), mode) != 0) return std::error_code(errno, std::system_category());
            return std::error_code();
        });
    if (ec) errno = ec.value();
    return !ec;
}

bool RemovePendingRenamesFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    fileio::SyncDirectoryOf(path);
    return true;
}

// Every failure comes back as an error: the caller records the file as
// queued only on success, which is returned once the list is on the disk.
std::error_code QueueFileReplacement(const std::string& source, const std::string& target) {
    const std::string path = PendingRenamesFilePath();
    std::error_code ec;
    fs::create_directories(fileio::ParentDirectory(path), ec);
    if (ec) return ec;  // like a registry key we may not open
    // Unlocked, another writer or the renamer could drop our pair unseen.
    PendingRenamesLock lock(path);
    if (!lock.held()) return lock.error() ? lock.error() : std::make_error_code(std::errc::no_lock_available);
    std::optional<std::string> present = ReadPendingRenamesFile(path);
    // Never overwrite pairs we could not read.
    if (!present) return std::error_code(errno, std::system_category());
    std::string bytes;
    try {
        bytes = AppendPendingRename(*present, source, target);
    } catch (const Error&) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (!WritePendingRenamesFile(path, bytes)) return std::error_code(errno, std::system_category());
    // The rename of the new list is durable only once its folder is synced;
    // WritePendingRenamesFile tries that but does not count a failure. Only an
    // I/O error says the rename may be lost; a file system that cannot sync a
    // folder, or a folder we may not open for reading, is no reason to fail.
    ec = fileio::SyncDirectoryOf(path);
    if (ec == std::errc::io_error) return ec;
    return {};
}

void ReplaceFileAtRestart(const std::string& source, const std::string& target) {
    try {
        QueueFileReplacement(source, target);
    } catch (...) {
        // Silent by contract: the caller treats the replacement as queued.
    }
}

}  // namespace ue
