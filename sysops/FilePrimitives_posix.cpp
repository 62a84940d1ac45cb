// Linux file primitives. In-use test: the file is held open or mapped by some
// process (ours included, as on Windows an exclusive open fails against our own
// handles too, but for our own program, which a rename replaces while it
// runs), or the rename over it would be refused (a folder we may not
// write, an immutable or append-only file). A file without write permission
// bits (the stand-in for the read-only attribute) is replaced, as on Windows.
// Copy: into a temporary file beside the target, synced, then renamed over
// it, so the target is never seen half-written; no copy is left without the
// owner's write bit.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/Root.h"
#include "sysops/DateTime_posix.h"
#include "sysops/FilePrimitives.h"
#include "sysops/FilePrimitives_posix.h"

namespace ue {
namespace {

bool StatRegularFile(const std::string& path, struct stat& st) {
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    // Directories, devices, FIFOs and sockets are not files to update; reading
    // a FIFO would block the run.
    return S_ISREG(st.st_mode);
}

// Whether the file has one of the STATX_ATTR_ `attributes`, where its file
// system tells.
bool HasAttribute(const std::string& path, std::uint64_t attributes) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), 0, 0, &sx) != 0) return false;
    return (sx.stx_attributes & sx.stx_attributes_mask & attributes) != 0;
}

