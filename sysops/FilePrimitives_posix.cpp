// Linux file primitives. In-use test: the file is held open or mapped by some
// process (ours included, as on Windows an exclusive open fails against our own
// handles too), or we may not write it or its directory, or it has no write
// permission bit (the read-only attribute, which stops root too). Copy: into a
// temporary file beside the target, synced, then renamed over it, so the
// target is never seen half-written.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sysops/FilePrimitives.h"
#include "sysops/FileTimes_posix.h"

namespace ue {
namespace {

bool StatRegularFile(const std::string& path, struct stat& st) {
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    // Directories, devices, FIFOs and sockets are not files to update; reading
    // a FIFO would block the run.
    return S_ISREG(st.st_mode);
}

bool IsDecimal(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') return false;
    }
    return true;
}

// Closes a descriptor when it leaves scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Close() {
        int rc = 0;
        if (fd_ >= 0) rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

bool DescriptorsHold(int procFd, const char* pid, const struct stat& file) {
    const std::string fdDir = std::string(pid) + "/fd";
    const int dirFd = ::openat(procFd, fdDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;  // gone, or not ours to read
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        struct stat st;
        // Follows the descriptor's link to the open file itself.
        if (::fstatat(dirFd, entry->d_name, &st, 0) == 0 && st.st_ino == file.st_ino &&
            st.st_dev == file.st_dev) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// One line of /proc/<pid>/maps: "start-end perms offset major:minor inode path".
bool MapLineMatches(const char* line, const char* end, const struct stat& file,
                    const std::string& canonicalPath) {
    const char* p = line;
    for (int field = 0; field < 3; ++field) {  // address range, perms, offset
        while (p < end && *p != ' ') ++p;
        while (p < end && *p == ' ') ++p;
    }
    unsigned long major = 0, minor = 0, inode = 0;
    auto hex = [&](unsigned long& v) {
        const char* start = p;
        for (; p < end; ++p) {
            const char c = *p;
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else break;
            v = v * 16 + static_cast<unsigned long>(d);
        }
        return p > start;
    };
    if (!hex(major) || p >= end || *p++ != ':' || !hex(minor)) return false;
    while (p < end && *p == ' ') ++p;
    const char* inodeStart = p;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) inode = inode * 10 + static_cast<unsigned long>(*p - '0');
    if (p == inodeStart || inode == 0) return false;  // anonymous mapping
    if (inode == file.st_ino && major == ::major(file.st_dev) && minor == ::minor(file.st_dev)) {
        return true;
    }
    // Stacked file systems (overlayfs) may show the lower file's device here;
    // the path still names the mapped file unless it was replaced (" (deleted)").
    while (p < end && *p == ' ') ++p;
    return !canonicalPath.empty() && static_cast<std::size_t>(end - p) == canonicalPath.size() &&
           std::memcmp(p, canonicalPath.data(), canonicalPath.size()) == 0;
}

bool MappingsHold(int procFd, const char* pid, const struct stat& file,
                  const std::string& canonicalPath, std::vector<char>& buffer) {
    const std::string maps = std::string(pid) + "/maps";
    Fd fd(::openat(procFd, maps.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    std::size_t kept = 0;  // bytes of an unfinished line at the buffer's start
    for (;;) {
        if (kept == buffer.size()) buffer.resize(buffer.size() * 2);  // a very long path
        const ssize_t n = ::read(fd.get(), buffer.data() + kept, buffer.size() - kept);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            return kept > 0 && MapLineMatches(buffer.data(), buffer.data() + kept, file, canonicalPath);
        }
        const char* line = buffer.data();
        const char* end = buffer.data() + kept + n;
        while (const char* nl = static_cast<const char*>(std::memchr(line, '\n', end - line))) {
            if (MapLineMatches(line, nl, file, canonicalPath)) return true;
            line = nl + 1;
        }
        kept = static_cast<std::size_t>(end - line);
        std::memmove(buffer.data(), line, kept);
    }
}

bool CopyByReadWrite(int in, int out) {
    std::vector<char> buffer(128 * 1024);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// Copies the whole content; in the kernel where it can (no user-space buffer,
// reflinks on file systems that have them).
bool CopyContent(int in, int out, off_t expectedSize) {
    off_t copied = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                            errno == EOPNOTSUPP || errno == EPERM)) {
            return CopyByReadWrite(in, out);
        }
        return false;
    }
    // Some file systems report an empty range for files that are not.
    if (copied == 0 && expectedSize > 0) return CopyByReadWrite(in, out);
    return true;
}

// Quick proof that no other open file refers to the file: the kernel grants a
// write lease only when the inode has no open file description for reading or
// writing besides ours (mappings keep theirs; running programs deny it). A
// refusal proves nothing (older kernels count other references, some file
// systems have no leases, leases need ownership or CAP_LEASE), so the caller
// then looks in /proc. The lease lasts an instant, as the exclusive open of
// the Windows test does.
bool NoOtherOpenFile(const std::string& path, const struct stat& file) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_ino != file.st_ino || st.st_dev != file.st_dev) {
        return false;
    }
    // Should someone open the file meanwhile, the lease break signals us:
    // SIGURG is ignored unless handled, the default SIGIO would end us.
    if (::fcntl(fd.get(), F_SETSIG, SIGURG) != 0) return false;
    if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) != 0) return false;
    ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return true;
}

