// The pending-rename list on Linux: a file with the registry value's bytes.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "sysops/PendingRenames.h"
#include "sysops/PendingRenames_posix.h"

namespace ue {

namespace {

const char kRootListPath[] = "/var/lib/updateexe/PendingFileRenameOperations";
const char kListName[] = "PendingFileRenameOperations";

std::atomic<long long> lockWaitMs{kPendingRenamesLockWait.count()};

// $HOME, else the passwd entry's home folder.
std::string HomeFolder() {
    if (const char* env = std::getenv("HOME"); env && env[0] == '/') return env;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return "/nonexistent";  // passwd's own name for "no home": creation fails there
}

// $XDG_STATE_HOME, or its default under the user's home folder.
std::string UserStateHome() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return state;  // a relative one is to be ignored
    return HomeFolder() + "/.local/state";
}

// The first word of the unit's ExecStart= (its program), without systemd's
// prefixes (-, @, :, +, !); "" when there is none.
std::string ExecStartProgram(const std::string& unit) {
    std::size_t at = 0;
    std::string program;
    while (at < unit.size()) {
        std::size_t end = unit.find('\n', at);
        if (end == std::string::npos) end = unit.size();
        std::string line = unit.substr(at, end - at);
        at = end + 1;
        if (line.rfind("ExecStart=", 0) != 0) continue;
        line = line.substr(10);
        const std::size_t start = line.find_first_not_of("-@:+! \t");
        if (start == std::string::npos) continue;
        program = line.substr(start, line.find_first_of(" \t\r", start) - start);
    }
    return program;
}

class Category : public std::error_category {
public:
    const char* name() const noexcept override { return "pending-renames"; }
    std::string message(int value) const override {
        switch (static_cast<PendingRenamesError>(value)) {
            case PendingRenamesError::LockBusy:
                return "the pending-rename list stayed locked by another process";
            case PendingRenamesError::FolderUnsafe:
                return "the pending-rename list's folder belongs to another user or others may "
                       "write it";
            case PendingRenamesError::LockUnsafe:
                return "the pending-rename lock is not a regular file of ours that only we may "
                       "write";
            case PendingRenamesError::ListUnsafe:
                return "the pending-rename list is not a regular file of ours that only we may "
                       "write";
        }
        return "unknown pending-rename error";
    }
};

}  // namespace

const std::error_category& PendingRenamesCategory() {
    static const Category category;
    return category;
}

std::error_code make_error_code(PendingRenamesError e) {
    return std::error_code(static_cast<int>(e), PendingRenamesCategory());
}

