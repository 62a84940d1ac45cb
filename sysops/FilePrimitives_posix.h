// Linux parts of the file primitives that the payload expansion, the tests
// and the benchmarks share.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ue::posix {

// Why the regular file at `path` cannot be replaced now, as an errno value, or
// 0 when it can (also 0 when there is no such file):
//   EACCES, EROFS and the like  what access(W_OK) on its directory says;
//   EPERM   an immutable or append-only file (or an append-only directory),
//           or someone else's file in a sticky directory;
//   EBUSY   some process (ours included) holds it open or has it mapped; our
//           own program's mapping of its file does not count.
// The file's own write permission is no matter: the replacement is a rename,
// and a file without write bits is replaced as Windows replaces a read-only
// file. The expansion of a payload in place checks that on its own.
int FileReplaceBlocker(const std::string& path);

// True when a process holds the file open (/proc/*/fd) or has it mapped
// (/proc/*/maps). Processes whose entries we may not read are skipped, and so
// is our own mapping of our own program file.
bool IsHeldOpenByAnyProcess(const struct stat& file, const std::string& canonicalPath);

// The processes other than ours that hold the regular file `path` open or
// have it mapped, by the same scan, at most `limit`, in /proc order; empty
// when there is no such file.
std::vector<pid_t> ProcessesHoldingFile(const std::string& path, std::size_t limit);

// How CheckBeneath resolves: openat2 with RESOLVE_BENEATH where the kernel has
// it (the walk decides only for absolute links), or the walk component by
// component that also serves kernels without it. Tests run both, and
// KernelAlone, which is the kernel road that gives EOPNOTSUPP where it would
// leave the decision to the walk.
enum class BeneathResolver { Kernel, Walk, KernelAlone };
std::error_code CheckBeneath(const std::string& base, const std::string& path,
                             BeneathResolver resolver);

}  // namespace ue::posix
