// Update.ini on Linux: our own reader and writer (records/IniFormat.h), text
// in UTF-8. A write replaces the file atomically: the new bytes go to a
// temporary file beside it, are synced, and are renamed over it, so a crash
// leaves the old file or the new one, never a mix.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "records/IniFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace ue {
namespace {

constexpr ini::Encoding kEncoding = ini::Encoding::Utf8;

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& bytes, struct stat& st) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result = ReadResult::Failed;
    } else {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result = ReadResult::Failed;
                break;
            }
            if (n == 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return result;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Replaces `target` with `bytes` through a synced temporary file beside it.
// An existing file's mode and owner are carried over; a new file gets 0666
// less the umask, as any new file.
bool ReplaceFile(const std::string& target, const std::string& bytes, const struct stat* old) {
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = true;
    if (old) {
        ok = ::fchmod(fd, old->st_mode & 07777) == 0;
        // Best effort: only root may give the file away, and only root needs to.
        if (ok && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()))
            (void)!::fchown(fd, old->st_uid, old->st_gid);
    }
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; some file systems cannot sync a
    // directory, which is no reason to report the write as failed.
    int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

// Every write is synced before it returns; nothing is left to flush.
SettingsFile::~SettingsFile() = default;

std::string SettingsFile::ReadSetting(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    std::string bytes;
    struct stat st {};
    if (ReadWholeFile(path_, bytes, st) != ReadResult::Ok) bytes.clear();
    return ini::ReadValue(bytes, section, key, defaultValue, kEncoding);
}

void SettingsFile::WriteSetting(std::string_view section, std::string_view key,
                                std::string_view value) {
    ini::CheckWriteArguments(section, key, value, kEncoding);
    auto unable = [&] { return Error("Unable to write to " + path_); };

    // Through a symbolic link, replace the file it names, not the link.
    std::string target = path_;
    struct stat link {};
    if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = ::realpath(path_.c_str(), nullptr);
        if (!resolved) throw unable();
        target = resolved;
        std::free(resolved);
    }

    std::string old;
    struct stat st {};
    ReadResult read = ReadWholeFile(target, old, st);
    if (read == ReadResult::Failed) throw unable();
    bool exists = read == ReadResult::Ok;
    std::string bytes = ini::WriteValue(old, section, key, value, kEncoding);
    if (exists && bytes == old) return;  // already there: nothing to write
    // No write bit is the read-only attribute: honoured even where the
    // process could write anyway (root).
    if (exists && (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0))
        throw unable();
    if (!ReplaceFile(target, bytes, exists ? &st : nullptr)) throw unable();
}

}  // namespace ue
