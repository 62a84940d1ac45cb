// Update.ini on Windows: the profile functions themselves, so that the file
// is read and written exactly as the suite's other programs do it. The W
// forms: text is UTF-8 here and UTF-16 at the call; the file keeps its own
// encoding (the system converts an ANSI file through the ANSI code page and
// reads and writes a file that starts with a UTF-16 mark as UTF-16).
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "core/Text.h"
#include "core/WinText.h"
#include "records/IniFormat.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <system_error>

namespace ue {
namespace {

constexpr DWORD kBufferSize = 2048;

// The longest value ReadSetting gives, in UTF-8 bytes.
constexpr std::size_t kMaxValueBytes = kBufferSize - 1;

// Whether `text` can be written into `path` without loss: a file that is not
// UTF-16 holds ANSI text, and a character outside the ANSI code page would
// be written as "?" (or a look-alike).
bool FitsTheFile(const std::wstring& path, const std::wstring& text) {
    if (text.empty()) return true;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        unsigned char mark[2] = {};
        DWORD got = 0;
        const BOOL read = ReadFile(file, mark, 2, &got, nullptr);
        CloseHandle(file);
        if (read && got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) return true;
    }
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, &lossy);
    return n > 0 && !lossy;
}

// The system's text for `code`, without the line break and full stop that
// FormatMessage ends it with.
std::string SystemText(DWORD code) {
    std::string text = std::system_category().message(static_cast<int>(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                             text.back() == ' '))
        text.pop_back();
    return text;
}

// Why WritePrivateProfileStringW could not write `path` now; empty when it
// could. The file is opened for writing with full sharing, as a writer that
// leaves room for the suite's readers would, and closed unwritten.
std::string WhyNotWritable(const std::string& path) {
    const std::wstring widePath = Wide(path, "path");
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return SystemText(code);
        // Missing: it is created, in a folder that must exist. The folder's
        // part of the full path, split by the system.
        wchar_t full[MAX_PATH * 2];
        wchar_t* name = nullptr;
        const DWORD n = GetFullPathNameW(widePath.c_str(), MAX_PATH * 2, full, &name);
        if (n == 0 || n >= MAX_PATH * 2 || !name) return SystemText(code);
        std::wstring wideFolder(full, static_cast<std::size_t>(name - full));
        if (wideFolder.size() > 3 && (wideFolder.back() == L'\\' || wideFolder.back() == L'/'))
            wideFolder.pop_back();
        const std::string folder = Narrow(wideFolder);
        const DWORD folderAttributes = GetFileAttributesW(wideFolder.c_str());
        if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return "its folder \"" + folder + "\" does not exist";
        return {};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a directory";
    if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
    HANDLE file = CreateFileW(widePath.c_str(), GENERIC_WRITE,
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
    try {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, Wide(path_, "path").c_str());
    } catch (const Error&) {
        // A path that is no UTF-8 was never written either.
    }
}

std::string SettingsFile::ReadSetting(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    const std::wstring s = Wide(section, "section"), k = Wide(key, "key"), d = Wide(defaultValue, "default");
    wchar_t buffer[kBufferSize] = {};
    DWORD n = GetPrivateProfileStringW(s.c_str(), k.c_str(), d.c_str(), buffer, kBufferSize,
                                       Wide(path_, "path").c_str());
    if (n >= kBufferSize) n = kBufferSize - 1;
    std::wstring_view value(buffer, wcsnlen(buffer, n));
    // A cut value may end in half a surrogate pair.
    if (!value.empty() && value.back() >= 0xD800 && value.back() <= 0xDBFF) value.remove_suffix(1);
    std::string text = Narrow(value);
    // At most kMaxValueBytes, cut before a character that does not fit.
    if (text.size() > kMaxValueBytes) {
        std::size_t end = kMaxValueBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        text.resize(end);
    }
    return text;
}

void SettingsFile::WriteSetting(std::string_view section, std::string_view key,
                                std::string_view value) {
    // The profile functions escape nothing: a line break in a value would
    // write lines of its own.
    ini::CheckWriteArguments(section, key, value, ini::Encoding::Utf8);
    const std::wstring path = Wide(path_, "path");
    const std::wstring s = Wide(section, "section"), k = Wide(key, "key"), v = Wide(value, "value");
    if (!FitsTheFile(path, s + k + v)) {
        throw Error("Unable to write to " + path_ +
                    ": the text has characters that the file's code page cannot hold");
    }
    // Windows refuses a read-only file; said here too so that it holds where
    // the platform would let the write through (Wine run as root).
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw Error("Unable to write to " + path_);
    if (!WritePrivateProfileStringW(s.c_str(), k.c_str(), v.c_str(), path.c_str()))
        throw Error("Unable to write to " + path_);
}

void SettingsFile::CheckWritable() const {
    if (const std::string why = WhyNotWritable(path_); !why.empty())
        throw Error("Unable to write to " + path_ + ": " + why);
}

}  // namespace ue
