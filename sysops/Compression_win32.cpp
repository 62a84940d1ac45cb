// Expansion of a payload X in place, on Windows. The expanded content goes
// into the temporary file X + "bakr" (ExpansionTemporary) beside X and
// replaces X by MoveFileExW (MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH) only once the stream is verified complete and the
// file flushed: at every moment X holds its whole payload or its whole
// expanded content, and after any failure X keeps its payload and no
// temporary file is left.
#include <windows.h>

#include <cstring>
#include <string>
#include <system_error>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/Root.h"
#include "sysops/Compression.h"
#include "sysops/FilePrimitives.h"

namespace ue {
namespace {

using fileio::WidePath;

// The expansion's own two texts keep their form ("... \"path\". reason");
// the reason is the system's, in UTF-8.
OSError FileError(const char* what, const std::string& path, std::error_code ec) {
    return OSError(std::string(what) + " \"" + path + "\". " + SystemReason(ec),
                   static_cast<std::uint32_t>(ec.value()));
}

OSError OpenError(const std::string& path, std::error_code ec) { return FileError("Cannot open file", path, ec); }
OSError CreateError(const std::string& path, std::error_code ec) {
    return FileError("Cannot create file", path, ec);
}

}  // namespace

void ExpandCompressedFile(const std::string& path, LeftTemporary left, const fileio::Root* root,
                          const fileio::ByteProgress& progress) {
    // Beneath the installation: the payload's folder is held until the
    // expansion is done, so that it cannot be swapped for a junction meanwhile.
    fileio::Place place;
    if (root != nullptr) {
        if (const std::error_code ec = root->Locate(path, place)) throw OpenError(path, ec);
    }
    const std::wstring widePath = WidePath(path);
    WIN32_FILE_ATTRIBUTE_DATA payload;
    if (!::GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &payload)) {
        throw OpenError(path, LastSystemError());
    }
    if (payload.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        throw OpenError(path, std::make_error_code(std::errc::is_a_directory));
    }
    // A read-only payload may not be replaced: the copy clears that attribute
    // of its target, the expansion leaves the download as it came.
    if (payload.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        throw CreateError(path, SystemError(ERROR_ACCESS_DENIED));
    }
    // Checked before we open X ourselves: our own handle would count.
    if (const std::error_code blocker = ReplaceBlocker(path)) throw CreateError(path, blocker);

    // Through the root a link or junction under the name is refused, never followed.
    fileio::File in;
    if (root != nullptr) {
        if (const std::error_code ec = place.OpenForReading(in)) throw OpenError(path, ec);
    } else {
        in = fileio::File(::CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!in.Valid()) throw OpenError(path, LastSystemError());
    }

    // A file under the temporary's name may be a download of that name: it
    // is removed only when the caller knows it for its own leftover (also
    // when it is read-only). The new one is created exclusively, so a link
    // planted under that name is never written through.
    const std::string temporary = ExpansionTemporary(path);
    if (left == LeftTemporary::Replace) {
        const std::wstring wideTemporary = WidePath(temporary);
        const DWORD attributes = ::GetFileAttributesW(wideTemporary.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ::SetFileAttributesW(wideTemporary.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if (!::DeleteFileW(wideTemporary.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            throw CreateError(temporary, LastSystemError());
        }
    }
    bool created = false;
    const fileio::ContentWriter expand = [&](const fileio::File& out) {
        created = true;
        ExpandInto(out, in, path, progress);
        // The payload is renamed over next: no handle of ours may stand in the way.
        in.Close();
        // The payload's attributes (it is not read-only, or it would be in use).
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = payload.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                           FILE_ATTRIBUTE_ARCHIVE);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(out.Native(), FileBasicInfo, &basic, sizeof basic)) {
            throw ExpansionWriteError(path, LastSystemError());
        }
        return std::error_code();
    };
    const std::error_code ec = root != nullptr ? place.Replace(ExpansionTemporary(place.Name()), expand)
                                               : fileio::ReplaceAtomically(path, temporary, expand);
    // Not made at all, or not put in place.
    if (ec) throw CreateError(created ? path : temporary, ec);
}

}  // namespace ue
