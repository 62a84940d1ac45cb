// Update.ini on Linux: our own reader and writer (records/IniFormat.h), text
// in UTF-8. A write replaces the file atomically: the new bytes go to a
// temporary file beside it, are synced, and are renamed over it, so a crash
// leaves the old file or the new one, never a mix.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "core/FileIO.h"
#include "records/IniFormat.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace ue {
namespace {

constexpr ini::Encoding kEncoding = ini::Encoding::Utf8;

enum class ReadResult { Ok, Missing, Failed };

// The file's bytes and its status as they were read.
ReadResult ReadWholeFile(const std::string& path, std::string& bytes, struct stat& st) {
    const std::error_code ec = fileio::ReadAll(path, bytes);
    if (ec) return ec == std::errc::no_such_file_or_directory ? ReadResult::Missing : ReadResult::Failed;
    return ::stat(path.c_str(), &st) == 0 ? ReadResult::Ok : ReadResult::Failed;
}

// Replaces `target` with `bytes` through a synced temporary file beside it.
// An existing file's mode and owner are carried over; a new file gets 0666
// less the umask, as any new file.
bool ReplaceFile(const std::string& target, const std::string& bytes, const struct stat* old) {
    const fileio::ReplaceOptions options{fileio::Existing::Replace, fileio::NewFile::Default};
    auto write = [&](const fileio::File& file) {
        if (old) {
            if (::fchmod(file.Native(), old->st_mode & 07777) != 0)
                return std::error_code(errno, std::system_category());
            // Best effort: only root may give the file away, and only root needs to.
            if (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
                (void)!::fchown(file.Native(), old->st_uid, old->st_gid);
        }
        return fileio::WriteAll(file, bytes);
    };
    return !fileio::ReplaceAtomically(target, target + ".tmpXXXXXX", write, options);
}

std::string SystemText(int code) { return std::system_category().message(code); }

// Why WriteSetting could not write `path` now; empty when it could. It reads
// and may write the file (the read-only attribute honoured even for root),
// then creates a temporary file in its folder and renames it over the file.
std::string WhyNotWritable(const std::string& path) {
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved) return "its link cannot be followed (" + SystemText(errno) + ")";
        target = resolved;
        std::free(resolved);
    }
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "it is a directory";
        if (!S_ISREG(st.st_mode)) return "it is not a regular file";
        if ((st.st_mode & 0222) == 0) return "the file is read-only";
        if (::access(target.c_str(), R_OK | W_OK) != 0)
            return "UpdateExe may not read and write it (" + SystemText(errno) + ")";
    } else if (errno != ENOENT) {
        return SystemText(errno);
    }
    const std::string folder = fileio::ParentDirectory(target);
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return "its folder \"" + folder + "\" does not exist";
        return "its folder \"" + folder + "\" cannot be reached (" + SystemText(errno) + ")";
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "its folder \"" + folder + "\" cannot be written (" + SystemText(errno) + ")";
    return {};
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

void SettingsFile::CheckWritable() const {
    if (const std::string why = WhyNotWritable(path_); !why.empty())
        throw Error("Unable to write to " + path_ + ": " + why);
}

}  // namespace ue
