#include "sysops/Platform.h"

#include <windows.h>

namespace ue {

char PathSeparator() { return '\\'; }

std::string ExecutableDir() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n);
    auto cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string(".\\") : path.substr(0, cut + 1);
}

std::string NativeRelativePath(const std::string& path) { return path; }

}  // namespace ue
