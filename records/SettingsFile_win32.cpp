// Update.ini on Windows: the profile functions themselves, so that the file
// is read and written exactly as the suite's other programs do it.
#include "records/SettingsFile.h"

#include "core/Errors.h"
#include "records/IniFormat.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace ue {
namespace {

constexpr DWORD kBufferSize = 2048;

// How names are split into characters for the write checks: GBK on the
// suite's systems; byte by byte elsewhere, which refuses "]" even as a trail
// byte of another double-byte code page and so errs on the safe side.
ini::Encoding AnsiEncoding() { return GetACP() == 936 ? ini::Encoding::Gbk : ini::Encoding::Utf8; }

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

}  // namespace ue
