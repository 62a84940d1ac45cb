// Linux helpers shared by the file primitives and the payload expansion.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "sysops/DateTime.h"

namespace ue::posix {

// A Unix instant (seconds and nanoseconds, nanoseconds in [0, 1e9)) as a local
// date-time value, truncated to the millisecond; 0 outside the years 1..9999.
TDateTime LocalDateTimeFromUnixTime(std::int64_t seconds, long nanoseconds);

// Why the regular file at `path` cannot be replaced now, as an errno value, or
// 0 when it can (also 0 when there is no such file):
//   EACCES  no write permission bit, or we may not write the file;
//   EROFS and the like  what access(W_OK) on the file or its directory says;
//   EBUSY   some process (ours included) holds it open or has it mapped.
int FileReplaceBlocker(const std::string& path);

// True when a process holds the file open (/proc/*/fd) or has it mapped
// (/proc/*/maps). Processes whose entries we may not read are skipped.
bool IsHeldOpenByAnyProcess(const struct stat& file, const std::string& canonicalPath);

// The directory part of `path`: "." for a bare name, "/" for a file in the root.
std::string ParentDirectory(const std::string& path);

// Makes a rename in the directory of `path` durable; best effort.
void SyncParentDirectory(const std::string& path);

}  // namespace ue::posix
