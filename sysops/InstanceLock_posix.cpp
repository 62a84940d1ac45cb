// The installation's lock on Linux: an flock, taken without waiting, on a
// file in the installation directory.
#include "sysops/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/Errors.h"

namespace ue {
namespace {

// O_NOFOLLOW: a link planted under the name is neither followed nor created
// through. O_NONBLOCK: a FIFO there must not make us wait; it is refused below.
constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

fileio::File OpenLockFile(const std::string& path) {
    fileio::File file(::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0644));
    // Someone else's lock file, or a read-only installation: flock works on a
    // descriptor open for reading as well (on NFS only for writing, hence the
    // first try).
    if (!file.Valid() && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        file = fileio::File(::open(path.c_str(), O_RDONLY | kOpenFlags));
    }
    return file;
}

}  // namespace

InstanceLock InstanceLock::Acquire(const std::string& installationDir) {
    std::string path = installationDir.empty() ? std::string("./") : installationDir;
    if (path.back() != '/') path += '/';
    path += kInstanceLockName;

    fileio::File file = OpenLockFile(path);
    if (!file.Valid()) return {State::Unavailable, {}, LastSystemError()};
    struct stat st {};
    if (::fstat(file.Native(), &st) != 0) return {State::Unavailable, {}, LastSystemError()};
    if (!S_ISREG(st.st_mode)) return {State::Unavailable, {}, SystemError(EINVAL)};
    while (::flock(file.Native(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return {State::Busy, {}, {}};
        return {State::Unavailable, {}, LastSystemError()};
    }
    return {State::Held, std::move(file), {}};
}

}  // namespace ue
