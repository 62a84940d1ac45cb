// updateexe-boot-renames [LIST-FILE]
//
// Carries out the pending-rename list before the suite's programs can hold
// their files open, as Windows' start-up renamer does: root's list early at
// boot, a user's list (the same rule as UpdateExe's finds it when no file is
// named) when that user's service manager starts. It acts with the rights of
// the user it runs as, so it trusts only a list and a lock of that user's
// that no one else may write, in a folder of that user's or root's that no one
// else may write; any other list is reported and left untouched (exit 1).
// Each entry:
// - "\??\" is stripped from source and target;
// - a target with a leading "!" replaces an existing file; without it an
//   existing target is kept and the entry reported;
// - an empty target deletes the source (a directory only when empty);
// - a move across file systems is a copy to a temporary file beside the
//   target, fsync, rename over the target, then removal of the source;
// - a path that runs through a symbolic link (in any folder on its way; a
//   source that is itself a link too) is reported and skipped, so that a
//   link cannot lead the renamer where the list's writer did not mean;
// - a missing source, and any other failure, is reported and skipped.
// Entries run in order. After each entry its number is recorded in
// "<list>.progress" (see Progress), so a crash or a stop resumes after it
// and the cost stays linear in the list; at the end the list file
// is removed (failed entries are not kept), then the progress file. Exit
// status: 0 when every entry succeeded, 1 when any failed or the list could
// not be read or its progress recorded, 2 on misuse.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "sysops/PendingRenames.h"
#include "sysops/PendingRenames_posix.h"

