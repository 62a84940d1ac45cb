// Update.ini on Linux: our own reader and writer (records/IniFormat.h), text
// in UTF-8. A write replaces the file atomically: the new bytes go to a
// temporary file beside it, are synced, and are renamed over it, so a crash
// leaves the old file or the new one, never a mix.
//
// Update.ini may be a symbolic link to a file beneath its folder (the
// installation); the write then replaces that file. Where the link leads is
// decided when the file is written, not before: a link that leads outside
// the folder is refused, so a link swapped in while the run waits for the
// user never has the updater write a file elsewhere.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/MessageTable.h"
#include "records/IniFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace ue {
namespace {

constexpr ini::Encoding kEncoding = ini::Encoding::Utf8;

// "Unable to write to <path>: <why>"; an OSError when a system code says why.
[[noreturn]] void Unable(const std::string& path, const std::string& why, int code = 0) {
    const std::string message = "Unable to write to " + path + ": " + why;
    if (code != 0) throw OSError(message, static_cast<std::uint32_t>(code));
    throw Error(message);
}
[[noreturn]] void Unable(const std::string& path, const std::error_code& ec) {
    Unable(path, SystemReason(ec), ec.value());
}

std::string Resolved(const std::string& path, std::error_code& ec) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        ec = LastSystemError();
        return {};
    }
    std::string result = resolved;
    std::free(resolved);
    return result;
}

bool IsBeneath(const std::string& path, const std::string& folder) {
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    return folder.back() == '/' || path[folder.size()] == '/';
}

// The file a write replaces: `path` itself, or the file its symbolic link
// leads to when that lies beneath `path`'s folder. `why` (with the system's
// code, when there is one) says why there is none.
struct WriteTarget {
    std::string path;
    std::string why;
    int code = 0;
};

WriteTarget TargetOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {path, {}, 0};
    std::error_code ec;
    const std::string target = Resolved(path, ec);
    if (ec) return {{}, Message(MessageId::IniLinkNotFollowed, {SystemReason(ec)}), ec.value()};
    const std::string folder = fileio::ParentDirectory(path);
    const std::string realFolder = Resolved(folder, ec);
    if (ec) return {{}, Message(MessageId::IniFolderUnreachable, {folder, SystemReason(ec)}), ec.value()};
    if (!IsBeneath(target, realFolder)) {
        return {{}, Message(MessageId::IniLinkOutside, {folder, target}), EXDEV};
    }
    return {target, {}, 0};
}

// The old file, read through a descriptor that also gives its status, so
// both are of one file; a link that took the checked name's place since is
// not followed.
enum class ReadResult { Ok, Missing };

ReadResult ReadOld(const std::string& shown, const std::string& target, std::string& bytes, struct stat& st) {
    bytes.clear();
    fileio::File file(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!file.Valid()) {
        if (errno == ENOENT) return ReadResult::Missing;
        Unable(shown, LastSystemError());
    }
    if (::fstat(file.Native(), &st) != 0) Unable(shown, LastSystemError());
    if (S_ISDIR(st.st_mode)) Unable(shown, SystemError(EISDIR));
    if (!S_ISREG(st.st_mode)) Unable(shown, Message(MessageId::IniNotRegular));
    if (const std::error_code ec = fileio::ReadAll(file, bytes)) Unable(shown, ec);
    return ReadResult::Ok;
}

// Replaces `target` with `bytes` through a synced temporary file beside it.
// An existing file's mode and owner are carried over; a new file gets 0666
// less the umask, as any new file.
std::error_code ReplaceFile(const std::string& target, const std::string& bytes, const struct stat* old) {
    const fileio::ReplaceOptions options{fileio::Existing::Replace, fileio::NewFile::Default};
    auto write = [&](const fileio::File& file) {
        if (old) {
            if (::fchmod(file.Native(), old->st_mode & 07777) != 0) return LastSystemError();
            // Best effort: only root may give the file away, and only root needs to.
            if (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
                (void)!::fchown(file.Native(), old->st_uid, old->st_gid);
        }
        return fileio::WriteAll(file, bytes);
    };
    return fileio::ReplaceAtomically(target, target + ".tmpXXXXXX", write, options);
}

}  // namespace

// Why WriteSetting could not write `path` now; empty when it could. It reads
// and may write the file (the read-only attribute honoured even for root),
// then creates a temporary file in its folder and renames it over the file.
std::string SettingsFile::WhyNotWritable(const std::string& path) {
    const WriteTarget target = TargetOf(path);
    if (!target.why.empty()) return target.why;
    struct stat st {};
    if (::stat(target.path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Message(MessageId::IniIsDirectory);
        if (!S_ISREG(st.st_mode)) return Message(MessageId::IniNotRegular);
        if ((st.st_mode & 0222) == 0) return Message(MessageId::IniReadOnly);
        if (::access(target.path.c_str(), R_OK | W_OK) != 0)
            return "UpdateExe may not read and write it (" + SystemReason(LastSystemError()) + ")";
    } else if (errno != ENOENT) {
        return SystemReason(LastSystemError());
    }
    const std::string folder = fileio::ParentDirectory(target.path);
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return Message(MessageId::IniFolderMissing, {folder});
        return Message(MessageId::IniFolderUnreachable, {folder, SystemReason(LastSystemError())});
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return Message(MessageId::IniFolderNotWritable, {folder, SystemReason(LastSystemError())});
    return {};
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

// Every write is synced before it returns; nothing is left to flush.
SettingsFile::~SettingsFile() = default;

std::string SettingsFile::ReadSetting(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    std::string bytes;
    if (fileio::ReadAll(path_, bytes)) bytes.clear();
    return ini::ReadValue(bytes, section, key, defaultValue, kEncoding);
}

void SettingsFile::WriteSetting(std::string_view section, std::string_view key,
                                std::string_view value) {
    ini::CheckWriteArguments(section, key, value, kEncoding);
    const WriteTarget target = TargetOf(path_);
    if (!target.why.empty()) Unable(path_, target.why, target.code);

    std::string old;
    struct stat st {};
    const bool exists = ReadOld(path_, target.path, old, st) == ReadResult::Ok;
    const std::string bytes = ini::WriteValue(old, section, key, value, kEncoding);
    if (exists && bytes == old) return;  // already there: nothing to write
    // No write bit is the read-only attribute: honoured even where the
    // process could write anyway (root).
    if (exists && (st.st_mode & 0222) == 0) Unable(path_, Message(MessageId::IniReadOnly), EACCES);
    if (exists && ::access(target.path.c_str(), W_OK) != 0) Unable(path_, LastSystemError());
    if (const std::error_code ec = ReplaceFile(target.path, bytes, exists ? &st : nullptr)) Unable(path_, ec);
}

}  // namespace ue