bool IsDecimal(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') return false;
    }
    return true;
}

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
    const fileio::File fd(::openat(procFd, maps.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return false;
    std::size_t kept = 0;  // bytes of an unfinished line at the buffer's start
    for (;;) {
        if (kept == buffer.size()) buffer.resize(buffer.size() * 2);  // a very long path
        const ssize_t n = ::read(fd.Native(), buffer.data() + kept, buffer.size() - kept);
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

// Quick proof that no other open file refers to the file: the kernel grants a
// write lease only when the inode has no open file description for reading or
// writing besides ours (mappings keep theirs; running programs deny it). A
// refusal proves nothing (older kernels count other references, some file
// systems have no leases, leases need ownership or CAP_LEASE), so the caller
// then looks in /proc. The lease lasts an instant, as the exclusive open of
// the Windows test does.
bool NoOtherOpenFile(const std::string& path, const struct stat& file) {
    const fileio::File fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.Valid() || ::fstat(fd.Native(), &st) != 0 || st.st_ino != file.st_ino ||
        st.st_dev != file.st_dev) {
        return false;
    }
    // Should someone open the file meanwhile, the lease break signals us:
    // SIGURG is ignored unless handled, the default SIGIO would end us.
    if (::fcntl(fd.Native(), F_SETSIG, SIGURG) != 0) return false;
    if (::fcntl(fd.Native(), F_SETLEASE, F_WRLCK) != 0) return false;
    ::fcntl(fd.Native(), F_SETLEASE, F_UNLCK);
    return true;
}

// A name for a temporary beside `target` ("<target><mark>XXXXXX", or
// "<folder>/<mark>XXXXXX" when the name would grow too long), for mkstemp's
// rule.
std::string TemporaryPattern(const std::string& target, std::string_view mark = ".~ue") {
    const std::string::size_type slash = target.rfind('/');
    const std::size_t nameLength = slash == std::string::npos ? target.size() : target.size() - slash - 1;
    if (nameLength + mark.size() + 6 <= NAME_MAX) return target + std::string(mark) + "XXXXXX";
    return fileio::ParentDirectory(target) + "/" + std::string(mark) + "XXXXXX";
}

// Opens a download for reading, never through a symbolic link: a download
// swapped for a link to a file we may read but its writer may not is never
// read. ELOOP for a link, EISDIR or EINVAL for what is no regular file.
std::error_code OpenDownload(const std::string& path, fileio::File& file, struct stat& st) {
    // O_NONBLOCK: a FIFO swapped in must not make us wait; it is refused below.
    file = fileio::File(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.Valid() || ::fstat(file.Native(), &st) != 0) return LastSystemError();
    if (!S_ISREG(st.st_mode)) return SystemError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    return {};
}

// What an installed file is given: the owner of the installation and no
// write access for others beyond what the installation grants (see
// CopyFileOver in FilePrimitives.h).
struct InstalledAccess {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

// `target` is the installed file's status when there is one, `folder` that of
// the folder it goes into.
InstalledAccess AccessOf(const struct stat& source, const struct stat* target,
                         const struct stat& folder) {
    constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
    InstalledAccess access;
    // The owner's bits, and read and execute for group and others, from the
    // download; write for the owner always, so that a read-only download
    // never makes an installed file that is hard to replace, as on Windows
    // no copy is read-only.
    access.mode = (source.st_mode & 0755) | S_IWUSR;
    if (target != nullptr) {
        // The installed file's own write bits for group and others.
        access.mode |= target->st_mode & kOthersWrite;
    } else if ((folder.st_mode & S_ISVTX) == 0) {
        // A new file: what both the download and the folder grant; nothing in
        // a sticky folder, whose write bits allow no one to replace our file.
        access.mode |= source.st_mode & folder.st_mode & kOthersWrite;
    }
    access.uid = target != nullptr ? target->st_uid : folder.st_uid;
    access.gid = target != nullptr ? target->st_gid : folder.st_gid;
    return access;
}

std::error_code InstalledAccessOf(const struct stat& source, const std::string& target,
                                  InstalledAccess& access) {
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        access = AccessOf(source, &st, st);
        return {};
    }
    if (::stat(fileio::ParentDirectory(target).c_str(), &st) != 0) return LastSystemError();
    access = AccessOf(source, nullptr, st);
    return {};
}

// The same for a target located beneath the installation: looked at through
// its folder's descriptor, never through a link.
std::error_code InstalledAccessOf(const struct stat& source, const fileio::Place& target,
                                  InstalledAccess& access) {
    struct stat folder;
    if (::fstat(target.Folder().Native(), &folder) != 0) return LastSystemError();
    struct stat st;
    const bool existing = ::fstatat(target.Folder().Native(), target.Name().c_str(), &st,
                                    AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    access = AccessOf(source, existing ? &st : nullptr, folder);
    return {};
}

// The last name of a path.
std::string LastName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Gives the new file `out` the content of `in` and the owner, permission bits
// and modified time of an installed file. Only root may give a file away: for
// anyone else the file stays theirs, with the installation's group when they
// are in it.
std::error_code FillInstalledCopy(const fileio::File& in, const fileio::File& out,
                                  const struct stat& source, const InstalledAccess& access,
                                  const fileio::ByteProgress& progress = {}) {
    if (auto ec = fileio::CopyAll(in, out, progress)) return ec;
    struct stat st;
    if (::fstat(out.Native(), &st) != 0) return LastSystemError();
    if ((st.st_uid != access.uid || st.st_gid != access.gid) &&
        ::fchown(out.Native(), access.uid, access.gid) != 0) {
        if (errno != EPERM) return LastSystemError();
        if (st.st_gid != access.gid && ::fchown(out.Native(), static_cast<uid_t>(-1), access.gid) != 0 &&
            errno != EPERM) {
            return LastSystemError();
        }
    }
    // After the owner: a change of owner may clear bits.
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    if (::fchmod(out.Native(), access.mode) != 0 || ::futimens(out.Native(), times) != 0) {
        return LastSystemError();
    }
    return {};
}

// The part of `path` below the directory `base` ("" for `base` itself); false
// when `path` does not start with `base`.
bool RelativeBelow(const std::string& base, const std::string& path, std::string& relative) {
    std::string_view dir(base);
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    if (dir.empty() || path.compare(0, dir.size(), dir) != 0) return false;
    if (path.size() == dir.size()) {
        relative.clear();
        return true;
    }
    if (dir != "/" && path[dir.size()] != '/') return false;
    relative = path.substr(dir.size());
    return true;
}

// The names of a relative path, in order; empty names and "." are dropped.
void PrependNames(std::string_view path, std::deque<std::string>& names) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(start, end - start);
        if (!name.empty() && name != ".") parts.emplace_back(name);
        start = end + 1;
    }
    names.insert(names.begin(), parts.begin(), parts.end());
}

// What is missing gets created as plain folders and files, so only a step to
// a parent could lead out of it.
std::error_code MissingPartStaysBeneath(const std::deque<std::string>& missing) {
    for (const std::string& name : missing) {
        if (name == "..") return SystemError(EXDEV);
    }
    return {};
}

constexpr int kMaxLinksFollowed = 40;  // the kernel's own limit

// Follows `names` from `baseFd` one name at a time, never letting the kernel
// follow a link: a link's text is put in place of its name, a ".." above the
// base or an absolute link to a place not beneath it gives EXDEV.
std::error_code WalkBeneath(int baseFd, const std::string& base, std::deque<std::string> names) {
    std::vector<fileio::File> dirs;  // opened below the base, deepest last
    auto current = [&] { return dirs.empty() ? baseFd : dirs.back().Native(); };
    std::string realBase;
    int links = 0;
    while (!names.empty()) {
        const std::string name = std::move(names.front());
        names.pop_front();
        if (name == "..") {
            if (dirs.empty()) return SystemError(EXDEV);
            dirs.pop_back();
            continue;
        }
        struct stat st;
        if (::fstatat(current(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) return MissingPartStaysBeneath(names);
            return SystemError(errno);
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinksFollowed) return SystemError(ELOOP);
            std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
            const ssize_t n = ::readlinkat(current(), name.c_str(), target.data(), target.size());
            if (n < 0) return SystemError(errno);
            if (static_cast<std::size_t>(n) >= target.size()) return SystemError(ENAMETOOLONG);
            target.resize(static_cast<std::size_t>(n));
            if (!target.empty() && target[0] == '/') {
                if (realBase.empty()) {
                    char* resolved = ::realpath(base.c_str(), nullptr);
                    if (resolved == nullptr) return SystemError(errno);
                    realBase = resolved;
                    std::free(resolved);
                }
                // The base as given and its real path name the same folder.
                std::string relative;
                if (!RelativeBelow(base, target, relative) && !RelativeBelow(realBase, target, relative)) {
                    return SystemError(EXDEV);
                }
                dirs.clear();
                target = relative;
            }
            if (target.empty()) return MissingPartStaysBeneath(names);  // resolves to nothing
            PrependNames(target, names);
            continue;
        }
        if (!S_ISDIR(st.st_mode)) return names.empty() ? std::error_code() : SystemError(ENOTDIR);
        fileio::File dir(::openat(current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!dir.Valid()) return SystemError(errno);
        dirs.push_back(std::move(dir));
    }
    return {};
}

// The deepest existing part of `relative`, resolved by the kernel beneath
// `baseFd`. Sets `undecided` when the walk must decide: the kernel has no
// openat2 (or a filter forbids it), or refused an absolute link or a loop that
// the walk judges by the link's text.
std::error_code KernelBeneath(int baseFd, std::string relative, bool& undecided) {
    // RESOLVE_BENEATH refuses every absolute path.
    relative.erase(0, relative.find_first_not_of('/'));
    for (;;) {
        while (!relative.empty() && relative.back() == '/') relative.pop_back();
        if (relative.find_first_not_of('/') == std::string::npos) return {};
        struct open_how how {};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, baseFd, relative.c_str(), &how, sizeof how);
        if (fd >= 0) {
            ::close(static_cast<int>(fd));
            return {};
        }
        const int code = errno;
        if (code == ENOENT) {
            const std::string::size_type slash = relative.rfind('/');
            const std::string_view last =
                std::string_view(relative).substr(slash == std::string::npos ? 0 : slash + 1);
            if (last == "..") return SystemError(EXDEV);
            relative.resize(slash == std::string::npos ? 0 : slash);
            continue;
        }
        if (code == EXDEV || code == ELOOP || code == ENOSYS || code == EPERM || code == EINVAL ||
            code == E2BIG || code == EAGAIN) {
            undecided = true;
            return {};
        }
        return SystemError(code);
    }
}

}  // namespace

