#include "tests/support/HeldFile.h"

#include <windows.h>

#include <stdexcept>

#include "core/Text.h"

namespace ue::test {

HeldFile::HeldFile(const std::string& path) {
    const std::u16string wide = text::Utf8ToUtf16(path, "path");
    // Shared for reading only, as a running program holds its executable: others
    // may read the file (the tests look at it) but not write, replace or delete it.
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ,
                                   FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot hold " + path + ": error " +
                                 std::to_string(::GetLastError()));
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

void HeldFile::Release() {
    if (handle_ == kNone) return;
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kNone;
}

}  // namespace ue::test
