// updateexe-boot-renames [LIST-FILE]
//
// Carries out the pending-rename list early at boot, before the suite's
// programs can hold their files open, as Windows' start-up renamer does:
// - "\??\" is stripped from source and target;
// - a target with a leading "!" replaces an existing file; without it an
//   existing target is kept and the entry reported;
// - an empty target deletes the source (a directory only when empty);
// - a move across file systems is a copy to a temporary file beside the
//   target, fsync, rename over the target, then removal of the source;
// - a missing source, and any other failure, is reported and skipped.
// Entries run in order. After each entry the list is rewritten without it, so
// a crash never runs an entry twice; at the end the list file is removed
// (failed entries are not kept). Exit status: 0 when every entry succeeded,
// 1 when any failed or the list could not be read or rewritten, 2 on misuse.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sysops/PendingRenameFile.h"
#include "sysops/PendingRenames.h"

namespace {

const char kProgram[] = "updateexe-boot-renames";
const std::string kNtPrefix = "\\??\\";

void Report(const std::string& what, const std::string& why) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, what.c_str(), why.c_str());
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string StripNtPrefix(const std::string& path) {
    return path.compare(0, kNtPrefix.size(), kNtPrefix) == 0 ? path.substr(kNtPrefix.size()) : path;
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// rename() that never replaces an existing target.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // The file system cannot do it atomically; nothing else runs this early.
    if (Exists(to)) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

bool CopyBytes(int in, int out) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += w;
        }
    }
}

// Moves a regular file to another file system. The target changes in one
// rename, so it is always wholly old or wholly new. Returns "" or the reason.
std::string MoveAcross(const std::string& source, const std::string& target, bool replace) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return std::strerror(errno);
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return "only regular files can be moved to another file system";
    }
    std::string temp = target + ".XXXXXX";
    int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        int saved = errno;
        ::close(in);
        return "cannot create a temporary file beside the target: " + std::string(std::strerror(saved));
    }
    bool ok = CopyBytes(in, out);
    int saved = errno;
    ::close(in);
    if (ok) {
        // Ownership may only be given by root; a failure there is not fatal.
        [[maybe_unused]] int ignored = ::fchown(out, st.st_uid, st.st_gid);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = ::fchmod(out, st.st_mode & 07777) == 0 && ::futimens(out, times) == 0 &&
             ::fsync(out) == 0;
        saved = errno;
    }
    if (::close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok) {
        ok = (replace ? ::rename(temp.c_str(), target.c_str())
                      : RenameNoReplace(temp, target)) == 0;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return saved == EEXIST ? "target exists, kept" : std::strerror(saved);
    }
    ue::SyncParentDirectory(target);
    if (::unlink(source.c_str()) != 0)
        return "copied, but the source could not be removed: " + std::string(std::strerror(errno));
    ue::SyncParentDirectory(source);
    return "";
}

std::string Delete(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "source missing, skipped" : std::strerror(errno);
    // Like Windows, only an empty directory is removed.
    int r = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    if (r != 0) return std::strerror(errno);
    ue::SyncParentDirectory(path);
    return "";
}

std::string Move(const std::string& source, const std::string& target, bool replace) {
    if (!Exists(source)) return errno == ENOENT ? "source missing, skipped" : std::strerror(errno);
    if (!replace && Exists(target)) return "target exists, kept";
    int r = replace ? ::rename(source.c_str(), target.c_str()) : RenameNoReplace(source, target);
    if (r != 0) {
        if (errno == EXDEV) return MoveAcross(source, target, replace);
        return errno == EEXIST ? "target exists, kept" : std::strerror(errno);
    }
    ue::SyncParentDirectory(target);
    ue::SyncParentDirectory(source);
    return "";
}

// Carries out one entry; false (after reporting) when it failed.
bool CarryOut(const ue::RenamePair& entry) {
    const std::string source = StripNtPrefix(entry.first);
    if (entry.second.empty()) {
        std::string why = IsAbsolute(source) ? Delete(source) : "not an absolute path";
        if (!why.empty()) Report("delete " + Quoted(entry.first), why);
        return why.empty();
    }
    const bool replace = entry.second[0] == '!';
    const std::string target = StripNtPrefix(entry.second.substr(replace ? 1 : 0));
    std::string why;
    if (!IsAbsolute(source) || !IsAbsolute(target))
        why = "not an absolute path";  // never read as a deletion
    else
        why = Move(source, target, replace);
    if (!why.empty()) Report(Quoted(entry.first) + " -> " + Quoted(entry.second), why);
    return why.empty();
}

// Leaves the entries from `next` on in the list file.
bool RecordProgress(const std::string& path, const std::vector<ue::RenamePair>& pairs,
                    std::size_t next) {
    if (next >= pairs.size()) return ue::RemovePendingRenamesFile(path);
    std::vector<ue::RenamePair> rest(pairs.begin() + static_cast<std::ptrdiff_t>(next), pairs.end());
    return ue::WritePendingRenamesFile(path, ue::EncodePendingRenames(rest));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (argv[1][0] == '\0' || argv[1][0] == '-'))) {
        std::fprintf(stderr, "usage: %s [LIST-FILE]\n", kProgram);
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : ue::PendingRenamesFilePath();
    if (!Exists(path) && errno == ENOENT) return 0;  // nothing queued

    ue::PendingRenamesLock lock(path);
    std::optional<std::string> bytes = ue::ReadPendingRenamesFile(path);
    if (!bytes) {
        Report(Quoted(path), std::string("cannot read the list: ") + std::strerror(errno));
        return 1;
    }
    const ue::PendingList list = ue::DecodePendingRenames(*bytes);
    bool failed = false;
    for (std::size_t i = 0; i < list.pairs.size(); ++i) {
        if (!CarryOut(list.pairs[i])) failed = true;
        if (!RecordProgress(path, list.pairs, i + 1)) {
            Report(Quoted(path), std::string("cannot rewrite the list: ") + std::strerror(errno));
            return 1;
        }
    }
    if (list.dangling) {
        Report(Quoted(*list.dangling), "source without a target, left in place");
        failed = true;
    }
    if (!ue::RemovePendingRenamesFile(path)) {
        Report(Quoted(path), std::string("cannot remove the list: ") + std::strerror(errno));
        return 1;
    }
    return failed ? 1 : 0;
}
