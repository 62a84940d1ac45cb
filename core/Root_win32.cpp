// The installation root on Windows: the root and each path's folder are
// opened without delete sharing, so that neither can be renamed, removed or
// replaced by a junction while it is held, and the folder's final path (every
// link and junction on the way followed by the system) must lie beneath the
// root's. The name is then used by its path while the folder is held.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/Errors.h"
#include "core/Root.h"
#include "core/WinText.h"

namespace ue::fileio {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::error_code Outside() { return std::make_error_code(std::errc::cross_device_link); }

// A folder held open: others may read and write in it, but not rename or
// remove it.
File HoldFolder(const std::string& path) {
    return File(::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// `path` is `dir` or lies in it, whole names compared without regard to case.
bool IsBeneath(const std::wstring& dir, const std::wstring& path) {
    if (path.size() < dir.size() ||
        ::CompareStringOrdinal(dir.data(), static_cast<int>(dir.size()), path.data(),
                               static_cast<int>(dir.size()), TRUE) != CSTR_EQUAL) {
        return false;
    }
    // A volume's root ("\\") ends with its separator.
    return path.size() == dir.size() || dir.back() == L'\\' || path[dir.size()] == L'\\';
}

}  // namespace

std::error_code FinalNameOf(void* handle, FinalName& name) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) return LastSystemError();
    name.volume = info.dwVolumeSerialNumber;
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
        if (n > 0 && n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        if (n > 0) {
            buffer.resize(n + 1);
            continue;
        }
        if (::GetLastError() != ERROR_MORE_DATA) return LastSystemError();
        // Wine cannot give a final path longer than MAX_PATH; the name the
        // file was opened under after its links comes from the same source.
        std::vector<char> raw(sizeof(FILE_NAME_INFO) + 65536 * sizeof(wchar_t));
        auto* info = reinterpret_cast<FILE_NAME_INFO*>(raw.data());
        if (!::GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(raw.size()))) {
            return LastSystemError();
        }
        buffer.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
        break;
    }
    while (buffer.size() > 1 && buffer.back() == L'\\') buffer.pop_back();
    name.path = std::move(buffer);
    return {};
}

std::error_code Root::Open(const std::string& dir, Root& root) {
    root = Root();
    try {
        root.folder_ = HoldFolder(dir);
        if (!root.folder_.Valid()) return LastSystemError();
        root.path_ = dir.empty() || !IsSeparator(dir.back()) ? dir + '\\' : dir;
        return FinalNameOf(root.folder_.Native(), root.final_);
    } catch (const Error&) {
        return SystemError(ERROR_INVALID_NAME);  // not UTF-8
    }
}

namespace {

// The names of `path` below `root` (given with its trailing separator);
// false when `path` does not lie below it by its text or holds a "..":
// Windows itself drops "." and takes ".." back before it follows any link.
bool NamesBelow(const std::string& root, const std::string& path, std::vector<std::string>& names) {
    std::string_view dir(root);
    while (!dir.empty() && IsSeparator(dir.back())) dir.remove_suffix(1);
    if (path.compare(0, dir.size(), dir) != 0) return false;
    if (path.size() > dir.size() && !IsSeparator(path[dir.size()])) return false;
    names.clear();
    const std::string_view relative = std::string_view(path).substr(std::min(dir.size(), path.size()));
    for (std::size_t start = 0; start <= relative.size();) {
        std::size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string_view name = relative.substr(start, end - start);
        if (name == "..") return false;
        if (!name.empty() && name != ".") names.emplace_back(name);
        start = end + 1;
    }
    return true;
}

}  // namespace

std::error_code Root::Locate(const std::string& path, Place& place) const {
    std::vector<std::string> names;
    if (!Valid() || !NamesBelow(path_, path, names) || names.empty()) return Outside();
    place = Place();
    place.name_ = names.back();
    place.path_ = path;
    place.folderPath_ = path_;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) place.folderPath_ += names[i] + '\\';
    return HoldBeneath(place.folderPath_, place.folder_);
}

std::error_code Root::CreateFolders(const std::string& path) const {
    std::vector<std::string> names;
    if (!Valid() || !NamesBelow(path_, path, names)) return Outside();
    std::string folder = path_;
    File held;
    // Each name is made while its folder is held beneath the root, so that
    // the folder cannot be swapped for a junction meanwhile.
    for (const std::string& name : names) {
        if (auto ec = HoldBeneath(folder, held)) return ec;
        folder += name;
        try {
            if (!::CreateDirectoryW(WidePath(folder).c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                return LastSystemError();
            }
        } catch (const Error&) {
            return SystemError(ERROR_INVALID_NAME);
        }
        folder += '\\';
    }
    // What was there already (a file, a junction) is judged as the path it is.
    return HoldBeneath(folder, held);
}

// Holds the folder `folder` (with its trailing separator) and checks that it
// is a folder that really lies beneath the root.
std::error_code Root::HoldBeneath(const std::string& folder, File& held) const {
    try {
        held = HoldFolder(folder);
        if (!held.Valid()) return LastSystemError();
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(held.Native(), &info)) return LastSystemError();
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return SystemError(ERROR_DIRECTORY);
        FinalName final;
        if (auto ec = FinalNameOf(held.Native(), final)) return ec;
        return final.volume == final_.volume && IsBeneath(final_.path, final.path) ? std::error_code()
                                                                                  : Outside();
    } catch (const Error&) {
        return SystemError(ERROR_INVALID_NAME);
    }
}

std::error_code Place::StatusOf(Status& status) const { return fileio::StatusOf(path_, status); }

std::error_code Place::OpenForReading(File& file) const {
    // The reparse point itself is opened, so that a link is seen, never followed.
    file = File(::CreateFileW(WidePath(path_).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS |
                                  FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
    if (!file.Valid()) return LastSystemError();
    BY_HANDLE_FILE_INFORMATION info;
    std::error_code ec;
    if (!::GetFileInformationByHandle(file.Native(), &info)) {
        ec = LastSystemError();
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ec = std::make_error_code(std::errc::is_a_directory);
    } else if (::GetFileType(file.Native()) != FILE_TYPE_DISK) {
        ec = std::make_error_code(std::errc::invalid_argument);
    }
    if (ec) file.Close();
    return ec;
}

std::error_code Place::Replace(const std::string& temporary, const ContentWriter& write,
                               const ReplaceOptions& options) const {
    return ReplaceAtomically(path_, folderPath_ + temporary, write, options);
}

std::error_code Place::Remove() const { return RemoveFile(path_); }

std::error_code Place::Link(const std::string& name) const {
    try {
        // A hard link to a reparse point would give the new name whatever it leads to.
        const DWORD attributes = ::GetFileAttributesW(WidePath(path_).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemError();
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        }
        return LinkFile(path_, folderPath_ + name);
    } catch (const Error&) {
        return SystemError(ERROR_INVALID_NAME);
    }
}

}  // namespace ue::fileio
