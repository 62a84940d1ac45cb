// Plain file operations used to test and replace installed files. None of
// them raises: every failure gives the neutral result (false or 0).
#pragma once

#include <cstdint>
#include <string>

#include "sysops/DateTime.h"

namespace ue {

// The owner window of a copy (a native window handle, or none).
using WindowHandle = void*;

bool IsFilePresent(const std::string& path);
TDateTime GetFileModifiedTime(const std::string& path);
std::int32_t GetFileSizeByName(const std::string& path);
bool IsFileInUse(const std::string& path);
bool ShellCopyFile(WindowHandle owner, const std::string& source, const std::string& target);

// Creates a directory with all missing parents; false on failure.
bool ForceDirectories(const std::string& path);

}  // namespace ue
