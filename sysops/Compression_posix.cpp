// Expansion of a payload X in place. The expanded content goes into the
// temporary file X + "bakr" (ExpansionTemporary) beside X and replaces X by a rename only once the
// stream is verified complete and the file synced: at every moment X holds its
// whole payload or its whole expanded content, and after any failure X keeps
// its payload and no temporary file is left. X is read directly: no copy of
// the payload is made first, and no pause is needed before reading it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/Root.h"
#include "sysops/Compression.h"
#include "sysops/FilePrimitives_posix.h"

namespace ue {
namespace {

// The expansion's own message form, with the system's reason.
OSError FileError(const char* what, const std::string& path, const std::error_code& ec) {
    return OSError(std::string(what) + " \"" + path + "\". " + SystemReason(ec),
                   static_cast<std::uint32_t>(ec.value()));
}

OSError OpenError(const std::string& path, const std::error_code& ec) {
    return FileError("Cannot open file", path, ec);
}
OSError CreateError(const std::string& path, const std::error_code& ec) {
    return FileError("Cannot create file", path, ec);
}

}  // namespace

void ExpandCompressedFile(const std::string& path, LeftTemporary left, const fileio::Root* root,
                          const fileio::ByteProgress& progress) {
    // Beneath the installation, resolved now: the payload's folder, and every
    // name below is used relative to it.
    fileio::Place place;
    if (root != nullptr) {
        if (const std::error_code ec = root->Locate(path, place)) throw OpenError(path, ec);
    }
    const int at = root != nullptr ? place.Folder().Native() : AT_FDCWD;
    const std::string name = root != nullptr ? place.Name() : path;

    // Never read through a symbolic link: a payload swapped for a link to a
    // file that we may read and its writer may not must not be expanded into
    // a file of theirs.
    struct stat payload;
    if (::fstatat(at, name.c_str(), &payload, AT_SYMLINK_NOFOLLOW) != 0) {
        throw OpenError(path, LastSystemError());
    }
    if (S_ISLNK(payload.st_mode)) throw OpenError(path, SystemError(ELOOP));
    if (!S_ISREG(payload.st_mode)) throw OpenError(path, SystemError(S_ISDIR(payload.st_mode) ? EISDIR : EINVAL));
    // A payload without write permission bits (read-only) may not be
    // replaced: the copy replaces such a target, the expansion leaves the
    // download as it came, as on Windows.
    if ((payload.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) throw CreateError(path, SystemError(EACCES));
    // Checked before we open X ourselves: our own descriptor would count.
    if (const int blocker = posix::FileReplaceBlocker(path)) throw CreateError(path, SystemError(blocker));

    // O_NONBLOCK: a FIFO swapped in meanwhile must not make us wait.
    const fileio::File in(::openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.Valid() || ::fstat(in.Native(), &payload) != 0) throw OpenError(path, LastSystemError());
    if (!S_ISREG(payload.st_mode)) throw OpenError(path, SystemError(EINVAL));

    // A file under the temporary's name may be a download of that name: it
    // is removed only when the caller knows it for its own leftover. The new
    // one is created exclusively, so a link planted under that name is never
    // written through.
    const std::string temporary = ExpansionTemporary(path);
    const std::string temporaryName = ExpansionTemporary(name);
    if (left == LeftTemporary::Replace && ::unlinkat(at, temporaryName.c_str(), 0) != 0 && errno != ENOENT) {
        throw CreateError(temporary, LastSystemError());
    }
    bool created = false;
    const fileio::ContentWriter expand = [&](const fileio::File& out) {
        created = true;
        ExpandInto(out, in, path, progress);
        // The payload's owner (when we may give it) and permission bits.
        if (::fchown(out.Native(), payload.st_uid, payload.st_gid) != 0) {
            // Not ours to give away; the file stays ours.
        }
        if (::fchmod(out.Native(), payload.st_mode & 0777) != 0)
            throw ExpansionWriteError(path, LastSystemError());
        return std::error_code();
    };
    const std::error_code ec = root != nullptr ? place.Replace(temporaryName, expand)
                                               : fileio::ReplaceAtomically(path, temporary, expand);
    // Not made at all, or not put in place.
    if (ec) throw CreateError(created ? path : temporary, ec);
}

}  // namespace ue