namespace posix {

namespace {

// The processes that hold `file` open or mapped, in /proc order, at most
// `limit`. Our own process is passed over when `skipSelf`; otherwise only
// our own mapping of our own program file is.
std::vector<pid_t> ScanHolders(const struct stat& file, const std::string& canonicalPath,
                               std::size_t limit, bool skipSelf) {
    std::vector<pid_t> holders;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return holders;
    const int procFd = ::dirfd(proc);
    // Our own program file: a rename replaces a running program (it runs on
    // from the old file), so our own mapping of it holds nothing. Another
    // process running it, or a descriptor of ours, still does.
    struct stat self {};
    const bool ownProgram = ::stat("/proc/self/exe", &self) == 0 && self.st_ino == file.st_ino &&
                            self.st_dev == file.st_dev;
    const std::string ownPid = std::to_string(::getpid());
    std::vector<char> buffer(64 * 1024);
    while (holders.size() < limit) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr) break;
        if (!IsDecimal(entry->d_name)) continue;
        const bool own = ownPid == entry->d_name;
        if (own && skipSelf) continue;
        const bool mappingsCount = !ownProgram || !own;
        if (DescriptorsHold(procFd, entry->d_name, file) ||
            (mappingsCount && MappingsHold(procFd, entry->d_name, file, canonicalPath, buffer))) {
            holders.push_back(static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10)));
        }
    }
    ::closedir(proc);
    return holders;
}

