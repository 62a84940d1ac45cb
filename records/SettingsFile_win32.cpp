// Update.ini on Windows: the profile functions themselves, so that the file
// is read and written exactly as the suite's other programs do it. The W
// forms: text is UTF-8 here and UTF-16 at the call; the file keeps its own
// encoding (the system converts an ANSI file through the ANSI code page and
// reads and writes a file that starts with a UTF-16 mark as UTF-16).
//
// A write is never made on the file itself: the profile functions rewrite a
// file in place, and on a full disk have been seen to cut it and report
// success. They work on a copy beside the file instead; the copy must read
// back key by key as the change demands, and then replaces the file whole
// (flushed, renamed over it). Only where the folder lets no new file be made
// is the file written in place, as the profile functions alone would.
//
// The profile functions take no "\\?\" path: a path of MAX_PATH or more is
// handed to them with its folder's short (8.3) form.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "core/FileIO.h"
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

// "Unable to write to <path>: <why>"; an OSError when a system code says why.
[[noreturn]] void Unable(const std::string& path, const std::string& why, DWORD code = 0) {
    const std::string message = "Unable to write to " + path + ": " + why;
    if (code != 0) throw OSError(message, code);
    throw Error(message);
}
[[noreturn]] void Unable(const std::string& path, const std::error_code& ec) {
    Unable(path, SystemReason(ec), static_cast<DWORD>(ec.value()));
}

bool IsUtf16(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

// `text` in the ANSI code page; nothing when a character has no place
// there (it would be written as "?" or a look-alike).
bool ToAnsi(const std::wstring& text, std::string& ansi) {
    ansi.clear();
    if (text.empty()) return true;
    BOOL lossy = FALSE;
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    ansi.resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, ansi.data(), n, nullptr, nullptr);
    return true;
}

// The name the profile functions take for `path`; `why` says why there is
// none.
struct ProfileName {
    std::wstring path;
    std::string why;
};

ProfileName ProfileNameOf(const std::string& path) {
    std::wstring wide = Wide(path, "path");
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (wide.size() < MAX_PATH) return {wide, {}};
    const std::wstring name = wide.substr(wide.find_last_of(L'\\') + 1);
    const std::wstring folder = fileio::WidePath(fileio::ParentDirectory(path));
    std::wstring shortFolder(folder.size() + 1, L'\0');
    const DWORD n = GetShortPathNameW(folder.c_str(), shortFolder.data(), static_cast<DWORD>(shortFolder.size()));
    if (n == 0 || n >= shortFolder.size()) {
        return {{}, "the path is too long for the profile functions, and its folder's short (8.3) form "
                    "cannot be had (" + SystemReason(LastSystemError()) + ")"};
    }
    shortFolder.resize(n);
    // The profile functions want a plain path again.
    const std::wstring unc = L"\\\\?\\UNC\\", local = L"\\\\?\\";
    if (shortFolder.rfind(unc, 0) == 0) {
        shortFolder = L"\\\\" + shortFolder.substr(unc.size());
    } else if (shortFolder.rfind(local, 0) == 0) {
        shortFolder.erase(0, local.size());
    }
    if (!shortFolder.empty() && shortFolder.back() != L'\\') shortFolder += L'\\';
    std::wstring result = shortFolder + name;
    if (result.size() >= MAX_PATH) {
        return {{}, "the path is too long for the profile functions, and the volume keeps no short (8.3) "
                    "names that would make it short enough"};
    }
    return {result, {}};
}

// Whether `written` reads, key by key, as `expected` does: what the profile
// functions made of the copy against what the change demands. A file cut
// short (a full disk) loses or changes the value of its last key, also
// beyond the part that a read gives: values are compared whole.
bool ReadsAs(std::string_view written, std::string_view expected, ini::Encoding encoding) {
    constexpr std::size_t kWhole = std::string_view::npos;
    const std::string text = ini::DecodeFile(expected);
    std::string_view section;
    bool inSection = false;
    for (const ini::Line& line : ini::SplitLines(text, encoding)) {
        const std::string_view name(text.data() + line.nameBegin, line.nameEnd - line.nameBegin);
        if (line.kind == ini::Line::Kind::Header) {
            section = name;
            inSection = true;
        } else if (line.kind == ini::Line::Kind::Key && inSection) {
            if (ini::FindValue(written, section, name, encoding, kWhole) !=
                ini::FindValue(expected, section, name, encoding, kWhole))
                return false;
        }
    }
    return true;
}

// Removes the copy when it leaves scope.
struct WorkCopy {
    std::string name;
    ~WorkCopy() {
        if (!name.empty()) (void)fileio::RemoveFile(name);
    }
};


}  // namespace

