// The installation's lock on Linux: an flock, taken without waiting, on a
// file in the installation directory.
//
// Whoever can open the file can hold the lock, and so stop every update for
// as long as they like: only who may write the installation directory may
// open it. The file is created 0600 and given the directory's owner, group
// and write permissions (read and write for the group, or for others, where
// the directory is writable by them); an existing one is brought to that form
// when we own it or are root. It is opened for reading and writing: a user
// who may only read it cannot lock it. Its owner, who may always change its
// mode, regains a lock file made read-only.
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

fileio::File OpenLockFile(int dir) {
    fileio::File file(::openat(dir, kInstanceLockName, O_RDWR | O_CREAT | kOpenFlags, 0600));
    if (file.Valid() || errno != EACCES) return file;
    // Ours but read-only: made writable for us again, then opened anew.
    const fileio::File readable(::openat(dir, kInstanceLockName, O_RDONLY | kOpenFlags));
    struct stat st {};
    if (readable.Valid() && ::fstat(readable.Native(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid() && ::fchmod(readable.Native(), 0600) == 0) {
        file = fileio::File(::openat(dir, kInstanceLockName, O_RDWR | kOpenFlags));
        if (file.Valid()) return file;
    }
    errno = EACCES;
    return file;
}

// Brings the lock file to the installation directory's owner, group and
// write permissions, as far as we may; a step we may not take is left out.
void Restrict(int fd, const struct stat& dir) {
    struct stat st {};
    // A file with another name elsewhere is not ours to change through this one.
    if (::fstat(fd, &st) != 0 || st.st_nlink != 1) return;
    const uid_t self = ::geteuid();
    if (self != 0 && st.st_uid != self) return;  // not ours to change
    // Tightened first, so that nobody else may open it meanwhile.
    if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) return;
    if (self == 0 && st.st_uid != dir.st_uid) ::fchown(fd, dir.st_uid, static_cast<gid_t>(-1));
    // Fails where we are not in the directory's group: the group gets no access then.
    if (st.st_gid != dir.st_gid) ::fchown(fd, static_cast<uid_t>(-1), dir.st_gid);
    if (::fstat(fd, &st) != 0) return;
    mode_t mode = 0600;
    if ((dir.st_mode & S_IWGRP) && st.st_gid == dir.st_gid) mode |= 0060;
    if (dir.st_mode & S_IWOTH) mode |= 0006;
    if (mode != 0600) ::fchmod(fd, mode);
}

}  // namespace

InstanceLock InstanceLock::Acquire(const std::string& installationDir) {
    const std::string dirPath = installationDir.empty() ? std::string(".") : installationDir;
    const fileio::File dir(::open(dirPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat dirStat {};
    if (!dir.Valid() || ::fstat(dir.Native(), &dirStat) != 0) {
        return {State::Unavailable, {}, LastSystemError()};
    }
    fileio::File file = OpenLockFile(dir.Native());
    if (!file.Valid()) return {State::Unavailable, {}, LastSystemError()};
    struct stat st {};
    if (::fstat(file.Native(), &st) != 0) return {State::Unavailable, {}, LastSystemError()};
    if (!S_ISREG(st.st_mode)) return {State::Unavailable, {}, SystemError(EINVAL)};
    Restrict(file.Native(), dirStat);
    while (::flock(file.Native(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return {State::Busy, {}, {}};
        return {State::Unavailable, {}, LastSystemError()};
    }
    return {State::Held, std::move(file), {}};
}

}  // namespace ue