std::string Untrusted(const struct stat& st, uid_t uid) {
    const bool ownerOk = st.st_uid == uid || (S_ISDIR(st.st_mode) && st.st_uid == 0);
    if (!ownerOk) {
        return "owned by user " + std::to_string(st.st_uid) + ", not by user " +
               std::to_string(uid);
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "its group or other users may write it";
    return "";
}

std::string PendingRenamesFilePath() {
    const char* env = std::getenv("UPDATEEXE_PENDING_RENAMES_FILE");
    if (env && *env) return env;
    if (::geteuid() == 0) return kRootListPath;
    return UserStateHome() + "/updateexe/" + kListName;
}

std::chrono::milliseconds SetPendingRenamesLockWait(std::chrono::milliseconds wait) {
    return std::chrono::milliseconds(lockWaitMs.exchange(wait.count()));
}

PendingRenamesLock::PendingRenamesLock(const std::string& listPath) {
    const uid_t uid = ::geteuid();
    const std::string folder = fileio::ParentDirectory(listPath);
    const std::string lockName = listPath.substr(listPath.find_last_of('/') + 1) + ".lock";
    // The lock is opened from a descriptor of the folder we checked, so a
    // folder swapped in between cannot slip another lock under us.
    const fileio::File dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!dir.Valid() || ::fstat(dir.Native(), &st) != 0) {
        error_ = LastSystemError();
        return;
    }
    if (!Untrusted(st, uid).empty()) {
        error_ = PendingRenamesError::FolderUnsafe;
        return;
    }
    // Never read-only, and never through a link: a reader can flock too.
    file_ = fileio::File(
        ::openat(dir.Native(), lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file_.Valid()) {
        error_ = LastSystemError();
        return;
    }
    if (::fstat(file_.Native(), &st) != 0) {
        error_ = LastSystemError();
    } else if (!S_ISREG(st.st_mode) || !Untrusted(st, uid).empty()) {
        error_ = PendingRenamesError::LockUnsafe;
    } else if ((st.st_mode & 077) != 0 && ::fchmod(file_.Native(), 0600) != 0) {
        error_ = LastSystemError();  // a lock of earlier versions was 0644
    }
    if (error_) {
        file_.Close();
        return;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(lockWaitMs.load());
    auto pause = std::chrono::milliseconds(1);
    while (::flock(file_.Native(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            error_ = LastSystemError();
        } else if (std::chrono::steady_clock::now() >= deadline) {
            error_ = PendingRenamesError::LockBusy;
        }
        if (error_) {
            file_.Close();
            return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

std::error_code CreatePendingRenamesFolder(const std::string& listPath) {
    const std::string folder = fileio::ParentDirectory(listPath);
    const mode_t mode = ::geteuid() == 0 ? 0755 : 0700;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        for (std::size_t pos = 1;; ++pos) {
            pos = folder.find('/', pos);
            const std::string part = folder.substr(0, pos);
            if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return LastSystemError();
            if (pos == std::string::npos) break;
        }
        if (::stat(folder.c_str(), &st) != 0) return LastSystemError();
    }
    return S_ISDIR(st.st_mode) ? std::error_code() : std::make_error_code(std::errc::not_a_directory);
}

std::error_code CheckPendingRenamesFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? std::error_code() : LastSystemError();
    }
    if (S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && !Untrusted(st, ::geteuid()).empty()))
        return PendingRenamesError::ListUnsafe;
    return {};
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
    mode_t mode = ::geteuid() == 0 ? 0644 : 0600;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    const std::error_code ec =
        fileio::ReplaceAtomically(path, path + ".XXXXXX", [&](const fileio::File& file) {
            if (auto written = fileio::WriteAll(file, bytes)) return written;
            if (::fchmod(file.Native(), mode) != 0) return LastSystemError();
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

// Every failure comes back as an error: the caller records the file as
// queued only on success, which is returned once the list is on the disk.
std::error_code QueueFileReplacement(const std::string& source, const std::string& target) {
    const std::string path = PendingRenamesFilePath();
    std::error_code ec = CreatePendingRenamesFolder(path);
    if (ec) return ec;  // like a registry key we may not open
    // Unlocked, another writer or the renamer could drop our pair unseen.
    PendingRenamesLock lock(path);
    if (!lock.held()) return lock.error();
    // A list the renamer would refuse: our pair would never be carried out.
    if ((ec = CheckPendingRenamesFile(path))) return ec;
    std::optional<std::string> present = ReadPendingRenamesFile(path);
    // Never overwrite pairs we could not read.
    if (!present) return LastSystemError();
    std::string bytes;
    try {
        bytes = AppendPendingRename(*present, source, target);
    } catch (const Error&) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (!WritePendingRenamesFile(path, bytes)) return LastSystemError();
    // The rename of the new list is durable only once its folder is synced;
    // WritePendingRenamesFile tries that but does not count a failure. Only an
    // I/O error says the rename may be lost; a file system that cannot sync a
    // folder, or a folder we may not open for reading, is no reason to fail.
    ec = fileio::SyncDirectoryOf(path);
    if (ec == std::errc::io_error) return ec;
    return {};
}

std::string RenamerUnitWarning(const std::string& root, bool systemUnit,
                               const std::string& configHome) {
    // systemd's unit folders, first found first read (systemd.unit(5)), and
    // the target whose .wants/ holds the unit once enabled.
    const std::string unit =
        systemUnit ? "updateexe-boot-renames.service" : "updateexe-user-renames.service";
    const std::string wantedBy = systemUnit ? "sysinit.target" : "default.target";
    const std::vector<std::string> folders =
        systemUnit ? std::vector<std::string>{"/etc/systemd/system", "/run/systemd/system",
                                              "/usr/local/lib/systemd/system", "/usr/lib/systemd/system",
                                              "/lib/systemd/system"}
                   : std::vector<std::string>{configHome + "/systemd/user", "/etc/systemd/user",
                                              "/run/systemd/user", "/usr/local/lib/systemd/user",
                                              "/usr/lib/systemd/user"};
    const std::string enable = systemUnit ? "systemctl enable " + unit
                                          : "systemctl --global enable " + unit;
    std::string text;
    for (const std::string& folder : folders) {
        if (fileio::ReadAll(root + folder + "/" + unit, text)) continue;
        const std::string program = ExecStartProgram(text);
        if (program.empty() || program[0] != '/' ||
            ::access((root + program).c_str(), X_OK) != 0) {
            return Message(MessageId::RestartNotReplacedLead, {Message(MessageId::RenamerProgramMissing, {program, unit})});
        }
        for (const std::string& wants : folders) {
            fileio::Status status;
            if (!fileio::StatusOf(root + wants + "/" + wantedBy + ".wants/" + unit, status) &&
                status.kind != fileio::Kind::Missing) {
                return "";
            }
        }
        return Message(MessageId::RestartNotReplacedLead, {Message(MessageId::RenamerNotEnabled, {unit, enable})});
    }
    return Message(MessageId::RestartNotReplacedLead, {Message(MessageId::RenamerNotInstalled, {unit})});
}

std::string RestartReplacementWarning() {
    if (::geteuid() == 0) return RenamerUnitWarning("", true, "");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    return RenamerUnitWarning("", false,
                              config && config[0] == '/' ? config : HomeFolder() + "/.config");
}

}  // namespace ue