// Why WritePrivateProfileStringW could not write `path` now; empty when it
// could. The file is opened for writing with full sharing, as a writer that
// leaves room for the suite's readers would, and closed unwritten.
std::string SettingsFile::WhyNotWritable(const std::string& path) {
    const std::wstring widePath = fileio::WidePath(path);
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return SystemReason(SystemError(static_cast<int>(code)));
        // Missing: it is created, in a folder that must exist.
        const std::string folder = fileio::ParentDirectory(path);
        const DWORD folderAttributes = GetFileAttributesW(fileio::WidePath(folder).c_str());
        if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return "its folder \"" + folder + "\" does not exist";
    } else {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a directory";
        if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
        HANDLE file = CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "UpdateExe may not write it (" + SystemReason(LastSystemError()) + ")";
        CloseHandle(file);
    }
    if (const ProfileName name = ProfileNameOf(path); !name.why.empty()) return name.why;
    return {};
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

SettingsFile::~SettingsFile() {
    // Writes out what the platform caches for the file; returns FALSE by design.
    try {
        const ProfileName name = ProfileNameOf(path_);
        if (name.why.empty()) WritePrivateProfileStringW(nullptr, nullptr, nullptr, name.path.c_str());
    } catch (const Error&) {
        // A path that is no UTF-8 was never written either.
    }
}

std::string SettingsFile::ReadSetting(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    const std::wstring s = Wide(section, "section"), k = Wide(key, "key"), d = Wide(defaultValue, "default");
    const ProfileName name = ProfileNameOf(path_);
    wchar_t buffer[kBufferSize] = {};
    DWORD n = 0;
    if (name.why.empty()) {
        n = GetPrivateProfileStringW(s.c_str(), k.c_str(), d.c_str(), buffer, kBufferSize, name.path.c_str());
    } else {
        // Unreachable for the profile functions: read as a missing file.
        n = static_cast<DWORD>(std::min<std::size_t>(d.size(), kBufferSize - 1));
        std::memcpy(buffer, d.data(), n * sizeof(wchar_t));
    }
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
    const std::wstring s = Wide(section, "section"), k = Wide(key, "key"), v = Wide(value, "value");

    std::string old;
    bool exists = true;
    if (const std::error_code ec = fileio::ReadAll(path_, old)) {
        if (ec != std::errc::no_such_file_or_directory) Unable(path_, ec);
        exists = false;
    }
    // What the change demands, in the file's encoding.
    const bool utf16 = IsUtf16(old);
    const ini::Encoding encoding = utf16 ? ini::Encoding::Utf8 : ini::Encoding::Gbk;
    std::string fileSection(section), fileKey(key), fileValue(value);
    if (!utf16 && !(ToAnsi(s, fileSection) && ToAnsi(k, fileKey) && ToAnsi(v, fileValue)))
        Unable(path_, "the text has characters that the file's code page cannot hold");
    const std::string expected = ini::WriteValue(old, fileSection, fileKey, fileValue, encoding);
    if (exists && expected == old) return;  // already there: nothing to write
    // Windows refuses a read-only file; said here too so that it holds where
    // the platform would let the write through (Wine run as root).
    const DWORD attributes = GetFileAttributesW(fileio::WidePath(path_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        Unable(path_, "the file is read-only", ERROR_ACCESS_DENIED);

    WorkCopy copy{path_ + ".~ueXXXXXX"};
    if (const std::error_code ec = fileio::WriteNewFile(copy.name, old)) {
        copy.name.clear();
        if (ec.value() != ERROR_ACCESS_DENIED) Unable(path_, ec);
        // No new file may be made beside it: in place, as the profile
        // functions alone would write it.
        const ProfileName name = ProfileNameOf(path_);
        if (!name.why.empty()) Unable(path_, name.why);
        if (!WritePrivateProfileStringW(s.c_str(), k.c_str(), v.c_str(), name.path.c_str()))
            Unable(path_, LastSystemError());
        return;
    }
    const ProfileName name = ProfileNameOf(copy.name);
    if (!name.why.empty()) Unable(path_, name.why);
    if (!WritePrivateProfileStringW(s.c_str(), k.c_str(), v.c_str(), name.path.c_str()))
        Unable(path_, LastSystemError());
    std::string written;
    if (const std::error_code ec = fileio::ReadAll(copy.name, written)) Unable(path_, ec);
    if (!ReadsAs(written, expected, encoding))
        Unable(path_, "the profile functions did not write the whole file (is the disk full?)");
    const fileio::ReplaceOptions options{fileio::Existing::Replace, fileio::NewFile::Default};
    if (const std::error_code ec = fileio::ReplaceAtomically(path_, path_ + ".~ueXXXXXX", written, options))
        Unable(path_, ec);
}

}  // namespace ue
