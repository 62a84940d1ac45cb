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

fileio::Existing ForReplace(bool replace) {
    return replace ? fileio::Existing::Replace : fileio::Existing::Keep;
}

std::string Why(const std::error_code& ec) {
    return ec == std::errc::file_exists ? "target exists, kept" : ec.message();
}

// Moves a regular file to another file system. The target changes in one
// rename, so it is always wholly old or wholly new. Returns "" or the reason.
std::string MoveAcross(const std::string& source, const std::string& target, bool replace) {
    const fileio::File in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.Valid()) return std::strerror(errno);
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
            return std::error_code(errno, std::system_category());
        }
        return std::error_code();
    };
    if (auto ec = fileio::ReplaceAtomically(target, target + ".XXXXXX", copy, options)) {
        if (!created) return "cannot create a temporary file beside the target: " + ec.message();
        return Why(ec);
    }
    if (::unlink(source.c_str()) != 0)
        return "copied, but the source could not be removed: " + std::string(std::strerror(errno));
    fileio::SyncDirectoryOf(source);
    return "";
}

std::string Delete(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "source missing, skipped" : std::strerror(errno);
    // Like Windows, only an empty directory is removed.
    int r = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    if (r != 0) return std::strerror(errno);
    fileio::SyncDirectoryOf(path);
    return "";
}

std::string Move(const std::string& source, const std::string& target, bool replace) {
    if (!Exists(source)) return errno == ENOENT ? "source missing, skipped" : std::strerror(errno);
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
