#include "sysops/Platform.h"

#include <windows.h>

#include "core/WinText.h"

namespace ue {

char PathSeparator() { return '\\'; }

std::string ExecutableDir() {
    // The buffer grows until the whole name fits (it may exceed MAX_PATH).
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ".\\";
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::string path = Narrow(buffer);
    const auto cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string(".\\") : path.substr(0, cut + 1);
}

std::string NativeRelativePath(const std::string& path) { return path; }

}  // namespace ue
