// The pending-rename list on Linux: a file with the registry value's bytes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "sysops/PendingRenameFile.h"
#include "sysops/PendingRenames.h"

namespace fs = std::filesystem;

namespace ue {

namespace {

const char kDefaultListPath[] = "/var/lib/updateexe/PendingFileRenameOperations";

std::string ParentDirectory(const std::string& path) {
    std::string dir = fs::path(path).parent_path().string();
    return dir.empty() ? "." : dir;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string PendingRenamesFilePath() {
    const char* env = std::getenv("UPDATEEXE_PENDING_RENAMES_FILE");
    return env && *env ? env : kDefaultListPath;
}

PendingRenamesLock::PendingRenamesLock(const std::string& listPath) {
    const std::string lockPath = listPath + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

PendingRenamesLock::~PendingRenamesLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::optional<std::string> ReadPendingRenamesFile(const std::string& path) {
    // O_NONBLOCK: a FIFO at the path must not hang us; it is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return std::string();
        return std::nullopt;
    }
    struct stat st {};
    int refused = 0;
    if (::fstat(fd, &st) != 0)
        refused = errno;
    else if (!S_ISREG(st.st_mode))
        refused = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (refused != 0) {
        ::close(fd);
        errno = refused;
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            errno = saved;
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool SyncParentDirectory(const std::string& path) {
    int fd = ::open(ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool WritePendingRenamesFile(const std::string& path, const std::string& bytes) {
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    std::string temp = path + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    SyncParentDirectory(path);  // the new list is in place; this makes it durable
    return true;
}

bool RemovePendingRenamesFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    SyncParentDirectory(path);
    return true;
}

void ReplaceFileAtRestart(const std::string& source, const std::string& target) {
    try {
        const std::string path = PendingRenamesFilePath();
        std::error_code ec;
        fs::create_directories(ParentDirectory(path), ec);
        if (ec) return;  // like a registry key we may not open
        PendingRenamesLock lock(path);
        std::optional<std::string> present = ReadPendingRenamesFile(path);
        if (!present) return;  // never overwrite pairs we could not read
        WritePendingRenamesFile(path, AppendPendingRename(*present, source, target));
    } catch (...) {
        // Silent by contract: the caller treats the replacement as queued.
    }
}

}  // namespace ue
