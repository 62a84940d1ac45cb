// The installation root on Linux: a descriptor, and each path's folder opened
// beneath it by the kernel (openat2) or, where the kernel cannot decide (no
// openat2, an absolute link that names the root itself), by a walk that opens
// one name at a time without following links and reads each link itself.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <vector>

#include "core/Errors.h"
#include "core/Root.h"

namespace ue::fileio {
namespace {

std::error_code Errno() { return LastSystemError(); }
std::error_code Errno(int code) { return SystemError(code); }

constexpr int kMaxLinksFollowed = 40;  // the kernel's own limit

// The names of `path` in order, empty names and "." dropped.
std::deque<std::string> NamesOf(std::string_view path) {
    std::deque<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(start, end - start);
        if (!name.empty() && name != ".") names.emplace_back(name);
        start = end + 1;
    }
    return names;
}

// The part of `path` below the folder `dir` (given with or without its
// trailing separator); false when `path` does not lie below it by its text.
bool Below(std::string_view dir, std::string_view path, std::string_view& rest) {
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    if (dir.empty() || path.substr(0, dir.size()) != dir) return false;
    rest = path.substr(dir.size());
    return dir == "/" || rest.empty() || rest.front() == '/';
}

// A folder's descriptor that can be synced and read; an O_PATH one where we
// may not read the folder (a rename in it still works).
std::error_code Reopen(int pathFd, File& folder) {
    File readable(::openat(pathFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.Valid()) {
        folder = std::move(readable);
        return {};
    }
    if (errno != EACCES) return Errno();
    folder = File(::fcntl(pathFd, F_DUPFD_CLOEXEC, 0));
    return folder.Valid() ? std::error_code() : Errno();
}

}  // namespace

std::error_code Root::Open(const std::string& dir, Root& root) {
    root = Root();
    root.folder_ = File(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.folder_.Valid()) return Errno();
    root.path_ = dir.empty() || dir.back() != '/' ? dir + '/' : dir;
    if (char* real = ::realpath(dir.c_str(), nullptr)) {
        root.realPath_ = real;
        std::free(real);
    }
    return {};
}

std::error_code Root::Locate(const std::string& path, Place& place) const {
    const std::error_code outside = Errno(EXDEV);
    std::string_view relative;
    if (!Valid() || !Below(path_, path, relative)) return outside;
    std::deque<std::string> names = NamesOf(relative);
    if (names.empty() || names.back() == "..") return outside;
    place = Place();
    place.name_ = names.back();
    place.path_ = path;
    names.pop_back();
    File folder;
    if (auto ec = OpenBeneath(std::move(names), folder)) return ec;
    return Reopen(folder.Native(), place.folder_);
}

std::error_code Root::CreateFolders(const std::string& path) const {
    std::string_view relative;
    if (!Valid() || !Below(path_, path, relative)) return Errno(EXDEV);
    const std::deque<std::string> names = NamesOf(relative);
    File folder;
    const std::error_code found = OpenBeneath(names, folder);
    if (found != std::errc::no_such_file_or_directory) return found;
    // One name at a time, each made in its folder as opened just now: a
    // folder swapped meanwhile takes the new one with it, never outside.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (auto ec = OpenBeneath({names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i)}, folder)) {
            return ec;
        }
        if (::mkdirat(folder.Native(), names[i].c_str(), 0777) != 0 && errno != EEXIST) return Errno();
    }
    // What was there already (a file, a link) is judged as the path it is.
    return OpenBeneath(names, folder);
}

