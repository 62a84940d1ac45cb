// File I/O on Windows: HANDLEs, GetLastError values as std::error_code. Every
// call is the W form, with paths through WidePath.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/WinText.h"

namespace ue::fileio {
namespace {

std::error_code LastError() { return LastSystemError(); }
std::error_code LastError(DWORD code) { return SystemError(static_cast<int>(code)); }

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Creates `name` exclusively (CREATE_NEW fails on anything there, a link
// included); with a trailing "XXXXXX", under the first unused name it leads
// to, which `created` receives. Both NewFile kinds get the folder's inherited
// security: a rename keeps a file's own security descriptor, so a private one
// would stay on the installed file.
std::error_code CreateExclusive(const std::string& name, File& file, std::string& created) {
    const bool pattern = name.size() >= 6 && name.ends_with("XXXXXX");
    std::string candidate = name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (pattern) FillTemplate(candidate);
        const HANDLE h = ::CreateFileW(WidePath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                       nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file = File(h);
            created = candidate;
            return {};
        }
        const DWORD code = ::GetLastError();
        if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || !pattern) {
            return LastError(code);
        }
    }
    return LastError(ERROR_FILE_EXISTS);
}

// Removes a file we made, also when it was given the read-only attribute.
void RemoveOwnFile(const std::string& name) {
    const std::wstring wide = WidePath(name);
    if (!::DeleteFileW(wide.c_str()) && ::GetLastError() == ERROR_ACCESS_DENIED) {
        ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(wide.c_str());
    }
}

}  // namespace

std::wstring WidePath(const std::string& path) {
    std::wstring wide = Wide(path, "path");
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    // CreateDirectoryW allows MAX_PATH less room for an 8.3 name.
    constexpr std::size_t kShortLimit = MAX_PATH - 12;
    if (wide.size() < kShortLimit || wide.starts_with(L"\\\\?\\")) return wide;
    // The \\?\ form is taken literally: no "." or ".." steps, no relative part.
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return wide;
    std::wstring full(size, L'\0');
    const DWORD n = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) return wide;
    full.resize(n);
    if (full.starts_with(L"\\\\.\\")) return full;  // a device: not a file path
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

NativeFile File::None() { return INVALID_HANDLE_VALUE; }

std::error_code File::Close() {
    if (!Valid()) return {};
    return ::CloseHandle(Release()) ? std::error_code() : LastError();
}

std::error_code ReadAll(const File& file, std::string& bytes) {
    bytes.clear();
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.Native(), buffer, sizeof buffer, &n, nullptr)) {
            // A pipe whose writer has closed it: the end.
            return ::GetLastError() == ERROR_BROKEN_PIPE ? std::error_code() : LastError();
        }
        if (n == 0) return {};
        bytes.append(buffer, n);
    }
}

std::error_code OpenRegularFile(const std::string& path, File& file) {
    // Backup semantics open a directory too, so that it is named as such.
    file = File(::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    std::error_code ec;
    if (!::GetFileInformationByHandle(file.Native(), &info)) {
        ec = LastError();
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ec = std::make_error_code(std::errc::is_a_directory);
    } else if (::GetFileType(file.Native()) != FILE_TYPE_DISK) {
        ec = LastError(ERROR_INVALID_PARAMETER);
    }
    if (ec) file.Close();
    return ec;
}

std::error_code StatusOf(const std::string& path, Status& status) {
    status = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD code = ::GetLastError();
        return IsMissing(code) ? std::error_code() : LastError(code);
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        status.kind = Kind::Link;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        status.kind = Kind::Directory;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        status.kind = Kind::Other;
    } else {
        status.kind = Kind::Regular;
        status.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return {};
}

std::error_code IdentityOf(const std::string& path, LastLink last, FileIdentity& identity,
                           bool& found) {
    identity = {};
    found = false;
    // No access to the content, shared every way: a file a program holds open
    // (the database, a running program) is looked at too. Backup semantics
    // open a folder as well.
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (last == LastLink::Stay) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    const File file(::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
    if (!file.Valid()) {
        const DWORD code = ::GetLastError();
        return IsMissing(code) ? std::error_code() : LastError(code);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.Native(), &info)) return LastError();
    identity = {info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    found = true;
    return {};
}

std::error_code RemoveFile(const std::string& path) {
    const std::wstring wide = WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        return IsMissing(code) ? std::error_code() : LastError(code);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return LastError(ERROR_ACCESS_DENIED);  // as DeleteFileW answers for a folder
    }
    // A link to a folder is removed as a folder; the folder it leads to stays.
    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(wide.c_str())
                                                                 : ::DeleteFileW(wide.c_str());
    if (removed) return {};
    const DWORD code = ::GetLastError();
    return IsMissing(code) ? std::error_code() : LastError(code);
}

std::error_code ReadSome(const File& file, void* buffer, std::size_t count, std::size_t& got) {
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    if (!::ReadFile(file.Native(), buffer, piece, &n, nullptr)) return LastError();
    got = n;
    return {};
}

std::error_code Rewind(const File& file) {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(file.Native(), zero, nullptr, FILE_BEGIN) ? std::error_code() : LastError();
}

std::error_code WriteAll(const File& file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(file.Native(), bytes.data() + done, piece, &n, nullptr)) return LastError();
        if (n == 0) return LastError(ERROR_WRITE_FAULT);
        done += n;
    }
    return {};
}

