// Linux piece of self-registration that the tests use. Not part of the
// portable interface.
#pragma once

#include <chrono>
#include <string>

namespace ue::posix {

// RegisterServerLibrary with the time the entry is given to return before its
// process is killed and the registration reported as failed.
void RegisterServerLibraryWithin(const std::string& file, std::chrono::milliseconds bound);

}  // namespace ue::posix