// The folder that `names` lead to from the root, as an O_PATH descriptor.
std::error_code Root::OpenBeneath(std::deque<std::string> names, File& folder) const {
    const std::error_code outside = Errno(EXDEV);
    if (names.empty()) {
        folder = File(::fcntl(folder_.Native(), F_DUPFD_CLOEXEC, 0));
        return folder.Valid() ? std::error_code() : Errno();
    }
    std::string folders;
    for (const std::string& name : names) folders += (folders.empty() ? "" : "/") + name;
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    folder = File(static_cast<int>(
        ::syscall(SYS_openat2, folder_.Native(), folders.c_str(), &how, sizeof how)));
    if (folder.Valid()) return {};
    // The walk decides what the kernel refused as a whole: it may be an
    // absolute link that names the root, which the kernel never follows.
    const int refused = errno;
    if (refused != EXDEV && refused != ELOOP && refused != ENOSYS && refused != EPERM &&
        refused != EINVAL && refused != E2BIG && refused != EAGAIN) {
        return Errno(refused);
    }

    std::vector<File> opened;  // below the root, deepest last
    auto current = [&] { return opened.empty() ? folder_.Native() : opened.back().Native(); };
    int links = 0;
    while (!names.empty()) {
        const std::string name = std::move(names.front());
        names.pop_front();
        if (name == "..") {
            if (opened.empty()) return outside;
            opened.pop_back();
            continue;
        }
        File next(::openat(current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.Valid()) {
            opened.push_back(std::move(next));
            continue;
        }
        const int code = errno;
        struct stat st {};
        if (code != ENOTDIR || ::fstatat(current(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode)) {
            return Errno(code);
        }
        if (++links > kMaxLinksFollowed) return Errno(ELOOP);
        std::string text(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(current(), name.c_str(), text.data(), text.size());
        if (n < 0) return Errno();
        text.resize(static_cast<std::size_t>(n));
        if (!text.empty() && text.front() == '/') {
            // Only a link made with the root's own path, as given or real.
            std::string_view rest;
            if (!Below(path_, text, rest) && (realPath_.empty() || !Below(realPath_, text, rest))) {
                return outside;
            }
            opened.clear();
            text = std::string(rest);
        }
        std::deque<std::string> more = NamesOf(text);
        names.insert(names.begin(), more.begin(), more.end());
    }
    folder = File(::fcntl(current(), F_DUPFD_CLOEXEC, 0));
    return folder.Valid() ? std::error_code() : Errno();
}

std::error_code Place::StatusOf(Status& status) const {
    status = {};
    struct stat st {};
    if (::fstatat(folder_.Native(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::error_code() : Errno();
    }
    if (S_ISREG(st.st_mode)) {
        status.kind = Kind::Regular;
        status.size = static_cast<std::uint64_t>(st.st_size);
    } else {
        status.kind = S_ISDIR(st.st_mode) ? Kind::Directory
                      : S_ISLNK(st.st_mode) ? Kind::Link
                                            : Kind::Other;
    }
    return {};
}

std::error_code Place::OpenForReading(File& file) const {
    // O_NONBLOCK: a FIFO must not wait for a writer; it is refused below.
    file = File(::openat(folder_.Native(), name_.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.Valid()) return Errno();
    struct stat st {};
    std::error_code ec;
    if (::fstat(file.Native(), &st) != 0) {
        ec = Errno();
    } else if (!S_ISREG(st.st_mode)) {
        ec = Errno(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    } else if (::fcntl(file.Native(), F_SETFL, 0) != 0) {
        ec = Errno();
    }
    if (ec) file.Close();
    return ec;
}

std::error_code Place::Replace(const std::string& temporary, const ContentWriter& write,
                               const ReplaceOptions& options) const {
    const int dir = folder_.Native();
    const mode_t mode = options.access == NewFile::Private ? 0600 : 0666;
    const bool pattern = temporary.size() >= 6 && temporary.ends_with("XXXXXX");
    std::string name = temporary;
    File file;
    for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
        if (pattern) FillTemplate(name);
        // O_EXCL also refuses a link planted under the name.
        file = File(::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!file.Valid() && (errno != EEXIST || !pattern)) return Errno();
    }
    if (!file.Valid()) return Errno(EEXIST);
    std::error_code ec;
    try {
        ec = write(file);
    } catch (...) {
        file.Close();
        ::unlinkat(dir, name.c_str(), 0);
        throw;
    }
    if (!ec && ::fsync(file.Native()) != 0) ec = Errno();
    const std::error_code closed = file.Close();
    if (!ec) ec = closed;
    if (!ec) {
        const bool keep = options.existing == Existing::Keep;
        int rc = ::renameat2(dir, name.c_str(), dir, name_.c_str(), keep ? RENAME_NOREPLACE : 0);
        if (rc != 0 && keep && (errno == EINVAL || errno == ENOSYS)) {
            // The file system cannot refuse atomically: look first.
            struct stat st {};
            if (::fstatat(dir, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                errno = EEXIST;
            } else {
                rc = ::renameat(dir, name.c_str(), dir, name_.c_str());
            }
        }
        if (rc != 0) ec = Errno();
    }
    if (ec) {
        ::unlinkat(dir, name.c_str(), 0);
        return ec;
    }
    // Done once renamed; a folder that cannot be synced (O_PATH) does not undo it.
    (void)::fsync(dir);
    return {};
}

std::error_code Place::Link(const std::string& name) const {
    // Without AT_SYMLINK_FOLLOW: a link is given a second name, not followed.
    if (::linkat(folder_.Native(), name_.c_str(), folder_.Native(), name.c_str(), 0) != 0) return Errno();
    // Durable with the folder; one that cannot be synced (O_PATH) is no failure, an I/O error is.
    if (::fsync(folder_.Native()) != 0 && errno == EIO) return Errno();
    return {};
}

std::error_code Place::Remove() const {
    if (::unlinkat(folder_.Native(), name_.c_str(), 0) == 0 || errno == ENOENT) return {};
    return Errno();
}

}  // namespace ue::fileio
