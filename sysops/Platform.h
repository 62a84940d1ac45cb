// Path conventions of this platform.
#pragma once

#include <string>

namespace ue {

// "/" on Linux, "\\" on Windows.
char PathSeparator();
// The directory of the running executable, resolved, with a trailing separator.
std::string ExecutableDir();
// A relative path from the database in this platform's form ("\" read as "/"
// on Linux).
std::string NativeRelativePath(const std::string& path);

}  // namespace ue