namespace {

namespace fileio = ue::fileio;

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

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// An O_PATH descriptor of `folder`, reached without following a symbolic link
// on the way. ELOOP when a link is met.
fileio::File OpenFolderWithoutLinks(const std::string& folder) {
    struct open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fileio::File(static_cast<int>(fd));
    // A kernel before 5.6, or a sandbox that forbids the call: one name at a
    // time, none of them followed.
    fileio::File at(::open(folder[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t start = 0; at.Valid() && start < folder.size();) {
        std::size_t end = folder.find('/', start);
        if (end == std::string::npos) end = folder.size();
        const std::string name = folder.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        // O_PATH with O_NOFOLLOW would open a link itself; O_DIRECTORY then
        // refuses it as ENOTDIR, which is told apart here.
        fileio::File next(
            ::openat(at.Native(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!next.Valid() && errno == ENOTDIR &&
            ::fstatat(at.Native(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
            errno = ELOOP;
        }
        at = std::move(next);
    }
    return at;
}

// A path of an entry, pinned: its folder was opened without following links,
// and `use` names the file through that open folder (/proc/self/fd/N/name),
// so that a folder swapped for a link afterwards changes nothing.
struct Pinned {
    fileio::File folder;
    std::string use;
};

// "" and `out` filled, or why the path may not be used. A source whose
// folder is missing is a missing source.
std::string Pin(const std::string& path, Pinned& out, bool isSource) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return "not a file's path";
    out.folder = OpenFolderWithoutLinks(slash == 0 ? "/" : path.substr(0, slash));
    if (!out.folder.Valid()) {
        if (errno == ELOOP) return "runs through a symbolic link, skipped";
        return errno == ENOENT && isSource ? "source missing, skipped" : ue::SystemReason(ue::LastSystemError());
    }
    static const bool procFd = ::access("/proc/self/fd", X_OK) == 0;
    // Without /proc the checked path is used as it is.
    out.use = procFd ? "/proc/self/fd/" + std::to_string(out.folder.Native()) + "/" + name : path;
    return "";
}

fileio::Existing ForReplace(bool replace) {
    return replace ? fileio::Existing::Replace : fileio::Existing::Keep;
}

std::string Why(const std::error_code& ec) {
    return ec == std::errc::file_exists ? "target exists, kept" : ue::SystemReason(ec);
}

// Moves a regular file to another file system. The target changes in one
// rename, so it is always wholly old or wholly new. Returns "" or the reason.
std::string MoveAcross(const std::string& source, const std::string& target, bool replace) {
    const fileio::File in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.Valid()) return ue::SystemReason(ue::LastSystemError());
    struct stat st {};
    if (::fstat(in.Native(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "only regular files can be moved to another file system";
    }
    bool created = false;
    const fileio::ReplaceOptions options{ForReplace(replace), fileio::NewFile::Private};
    auto copy = [&](const fileio::File& out) {
        created = true;
        if (auto ec = fileio::CopyAll(in, out)) return ec;
        // Ownership may only be given by root; a failure there is not fatal.
        [[maybe_unused]] int ignored = ::fchown(out.Native(), st.st_uid, st.st_gid);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::fchmod(out.Native(), st.st_mode & 07777) != 0 || ::futimens(out.Native(), times) != 0) {
            return ue::LastSystemError();
        }
        return std::error_code();
    };
    if (auto ec = fileio::ReplaceAtomically(target, target + ".XXXXXX", copy, options)) {
        if (!created) return "cannot create a temporary file beside the target: " + ue::SystemReason(ec);
        return Why(ec);
    }
    if (::unlink(source.c_str()) != 0)
        return "copied, but the source could not be removed: " + ue::SystemReason(ue::LastSystemError());
    fileio::SyncDirectoryOf(source);
    return "";
}

std::string Delete(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "source missing, skipped" : ue::SystemReason(ue::LastSystemError());
    // Like Windows, only an empty directory is removed.
    int r = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    if (r != 0) return ue::SystemReason(ue::LastSystemError());
    fileio::SyncDirectoryOf(path);
    return "";
}

std::string Move(const std::string& source, const std::string& target, bool replace) {
    if (!Exists(source)) return errno == ENOENT ? "source missing, skipped" : ue::SystemReason(ue::LastSystemError());
    // A link moved into place would lead there wherever its writer chose.
    if (IsLink(source)) return "source is a symbolic link, skipped";
    if (!replace && Exists(target)) return "target exists, kept";
    if (auto ec = fileio::RenameFile(source, target, ForReplace(replace))) {
        if (ec == std::errc::cross_device_link) return MoveAcross(source, target, replace);
        return Why(ec);
    }
    fileio::SyncDirectoryOf(target);
    fileio::SyncDirectoryOf(source);
    return "";
}

// Carries out one entry; false (after reporting) when it failed.
bool CarryOut(const ue::RenamePair& entry) {
    const std::string source = StripNtPrefix(entry.first);
    Pinned from, to;
    if (entry.second.empty()) {
        std::string why = IsAbsolute(source) ? Pin(source, from, true) : "not an absolute path";
        if (why.empty()) why = Delete(from.use);
        if (!why.empty()) Report("delete " + Quoted(entry.first), why);
        return why.empty();
    }
    const bool replace = entry.second[0] == '!';
    const std::string target = StripNtPrefix(entry.second.substr(replace ? 1 : 0));
    std::string why;
    if (!IsAbsolute(source) || !IsAbsolute(target))
        why = "not an absolute path";  // never read as a deletion
    else if ((why = Pin(source, from, true)).empty() && (why = Pin(target, to, false)).empty())
        why = Move(from.use, to.use, replace);
    if (!why.empty()) Report(Quoted(entry.first) + " -> " + Quoted(entry.second), why);
    return why.empty();
}

// How many entries of the list are done, kept beside it in "<list>.progress",
// so that a crash, a power cut or a stop (the unit's start timeout) resumes
// after the last recorded entry, and the cost stays linear in the list: the
// list itself is never rewritten, only removed at the end.
//
// The count is written after every entry, so a process that is killed or
// crashes repeats nothing. It is synced only now and then, since a sync per
// entry would cost as much as the entry: a power cut may then run the
// entries since the last sync again. That is harmless while an entry's
// source is gone (it is reported as missing and skipped), but not after a
// later entry put something at its source: with "A -> B" then "C -> A", a
// second "A -> B" would move C's content to B (a deletion of A then
// "X -> A" is the same case). So the count is synced before any entry that
// names a file an entry since the last sync named (compared by last name,
// which no alias of a folder changes), and at least every kSyncEvery
// entries to bound what a power cut replays. The entries sync their own
// folders before the count moves past them. Two slots are written in turn,
// each with a check, so a torn write leaves the previous count readable.
// The count comes with a digest of the entries it covers: a list rewritten
// since (UpdateExe only appends, which keeps the digest) or the stale file
// of an older list never skips entries it did not do.
class Progress {
public:
    static constexpr std::size_t kSyncEvery = 4096;

    static std::string PathFor(const std::string& list) { return list + ".progress"; }

    // Opens (creating, 0600, never through a link) the progress file of
    // `list`; "" or why it may not be used.
    std::string Open(const std::string& list) {
        file_ = fileio::File(::open(PathFor(list).c_str(),
                                    O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file_.Valid()) return ue::SystemReason(ue::LastSystemError());
        struct stat st {};
        if (::fstat(file_.Native(), &st) != 0) return ue::SystemReason(ue::LastSystemError());
        if (!S_ISREG(st.st_mode)) return "not a regular file";
        return ue::Untrusted(st, ::geteuid());
    }

    // The number of leading entries of `pairs` already done.
    std::size_t Done(const std::vector<ue::RenamePair>& pairs) {
        std::uint64_t best = 0;
        for (int slot = 0; slot < 2; ++slot) {
            Slot s{};
            if (::pread(file_.Native(), &s, sizeof s, slot * static_cast<off_t>(sizeof s)) ==
                    static_cast<ssize_t>(sizeof s) &&
                s.check == Check(s) && s.count > best && s.count <= pairs.size() &&
                s.digest == DigestOf(pairs, s.count)) {
                best = s.count;
                writes_ = static_cast<unsigned>(slot + 1);  // the next write spares this slot
            }
        }
        digest_ = DigestOf(pairs, best);
        done_ = synced_ = static_cast<std::size_t>(best);
        return done_;
    }

    // Before carrying out `entry`: records the entries done so far when
    // running `entry` again after a crash could undo them, or many are
    // unrecorded. False (errno set) when the record failed.
    bool Before(const ue::RenamePair& entry) {
        const std::string a = LastName(entry.first), b = LastName(entry.second);
        if (done_ - synced_ >= kSyncEvery || named_.count(a) || (!b.empty() && named_.count(b))) {
            if (!Sync()) return false;
        }
        named_.insert(a);
        if (!b.empty()) named_.insert(b);
        return true;
    }

    // After carrying out `entry`: writes the new count (not synced; a killed
    // process loses nothing, a power cut falls back to the last sync). False
    // (errno set) when the write failed.
    bool After(const ue::RenamePair& entry) {
        digest_ = Mix(digest_, entry);
        ++done_;
        Slot s{done_, digest_, 0};
        s.check = Check(s);
        const off_t at = static_cast<off_t>(writes_++ % 2) * static_cast<off_t>(sizeof s);
        return ::pwrite(file_.Native(), &s, sizeof s, at) == static_cast<ssize_t>(sizeof s);
    }

    bool Sync() {
        named_.clear();
        if (done_ == synced_) return true;
        if (::fdatasync(file_.Native()) != 0) return false;
        synced_ = done_;
        return true;
    }

    static bool Remove(const std::string& list) {
        return ::unlink(PathFor(list).c_str()) == 0 || errno == ENOENT;
    }

private:
    struct Slot {
        std::uint64_t count, digest, check;
    };
    // FNV-1a over the entries' bytes, each string ended by a zero byte.
    static constexpr std::uint64_t kBasis = 14695981039346656037ull;
    static std::uint64_t Mix(std::uint64_t h, const ue::RenamePair& entry) {
        for (const std::string* part : {&entry.first, &entry.second}) {
            for (unsigned char c : *part) h = (h ^ c) * 1099511628211ull;
            h *= 1099511628211ull;
        }
        return h;
    }
    static std::uint64_t DigestOf(const std::vector<ue::RenamePair>& pairs, std::uint64_t count) {
        std::uint64_t h = kBasis;
        for (std::uint64_t i = 0; i < count; ++i) h = Mix(h, pairs[static_cast<std::size_t>(i)]);
        return h;
    }
    static std::string LastName(const std::string& path) {
        const std::size_t slash = path.find_last_of("/\\");
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    static std::uint64_t Check(const Slot& s) {
        return (s.count * 0x9E3779B97F4A7C15ull) ^ (s.digest + 0x7F4A7C159E3779B9ull) ^ 0x5155455545584531ull;
    }

    fileio::File file_;
    std::uint64_t digest_ = kBasis;
    std::size_t done_ = 0, synced_ = 0;
    unsigned writes_ = 0;
    std::unordered_set<std::string> named_;  // last names since the last sync
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (argv[1][0] == '\0' || argv[1][0] == '-'))) {
        std::fprintf(stderr, "usage: %s [LIST-FILE]\n", kProgram);
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : ue::PendingRenamesFilePath();
    if (!Exists(path) && errno == ENOENT) {
        Progress::Remove(path);  // a stale one would skip a new list's equal entries
        return 0;  // nothing queued
    }

    // A list that another user could have written is never carried out.
    ue::PendingRenamesLock lock(path);
    if (!lock.held()) {
        Report(Quoted(path),
               "cannot take the lock, list left untouched: " + ue::SystemReason(lock.error()));
        return 1;
    }
    struct stat st {};
    std::string refusal;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) refusal = "it is a symbolic link";
        else if (S_ISREG(st.st_mode)) refusal = ue::Untrusted(st, ::geteuid());
    }
    if (!refusal.empty()) {
        Report(Quoted(path), "list refused and left untouched: " + refusal);
        return 1;
    }
    std::optional<std::string> bytes = ue::ReadPendingRenamesFile(path);
    if (!bytes) {
        Report(Quoted(path), std::string("cannot read the list: ") + ue::SystemReason(ue::LastSystemError()));
        return 1;
    }
    const ue::PendingList list = ue::DecodePendingRenames(*bytes);
    Progress progress;
    if (const std::string why = progress.Open(path); !why.empty()) {
        Report(Quoted(Progress::PathFor(path)), "progress file refused, list left untouched: " + why);
        return 1;
    }
    bool failed = false;
    for (std::size_t i = progress.Done(list.pairs); i < list.pairs.size(); ++i) {
        if (!progress.Before(list.pairs[i])) {
            Report(Quoted(Progress::PathFor(path)),
                   "cannot record the progress: " + ue::SystemReason(ue::LastSystemError()));
            return 1;
        }
        if (!CarryOut(list.pairs[i])) failed = true;
        if (!progress.After(list.pairs[i])) {
            Report(Quoted(Progress::PathFor(path)),
                   "cannot record the progress: " + ue::SystemReason(ue::LastSystemError()));
            return 1;
        }
        if (const char* stop = std::getenv("UPDATEEXE_RENAMER_TEST_CRASH_AFTER");
            stop && std::to_string(i + 1) == stop) {
            ::_exit(3);  // tests: a crash right after an entry
        }
    }
    if (list.dangling) {
        Report(Quoted(*list.dangling), "source without a target, left in place");
        failed = true;
    }
    if (!ue::RemovePendingRenamesFile(path)) {
        Report(Quoted(path), std::string("cannot remove the list: ") + ue::SystemReason(ue::LastSystemError()));
        return 1;
    }
    // Only once the list is gone: a crash in between finds no list and
    // removes this at the next start.
    if (!Progress::Remove(path)) {
        Report(Quoted(Progress::PathFor(path)),
               "cannot remove the progress file: " + ue::SystemReason(ue::LastSystemError()));
    }
    return failed ? 1 : 0;
}
