// The file primitives that only wrap another: the same on every platform.
#include "sysops/FilePrimitives.h"

namespace ue {

bool IsFileInUse(const std::string& path) { return static_cast<bool>(ReplaceBlocker(path)); }

bool ShellCopyFile(WindowHandle /*owner*/, const std::string& source, const std::string& target) {
    try {
        return !CopyFileOver(source, target);
    } catch (...) {
        return false;
    }
}

bool ForceDirectories(const std::string& path) {
    try {
        return !CreateDirectories(path);
    } catch (...) {
        return false;
    }
}

}  // namespace ue
