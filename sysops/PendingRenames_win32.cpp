// Replacement at restart on Windows: MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING. The system appends
// the pair to PendingFileRenameOperations itself, in the shapes the codec in
// PendingRenames.cpp reads ("\??\source", "!\??\target"), under its own lock:
// no read-modify-write of ours can lose another installer's pairs, and the
// list it writes is never odd or unterminated. Only administrators (and
// SYSTEM) may queue; anyone else gets ERROR_ACCESS_DENIED.
//
// A path of MAX_PATH characters or more is passed in its "\\?\" form.

#include <windows.h>

#include "core/Errors.h"
#include "core/WinText.h"
#include "sysops/PendingRenames.h"

namespace ue {

namespace {

// "C:\..." and "\\server\share\..." beyond MAX_PATH in their "\\?\" forms.
std::wstring LongForm(std::wstring path) {
    if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\")) return path;
    for (auto& c : path) {
        if (c == L'/') c = L'\\';
    }
    if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
    return path;  // relative: the system would resolve it, not the long form
}

}  // namespace

std::error_code QueueFileReplacement(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty() || source.find('\0') != std::string::npos ||
        target.find('\0') != std::string::npos) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::wstring from;
    std::wstring to;
    try {
        from = LongForm(Wide(source));
        to = LongForm(Wide(target));
    } catch (const Error&) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (!::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
        return LastSystemError();
    }
    return {};
}

std::string RestartReplacementWarning() { return ""; }

}  // namespace ue
