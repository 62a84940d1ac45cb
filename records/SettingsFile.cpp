// The parts of the settings object that are the same on every platform.
#include "records/SettingsFile.h"

#include "core/Errors.h"

namespace ue {

void SettingsFile::CheckWritable() const {
    if (const std::string why = WhyNotWritable(path_); !why.empty()) {
        throw Error("Unable to write to " + path_ + ": " + why);
    }
}

}  // namespace ue