void WriteBehind::Wrote(std::uint64_t bytes) { written_ += bytes; }
std::error_code WriteBehind::Finish(const std::function<void()>& between) {
    started_ = written_;
    // No range to write out ahead here: the whole flush, which can block for
    // seconds, runs on a thread of its own.
    struct Flush {
        HANDLE file;
        DWORD error = 0;
        static DWORD WINAPI Run(void* self) {
            auto& flush = *static_cast<Flush*>(self);
            if (!::FlushFileBuffers(flush.file)) flush.error = ::GetLastError();
            return 0;
        }
    } flush{file_.Native()};
    HANDLE thread = ::CreateThread(nullptr, 0, &Flush::Run, &flush, 0, nullptr);
    if (thread == nullptr) {
        Flush::Run(&flush);
    } else {
        while (::WaitForSingleObject(thread, 5) == WAIT_TIMEOUT) {
            if (between) between();
        }
        ::CloseHandle(thread);
    }
    if (flush.error != 0) failure_ = LastError(flush.error);
    return failure_;
}

std::uint64_t SizeOf(const File& file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file.Native(), &size) && size.QuadPart > 0
               ? static_cast<std::uint64_t>(size.QuadPart)
               : 0;
}

std::error_code CopyAll(const File& from, const File& to, const ByteProgress& progress) {
    std::uint64_t total = 0;
    if (progress) {
        LARGE_INTEGER at{}, none{};
        if (::SetFilePointerEx(from.Native(), none, &at, FILE_CURRENT)) {
            const std::uint64_t size = SizeOf(from);
            total = size > static_cast<std::uint64_t>(at.QuadPart) ? size - static_cast<std::uint64_t>(at.QuadPart) : 0;
        }
    }
    std::uint64_t done = 0;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(from.Native(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
            return ::GetLastError() == ERROR_BROKEN_PIPE ? std::error_code() : LastError();
        }
        if (n == 0) {
            // Watched by a window: the final flush must not block it.
            if (!progress) return {};
            return WriteBehind(to).Finish([&] { progress(done, std::max(done, total)); });
        }
        if (auto ec = WriteAll(to, std::string_view(buffer.data(), n))) return ec;
        done += n;
        if (progress) progress(done, std::max(done, total));
    }
}

std::string ParentDirectory(const std::string& path) {
    // A drive ("C:") is part of the root: "C:\a" gives "C:\".
    const std::size_t drive = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    std::string::size_type last = std::string::npos;  // the last character that is no separator
    for (std::size_t i = path.size(); i > drive; --i) {
        if (!IsSeparator(path[i - 1])) {
            last = i - 1;
            break;
        }
    }
    const std::string root = path.substr(0, drive);
    const std::string rootDir = drive < path.size() && IsSeparator(path[drive])
                                    ? root + path[drive]
                                    : (root.empty() ? std::string(".") : root);
    if (last == std::string::npos) return path.size() == drive ? (root.empty() ? "." : root) : rootDir;
    std::string::size_type sep = std::string::npos;
    for (std::size_t i = last; i > drive; --i) {
        if (IsSeparator(path[i - 1])) {
            sep = i - 1;
            break;
        }
    }
    if (sep == std::string::npos) return root.empty() ? "." : root;
    std::size_t end = sep;
    while (end > drive && IsSeparator(path[end - 1])) --end;
    return end == drive ? rootDir : path.substr(0, end);
}

// Nothing to do: a directory cannot be flushed without administrator rights,
// and needs not be, since every rename here is made with
// MOVEFILE_WRITE_THROUGH, which returns only once the change is on disk.
std::error_code SyncDirectoryOf(const std::string& /*path*/) { return {}; }

std::error_code RenameFile(const std::string& from, const std::string& to, Existing existing) {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (existing == Existing::Replace) flags |= MOVEFILE_REPLACE_EXISTING;
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), flags)) return {};
    return LastError();
}

std::error_code LinkFile(const std::string& from, const std::string& to) {
    if (!::CreateHardLinkW(WidePath(to).c_str(), WidePath(from).c_str(), nullptr)) return LastError();
    return SyncDirectoryOf(to);
}

std::error_code WriteNewFile(std::string& name, std::string_view bytes, NewFile) {
    File file;
    std::string created;
    if (auto ec = CreateExclusive(name, file, created)) return ec;
    std::error_code ec = WriteAll(file, bytes);
    const std::error_code closed = file.Close();
    if (!ec) ec = closed;
    if (ec) {
        RemoveOwnFile(created);
        return ec;
    }
    name = created;
    return {};
}

std::error_code ReplaceAtomically(const std::string& target, const std::string& temporary,
                                  const ContentWriter& write, const ReplaceOptions& options) {
    File file;
    std::string name;
    if (auto ec = CreateExclusive(temporary, file, name)) return ec;
    std::error_code ec;
    try {
        ec = write(file);
    } catch (...) {
        file.Close();
        RemoveOwnFile(name);
        throw;
    }
    if (!ec && !::FlushFileBuffers(file.Native())) ec = LastError();
    const std::error_code closed = file.Close();
    if (!ec) ec = closed;
    if (!ec) ec = RenameFile(name, target, options.existing);
    if (ec) RemoveOwnFile(name);
    return ec;
}

std::error_code ReplaceAtomically(const std::string& target, const std::string& temporary,
                                  std::string_view bytes, const ReplaceOptions& options) {
    return ReplaceAtomically(
        target, temporary, [bytes](const File& file) { return WriteAll(file, bytes); }, options);
}

std::error_code OpenToRead(const std::string& path, File& file) {
    // Backup semantics open a directory too, so that it is named as such.
    File opened(::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
    if (!opened.Valid()) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(opened.Native(), &info)) return LastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        ::GetFileType(opened.Native()) != FILE_TYPE_DISK) {
        return LastError(ERROR_INVALID_PARAMETER);
    }
    file = std::move(opened);
    return {};
}

std::error_code OpenToAppend(const std::string& path, File& file) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
    File opened(::CreateFileW(WidePath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened.Valid()) return LastError();
    file = std::move(opened);
    return {};
}

}  // namespace ue::fileio
