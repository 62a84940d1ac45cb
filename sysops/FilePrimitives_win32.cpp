// Windows file primitives. In-use test: the exclusive open (no sharing, with
// write and delete access) that a running program, a loaded library or any
// open handle refuses; a read-only file is not in use. Copy: into a
// temporary file beside the target, flushed, then moved over it with
// MOVEFILE_WRITE_THROUGH, so the target is never seen half-written. Reparse
// points (symbolic links, junctions) count as links.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/Root.h"
#include "core/WinText.h"
#include "sysops/FilePrimitives.h"
#include "sysops/ProcessControl_win32.h"

namespace ue {
namespace {

using fileio::File;
using fileio::WidePath;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Opens whatever is at `path` for its attributes only (links followed), which
// no sharing mode of another handle refuses.
File OpenForAttributes(const std::string& path) {
    return File(::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// What is at `path`: none for a regular file (on disk, no directory), with
// its information; otherwise the system's error, is_a_directory or
// invalid_argument (a device).
std::error_code StatRegularFile(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    if (path.empty()) return SystemError(ERROR_FILE_NOT_FOUND);
    const File file = OpenForAttributes(path);
    if (!file.Valid()) return LastSystemError();
    if (::GetFileType(file.Native()) != FILE_TYPE_DISK) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (!::GetFileInformationByHandle(file.Native(), &info)) return LastSystemError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    return {};
}

bool StatRegularFile(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    try {
        return !StatRegularFile(path, info);
    } catch (...) {
        return false;  // not UTF-8: no such file
    }
}

std::string TemporaryPattern(const std::string& target, std::string_view mark = ".~ue") {
    std::string::size_type sep = target.find_last_of("\\/");
    const std::size_t nameLength = sep == std::string::npos ? target.size() : target.size() - sep - 1;
    if (nameLength + mark.size() + 6 <= MAX_PATH - 5) return target + std::string(mark) + "XXXXXX";
    return fileio::ParentDirectory(target) + "\\" + std::string(mark) + "XXXXXX";
}

// Why the file cannot be replaced now; none when it can or is absent.
std::error_code Blocker(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (StatRegularFile(path, info)) return {};
    // The replacement writes the file's name away: delete access, shared with
    // no one, and write access, which a running program's image refuses. A
    // read-only file is no blocker (the copy clears the attribute, as the
    // shell's copy replaces such a file); it refuses write access, so its
    // attributes are asked for instead. Other programs' handles are seen
    // either way; a running read-only program only at the copy's rename.
    const DWORD access = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                             ? GENERIC_READ | FILE_WRITE_ATTRIBUTES | DELETE
                             : GENERIC_READ | GENERIC_WRITE | DELETE;
    const File file(::CreateFileW(WidePath(path).c_str(), access, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) return {};
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {};  // gone meanwhile
    // A section mapped by another process: in use, as a sharing violation is.
    if (code == ERROR_USER_MAPPED_FILE) return SystemError(ERROR_SHARING_VIOLATION);
    // ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION compare equal to
    // std::errc::device_or_resource_busy, ERROR_ACCESS_DENIED to permission_denied.
    return SystemError(code);
}


// The names of a relative path with "." dropped and ".." taken back, as
// Windows itself reads a path before it follows any link; false when a ".."
// leads above the start.
bool NormalNames(std::string_view relative, std::vector<std::string>& names) {
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string_view name = relative.substr(start, end - start);
        if (name == "..") {
            if (names.empty()) return false;
            names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.emplace_back(name);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

std::error_code CheckBeneath(const std::string& base, const std::string& path) {
    try {
        std::string_view dir(base);
        while (dir.size() > 1 && IsSeparator(dir.back())) dir.remove_suffix(1);
        if (dir.empty() || path.compare(0, dir.size(), dir) != 0 ||
            (path.size() > dir.size() && !IsSeparator(path[dir.size()]) && !IsSeparator(dir.back()))) {
            return SystemError(ERROR_NOT_SAME_DEVICE);
        }
        std::vector<std::string> names;
        if (!NormalNames(std::string_view(path).substr(dir.size()), names)) {
            return SystemError(ERROR_NOT_SAME_DEVICE);
        }
        const File baseFile = OpenForAttributes(std::string(dir));
        if (!baseFile.Valid()) return LastSystemError();
        fileio::FinalName baseFinal;
        if (auto ec = fileio::FinalNameOf(baseFile.Native(), baseFinal)) return ec;

        // The deepest existing part, every reparse point on the way followed
        // by the system, must end beneath the base's own final path.
        for (std::size_t count = names.size();; --count) {
            std::string part(dir);
            for (std::size_t i = 0; i < count; ++i) part += "\\" + names[i];
            const File file = OpenForAttributes(part);
            if (file.Valid()) {
                fileio::FinalName final;
                if (auto ec = fileio::FinalNameOf(file.Native(), final)) return ec;
                if (final.volume != baseFinal.volume || !win32::PathIsWithin(final.path, baseFinal.path)) {
                    return SystemError(ERROR_NOT_SAME_DEVICE);
                }
                BY_HANDLE_FILE_INFORMATION info;
                if (count < names.size() && ::GetFileInformationByHandle(file.Native(), &info) &&
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    return SystemError(ERROR_DIRECTORY);  // a file where a folder is needed
                }
                return {};
            }
            const DWORD code = ::GetLastError();
            if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return SystemError(code);
            if (count == 0) return SystemError(code);
            // A name that is there but cannot be followed is a link to nowhere:
            // where it leads is not known, so it counts as leading outside.
            const DWORD attributes = ::GetFileAttributesW(WidePath(part).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                return SystemError(ERROR_NOT_SAME_DEVICE);
            }
        }
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::exception&) {
        return SystemError(ERROR_INVALID_NAME);  // not UTF-8
    }
}

std::error_code CheckDownloadedFile(const std::string& path) {
    try {
        WIN32_FILE_ATTRIBUTE_DATA data;  // of the name itself, no link followed
        if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
            return LastSystemError();
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        }
        BY_HANDLE_FILE_INFORMATION info;
        const std::error_code ec = StatRegularFile(path, info);
        if (ec == std::errc::is_a_directory) return std::make_error_code(std::errc::invalid_argument);
        return ec;
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::exception&) {
        return SystemError(ERROR_INVALID_NAME);
    }
}

bool IsFilePresent(const std::string& path) { return StatRegularFile(path); }

TDateTime GetFileModifiedTime(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    try {
        if (StatRegularFile(path, info)) return 0;
    } catch (...) {
        return 0;
    }
    const std::uint64_t time = (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                               info.ftLastWriteTime.dwLowDateTime;
    return FileTimeToLocalDateTime(time);
}

std::int32_t GetFileSizeByName(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    try {
        if (StatRegularFile(path, info)) return 0;
    } catch (...) {
        return 0;
    }
    // The low 32 bits, read as signed: 3 GiB gives -1 GiB.
    return static_cast<std::int32_t>(info.nFileSizeLow);
}

std::error_code ReplaceBlocker(const std::string& path) {
    try {
        return Blocker(path);
    } catch (...) {
        return {};
    }
}

std::error_code CopyFileOver(const std::string& source, const std::string& target,
                             const std::string& temporary, const fileio::Root* root,
                             const fileio::ByteProgress& progress) {
    try {
        // Beneath the installation: both folders are held until the copy is
        // done, so that neither can be swapped for a junction meanwhile.
        fileio::Place from, to;
        if (root != nullptr) {
            if (auto ec = root->Locate(source, from)) return ec;
            if (auto ec = root->Locate(target, to)) return ec;
        }
        BY_HANDLE_FILE_INFORMATION sourceInfo;
        if (auto ec = StatRegularFile(source, sourceInfo)) return ec;
        if (target.empty()) return SystemError(ERROR_FILE_NOT_FOUND);
        BY_HANDLE_FILE_INFORMATION targetInfo;
        const std::error_code targetState = StatRegularFile(target, targetInfo);
        if (targetState == std::errc::is_a_directory || targetState == std::errc::invalid_argument) {
            return targetState;
        }
        if (auto ec = Blocker(target)) return ec;

        File in;
        if (root != nullptr) {
            if (auto ec = from.OpenForReading(in)) return ec;
        } else {
            in = File(::CreateFileW(WidePath(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (!in.Valid()) return LastSystemError();
        }
        if (!::GetFileInformationByHandle(in.Native(), &sourceInfo)) return LastSystemError();
        if (sourceInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            return std::make_error_code(std::errc::is_a_directory);
        }

        // A read-only target is replaced, as the shell's copy replaces it: the
        // rename would be refused while the attribute is set. It comes back
        // when the copy fails.
        const bool readOnlyTarget =
            !targetState && (targetInfo.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
        const std::wstring wideTarget = WidePath(target);
        if (readOnlyTarget &&
            !::SetFileAttributesW(wideTarget.c_str(), targetInfo.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY)) {
            return LastSystemError();
        }
        const std::error_code ec = fileio::ReplaceAtomically(
            target, temporary.empty() ? TemporaryPattern(target) : temporary, [&](const File& out) {
            if (auto ec = fileio::CopyAll(in, out, progress)) return ec;
            // The target is renamed over next: when it is another name (hard
            // link) of the source, our open handle would refuse that rename.
            in.Close();
            // The source's last-write time (so the refresh loop sees the copy
            // as current) and its hidden, system and archive attributes. Not
            // read-only: an installed file that refuses every later update
            // is no copy the suite can live with.
            FILE_BASIC_INFO basic{};
            basic.LastWriteTime.LowPart = sourceInfo.ftLastWriteTime.dwLowDateTime;
            basic.LastWriteTime.HighPart = static_cast<LONG>(sourceInfo.ftLastWriteTime.dwHighDateTime);
            constexpr DWORD kCopied = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
            basic.FileAttributes = sourceInfo.dwFileAttributes & kCopied;
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            if (!::SetFileInformationByHandle(out.Native(), FileBasicInfo, &basic, sizeof basic)) {
                return LastSystemError();
            }
            return std::error_code();
        });
        if (ec && readOnlyTarget) ::SetFileAttributesW(wideTarget.c_str(), targetInfo.dwFileAttributes);
        return ec;
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::exception&) {
        return SystemError(ERROR_INVALID_NAME);
    }
}

std::error_code CopyToTemporaryBeside(const std::string& source, const std::string& target,
                                      std::string& temporary, const fileio::Root* root) {
    temporary.clear();
    try {
        fileio::Place from, to;
        if (root != nullptr) {
            if (auto ec = root->Locate(source, from)) return ec;
            if (auto ec = root->Locate(target, to)) return ec;
            File in;
            if (auto ec = from.OpenForReading(in)) return ec;  // no link, no junction
        }
        BY_HANDLE_FILE_INFORMATION sourceInfo;
        if (auto ec = StatRegularFile(source, sourceInfo)) return ec;
        // CopyFileW makes the name exclusively (it fails on anything there)
        // and gives the copy the source's time; the read-only attribute is
        // taken off, as for every installed copy.
        const std::wstring wideSource = WidePath(source);
        const std::string pattern = TemporaryPattern(target, kRestartTemporaryMark);
        for (int attempt = 0; attempt < 100 && temporary.empty(); ++attempt) {
            std::string name = pattern;
            fileio::FillTemplate(name);
            if (::CopyFileW(wideSource.c_str(), WidePath(name).c_str(), TRUE)) {
                temporary = std::move(name);
            } else if (const DWORD code = ::GetLastError();
                       code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
                return SystemError(static_cast<int>(code));
            }
        }
        if (temporary.empty()) return SystemError(ERROR_FILE_EXISTS);
        const std::wstring wide = WidePath(temporary);
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        std::error_code ec;
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            ((attributes & FILE_ATTRIBUTE_READONLY) &&
             !::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))) {
            ec = LastSystemError();
        }
        // On the disk before the restart is asked to move it.
        if (!ec) {
            const File file(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file.Valid() || !::FlushFileBuffers(file.Native())) ec = LastSystemError();
        }
        if (ec) {
            ::DeleteFileW(wide.c_str());
            temporary.clear();
        }
        return ec;
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::exception&) {
        return SystemError(ERROR_INVALID_NAME);
    }
}

std::error_code CreateDirectories(const std::string& path) {
    try {
        if (path.empty()) return SystemError(ERROR_PATH_NOT_FOUND);
        // The root is not created: a drive ("C:\"), a share ("\\server\share\").
        std::size_t from = 0;
        if (path.starts_with("\\\\") || path.starts_with("//")) {
            std::size_t seps = 0;
            for (from = 2; from < path.size() && seps < 2; ++from) {
                if (IsSeparator(path[from])) ++seps;
            }
        } else if (path.size() >= 2 && path[1] == ':') {
            from = 2;
        }
        for (std::size_t pos = path.find_first_of("\\/", from + 1);; pos = path.find_first_of("\\/", pos + 1)) {
            const std::string prefix = path.substr(0, pos);
            if (prefix.size() > from && !IsSeparator(prefix.back()) &&
                !::CreateDirectoryW(WidePath(prefix).c_str(), nullptr)) {
                const DWORD code = ::GetLastError();
                if (code != ERROR_ALREADY_EXISTS) return SystemError(code);
                const DWORD attributes = ::GetFileAttributesW(WidePath(prefix).c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemError();
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return SystemError(ERROR_DIRECTORY);
            }
            if (pos == std::string::npos) break;
        }
        const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemError();
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? std::error_code() : SystemError(ERROR_DIRECTORY);
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::exception&) {
        return SystemError(ERROR_INVALID_NAME);
    }
}

}  // namespace ue
