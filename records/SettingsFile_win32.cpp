// Update.ini on Windows: the profile functions themselves, so that the file
// is read and written exactly as the suite's other programs do it.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "records/IniFormat.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <system_error>

namespace ue {
namespace {

constexpr DWORD kBufferSize = 2048;

// How names are split into characters for the write checks: GBK on the
// suite's systems; byte by byte elsewhere, which refuses "]" even as a trail
// byte of another double-byte code page and so errs on the safe side.
ini::Encoding AnsiEncoding() { return GetACP() == 936 ? ini::Encoding::Gbk : ini::Encoding::Utf8; }

// The system's text for `code`, without the line break and full stop that
// FormatMessage ends it with.
std::string SystemText(DWORD code) {
    std::string text = std::system_category().message(static_cast<int>(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                             text.back() == ' '))
        text.pop_back();
    return text;
}

// Why WritePrivateProfileStringA could not write `path` now; empty when it
// could. The file is opened for writing with full sharing, as a writer that
// leaves room for the suite's readers would, and closed unwritten.
std::string WhyNotWritable(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return SystemText(code);
        // Missing: it is created, in a folder that must exist. The folder's
        // part of the full path, split by the system (a "\" may be the
        // second byte of a double-byte character).
        char full[MAX_PATH * 2];
        char* name = nullptr;
        const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, &name);
        if (n == 0 || n >= sizeof full || !name) return SystemText(code);
        std::string folder(full, static_cast<std::size_t>(name - full));
        if (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
        const DWORD folderAttributes = GetFileAttributesA(folder.c_str());
        if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return "its folder \"" + folder + "\" does not exist";
        return {};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a directory";
    if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "UpdateExe may not write it (" + SystemText(GetLastError()) + ")";
    CloseHandle(file);
    return {};
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

SettingsFile::~SettingsFile() {
    // Writes out what the platform caches for the file; returns FALSE by design.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
}

std::string SettingsFile::ReadSetting(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    std::string s(section), k(key), d(defaultValue);
    // Zeroed: when a double-byte character does not fit, Wine counts the
    // last byte as stored without writing it.
    char buffer[kBufferSize] = {};
    DWORD n = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer, kBufferSize,
                                       path_.c_str());
    if (n >= kBufferSize) n = kBufferSize - 1;
    return std::string(buffer, strnlen(buffer, n));
}

void SettingsFile::WriteSetting(std::string_view section, std::string_view key,
                                std::string_view value) {
    // The profile functions escape nothing: a line break in a value would
    // write lines of its own.
    ini::CheckWriteArguments(section, key, value, AnsiEncoding());
    // Windows refuses a read-only file; said here too so that it holds where
    // the platform would let the write through (Wine run as root).
    DWORD attributes = GetFileAttributesA(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw Error("Unable to write to " + path_);
    std::string s(section), k(key), v(value);
    if (!WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), path_.c_str()))
        throw Error("Unable to write to " + path_);
}

void SettingsFile::CheckWritable() const {
    if (const std::string why = WhyNotWritable(path_); !why.empty())
        throw Error("Unable to write to " + path_ + ": " + why);
}

}  // namespace ue