std::string CanonicalPath(const std::string& path) {
    std::string canonical;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        canonical = resolved;
        std::free(resolved);
    }
    return canonical;
}

}  // namespace

bool IsHeldOpenByAnyProcess(const struct stat& file, const std::string& canonicalPath) {
    return !ScanHolders(file, canonicalPath, 1, false).empty();
}

std::vector<pid_t> ProcessesHoldingFile(const std::string& path, std::size_t limit) {
    struct stat st;
    if (limit == 0 || !StatRegularFile(path, st)) return {};
    return ScanHolders(st, CanonicalPath(path), limit, true);
}

int FileReplaceBlocker(const std::string& path) {
    struct stat st;
    if (!StatRegularFile(path, st)) return 0;
    // The replacement is a rename in the directory: the file's own write
    // permission is no matter (EACCES, whatever its bits say), only what
    // refuses every writer, root included: an immutable file (EPERM), a
    // read-only file system (EROFS).
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != EACCES) {
        return errno != 0 ? errno : EPERM;
    }
    const std::string folder = fileio::ParentDirectory(path);
    struct stat dir;
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return errno != 0 ? errno : EACCES;
    }
    if (::stat(folder.c_str(), &dir) != 0) return errno != 0 ? errno : EACCES;
    // Refused to the rename, and not seen by faccessat: an append-only file
    // or folder, and in a sticky folder a file of someone else's (root
    // stands for the capability that overrides it).
    if (HasAttribute(path, STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE) ||
        HasAttribute(folder, STATX_ATTR_APPEND)) {
        return EPERM;
    }
    const uid_t self = ::geteuid();
    if ((dir.st_mode & S_ISVTX) != 0 && self != 0 && self != st.st_uid && self != dir.st_uid) return EPERM;
    if (NoOtherOpenFile(path, st)) return 0;
    return IsHeldOpenByAnyProcess(st, CanonicalPath(path)) ? EBUSY : 0;
}

