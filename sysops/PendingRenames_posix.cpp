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
    if (!file_.Valid()) file_ = fileio::File(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file_.Valid()) return;
    while (::flock(file_.Native(), LOCK_EX) != 0) {
        if (errno != EINTR) {
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

std::error_code QueueFileReplacement(const std::string& source, const std::string& target) {
    const std::string path = PendingRenamesFilePath();
    std::error_code ec;
    fs::create_directories(fileio::ParentDirectory(path), ec);
    if (ec) return ec;  // like a registry key we may not open
    PendingRenamesLock lock(path);
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
