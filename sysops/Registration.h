// Self-registration of COM server libraries through "DllRegisterServer".
#pragma once

#include <string>

namespace ue {

// Raises Error when the library cannot be loaded, OSError when it lacks the
// entry, Error when the entry reports failure, crashes or does not return in
// time. The entry runs apart from the caller, so none of that ends the caller.
void RegisterServerLibrary(const std::string& file);

}  // namespace ue