std::error_code CheckBeneath(const std::string& base, const std::string& path,
                             BeneathResolver resolver) {
    try {
        std::string relative;
        if (!RelativeBelow(base, path, relative)) return SystemError(EXDEV);
        const fileio::File baseFd(::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!baseFd.Valid()) return SystemError(errno);
        if (resolver != BeneathResolver::Walk) {
            bool undecided = false;
            const std::error_code ec = KernelBeneath(baseFd.Native(), relative, undecided);
            if (!undecided) return ec;
            if (resolver == BeneathResolver::KernelAlone) return SystemError(EOPNOTSUPP);
        }
        std::deque<std::string> names;
        PrependNames(relative, names);
        return WalkBeneath(baseFd.Native(), base, std::move(names));
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

}  // namespace posix

std::error_code CheckBeneath(const std::string& base, const std::string& path) {
    return posix::CheckBeneath(base, path, posix::BeneathResolver::Kernel);
}

std::error_code CheckDownloadedFile(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return SystemError(errno);
    if (S_ISLNK(st.st_mode)) return SystemError(ELOOP);
    return S_ISREG(st.st_mode) ? std::error_code() : SystemError(EINVAL);
}

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

std::error_code ReplaceBlocker(const std::string& path) {
    try {
        const int blocker = posix::FileReplaceBlocker(path);
        return blocker != 0 ? SystemError(blocker) : std::error_code();
    } catch (...) {
        return {};
    }
}

std::error_code CopyFileOver(const std::string& source, const std::string& target,
                             const std::string& temporary, const fileio::Root* root,
                             const fileio::ByteProgress& progress) {
    try {
        if (target.empty()) return SystemError(ENOENT);
        // Beneath the installation, resolved now: whatever was swapped for a
        // link since the caller looked leads nowhere outside.
        fileio::Place from, to;
        if (root != nullptr) {
            if (auto ec = root->Locate(source, from)) return ec;
            if (auto ec = root->Locate(target, to)) return ec;
        }
        struct stat sourceStat;
        const int sourceAt = root != nullptr ? from.Folder().Native() : AT_FDCWD;
        const std::string sourceName = root != nullptr ? from.Name() : source;
        if (::fstatat(sourceAt, sourceName.c_str(), &sourceStat, AT_SYMLINK_NOFOLLOW) != 0) {
            return LastSystemError();
        }
        if (S_ISLNK(sourceStat.st_mode)) return SystemError(ELOOP);
        if (!S_ISREG(sourceStat.st_mode)) return SystemError(S_ISDIR(sourceStat.st_mode) ? EISDIR : EINVAL);
        struct stat targetStat;
        if (::stat(target.c_str(), &targetStat) == 0 && !S_ISREG(targetStat.st_mode)) {
            return SystemError(S_ISDIR(targetStat.st_mode) ? EISDIR : EINVAL);
        }
        // Before the source is opened: it may be the target's own file.
        if (const int blocker = posix::FileReplaceBlocker(target)) return SystemError(blocker);

        fileio::File in;
        InstalledAccess access;
        const std::string pattern = temporary.empty() ? TemporaryPattern(target) : temporary;
        const auto fill = [&](const fileio::File& out) {
            return FillInstalledCopy(in, out, sourceStat, access, progress);
        };
        if (root == nullptr) {
            if (auto ec = OpenDownload(source, in, sourceStat)) return ec;
            if (auto ec = InstalledAccessOf(sourceStat, target, access)) return ec;
            return fileio::ReplaceAtomically(target, pattern, fill);
        }
        if (auto ec = from.OpenForReading(in)) return ec;
        if (::fstat(in.Native(), &sourceStat) != 0) return LastSystemError();
        if (auto ec = InstalledAccessOf(sourceStat, to, access)) return ec;
        return to.Replace(LastName(pattern), fill);
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

std::error_code CopyToTemporaryBeside(const std::string& source, const std::string& target,
                                      std::string& temporary, const fileio::Root* root) {
    temporary.clear();
    try {
        fileio::Place from, to;
        if (root != nullptr) {
            if (auto ec = root->Locate(source, from)) return ec;
            if (auto ec = root->Locate(target, to)) return ec;
        }
        fileio::File in;
        struct stat sourceStat;
        InstalledAccess access;
        if (root == nullptr) {
            if (auto ec = OpenDownload(source, in, sourceStat)) return ec;
            if (auto ec = InstalledAccessOf(sourceStat, target, access)) return ec;
        } else {
            if (auto ec = from.OpenForReading(in)) return ec;
            if (::fstat(in.Native(), &sourceStat) != 0) return LastSystemError();
            if (auto ec = InstalledAccessOf(sourceStat, to, access)) return ec;
        }
        // Created exclusively (0600 until filled), never through a link; in
        // the located folder when there is one.
        const std::string folder = fileio::ParentDirectory(target);
        const int at = root != nullptr ? to.Folder().Native() : AT_FDCWD;
        const std::string pattern = TemporaryPattern(target, kRestartTemporaryMark);
        std::string name;
        fileio::File out;
        for (int attempt = 0; attempt < 100 && !out.Valid(); ++attempt) {
            name = root != nullptr ? LastName(pattern) : pattern;
            fileio::FillTemplate(name);
            out = fileio::File(::openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (!out.Valid() && errno != EEXIST) return LastSystemError();
        }
        if (!out.Valid()) return SystemError(EEXIST);
        std::error_code ec = FillInstalledCopy(in, out, sourceStat, access);
        if (!ec && ::fsync(out.Native()) != 0) ec = LastSystemError();
        const std::error_code closed = out.Close();
        if (!ec) ec = closed;
        // Its name must outlast a crash before the restart; a file system
        // that cannot sync a folder is no reason to fail, an I/O error is.
        if (!ec) {
            const int synced = root != nullptr ? ::fsync(at) : 0;
            if ((synced != 0 && errno == EIO) ||
                (root == nullptr && fileio::SyncDirectoryOf(name) == std::errc::io_error)) {
                ec = SystemError(EIO);
            }
        }
        if (ec) {
            ::unlinkat(at, name.c_str(), 0);
            return ec;
        }
        temporary = root != nullptr ? folder + "/" + name : std::move(name);
        return {};
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

std::error_code CreateDirectories(const std::string& path) {
    if (path.empty()) return SystemError(ENOENT);
    struct stat st;
    for (std::string::size_type pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && prefix.back() != '/' && ::mkdir(prefix.c_str(), 0777) != 0) {
            if (errno != EEXIST) return LastSystemError();
            if (::stat(prefix.c_str(), &st) != 0) return LastSystemError();
            if (!S_ISDIR(st.st_mode)) return SystemError(ENOTDIR);
        }
        if (pos == std::string::npos) break;
    }
    if (::stat(path.c_str(), &st) != 0) return LastSystemError();
    return S_ISDIR(st.st_mode) ? std::error_code() : SystemError(ENOTDIR);
}

}  // namespace ue