std::string TemporaryPattern(const std::string& target) {
    const std::string::size_type slash = target.rfind('/');
    const std::size_t nameLength = slash == std::string::npos ? target.size() : target.size() - slash - 1;
    if (nameLength + 10 <= NAME_MAX) return target + ".~ueXXXXXX";
    return posix::ParentDirectory(target) + "/.~ueXXXXXX";
}

}  // namespace

namespace posix {

std::string ParentDirectory(const std::string& path) {
    const std::string::size_type last = path.find_last_not_of('/');  // trailing separators
    if (last == std::string::npos) return path.empty() ? "." : "/";
    const std::string::size_type slash = path.rfind('/', last);
    if (slash == std::string::npos) return ".";
    const std::string::size_type end = path.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

void SyncParentDirectory(const std::string& path) {
    Fd dir(::open(ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

bool IsHeldOpenByAnyProcess(const struct stat& file, const std::string& canonicalPath) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return false;
    const int procFd = ::dirfd(proc);
    std::vector<char> buffer(64 * 1024);
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (!IsDecimal(entry->d_name)) continue;
        if (DescriptorsHold(procFd, entry->d_name, file) ||
            MappingsHold(procFd, entry->d_name, file, canonicalPath, buffer)) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

int FileReplaceBlocker(const std::string& path) {
    struct stat st;
    if (!StatRegularFile(path, st)) return 0;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno != 0 ? errno : EACCES;
    // The replacement is a rename in the directory.
    if (::faccessat(AT_FDCWD, ParentDirectory(path).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return errno != 0 ? errno : EACCES;
    }
    if (NoOtherOpenFile(path, st)) return 0;
    std::string canonical;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        canonical = resolved;
        std::free(resolved);
    }
    return IsHeldOpenByAnyProcess(st, canonical) ? EBUSY : 0;
}

}  // namespace posix

bool IsFilePresent(const std::string& path) {
    struct stat st;
    return StatRegularFile(path, st);
}

TDateTime GetFileModifiedTime(const std::string& path) {
    struct stat st;
    if (!StatRegularFile(path, st)) return 0;
    return posix::LocalDateTimeFromUnixTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

std::int32_t GetFileSizeByName(const std::string& path) {
    struct stat st;
    if (!StatRegularFile(path, st)) return 0;
    // The low 32 bits, read as signed: 3 GiB gives -1 GiB.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(st.st_size)));
}

bool IsFileInUse(const std::string& path) {
    try {
        return posix::FileReplaceBlocker(path) != 0;
    } catch (...) {
        return false;
    }
}

bool ShellCopyFile(WindowHandle /*owner*/, const std::string& source, const std::string& target) {
    try {
        struct stat sourceStat;
        if (!StatRegularFile(source, sourceStat) || target.empty()) return false;
        struct stat targetStat;
        if (::stat(target.c_str(), &targetStat) == 0 && !S_ISREG(targetStat.st_mode)) return false;
        if (posix::FileReplaceBlocker(target) != 0) return false;

        Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in.valid() || ::fstat(in.get(), &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
            return false;
        }
        std::string pattern = TemporaryPattern(target);
        std::vector<char> temporary(pattern.begin(), pattern.end());
        temporary.push_back('\0');
        Fd out(::mkostemp(temporary.data(), O_CLOEXEC));
        if (!out.valid()) return false;

        // Permission bits only: set-id bits would not survive the change of owner.
        const struct timespec times[2] = {{0, UTIME_OMIT}, sourceStat.st_mtim};
        bool ok = CopyContent(in.get(), out.get(), sourceStat.st_size) &&
                  ::fchmod(out.get(), sourceStat.st_mode & 0777) == 0 &&
                  ::futimens(out.get(), times) == 0 && ::fsync(out.get()) == 0;
        ok = out.Close() == 0 && ok;
        ok = ok && ::rename(temporary.data(), target.c_str()) == 0;
        if (!ok) {
            ::unlink(temporary.data());
            return false;
        }
        posix::SyncParentDirectory(target);
        return true;
    } catch (...) {
        return false;
    }
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    struct stat st;
    for (std::string::size_type pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && prefix.back() != '/' && ::mkdir(prefix.c_str(), 0777) != 0) {
            if (errno != EEXIST || ::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                return false;
            }
        }
        if (pos == std::string::npos) break;
    }
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace ue
