// Linux parts of the file primitives that the payload expansion, the tests
// and the benchmarks share.
#pragma once

#include <sys/stat.h>

#include <string>

namespace ue::posix {

// Why the regular file at `path` cannot be replaced now, as an errno value, or
// 0 when it can (also 0 when there is no such file):
//   EACCES  no write permission bit, or we may not write the file;
//   EROFS and the like  what access(W_OK) on the file or its directory says;
//   EBUSY   some process (ours included) holds it open or has it mapped.
int FileReplaceBlocker(const std::string& path);

// True when a process holds the file open (/proc/*/fd) or has it mapped
// (/proc/*/maps). Processes whose entries we may not read are skipped.
bool IsHeldOpenByAnyProcess(const struct stat& file, const std::string& canonicalPath);

}  // namespace ue::posix
