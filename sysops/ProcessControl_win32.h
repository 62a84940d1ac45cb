// Windows pieces of process control that the instance lock and the tests
// share. Not part of the portable interface.
#pragma once

#include <optional>
#include <string>

namespace ue::win32 {

// The final path of an existing file or folder (links, junctions and short
// names resolved, as the system names it, "\\?\" form); nothing when it
// cannot be opened.
std::optional<std::wstring> FinalPath(const std::wstring& path);

// Whether `path` is `folder` or lies below it. Both are final paths; letter
// case plays no part (ordinal, as file names compare); a trailing separator
// on either does not matter.
bool PathIsWithin(const std::wstring& path, const std::wstring& folder);

// The full path of the running executable of the process `process`
// (QueryFullProcessImageNameW); nothing when it cannot be read.
std::optional<std::wstring> ImagePathOf(void* process);

}  // namespace ue::win32
