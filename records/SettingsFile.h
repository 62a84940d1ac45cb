// The settings object over Update.ini. Each call is a complete access to the
// file; nothing is cached.
#pragma once

#include <string>
#include <string_view>

namespace ue {

class SettingsFile {
public:
    explicit SettingsFile(std::string path);  // touches no file
    ~SettingsFile();                          // flushes what the platform holds
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const std::string& Path() const { return path_; }

    // At most 2047 bytes; the default when file, section or key is missing.
    std::string ReadSetting(std::string_view section, std::string_view key,
                            std::string_view defaultValue) const;
    // Raises Error "Unable to write to %s: <reason>" when the file cannot be
    // written (an OSError with the system's code when the system said why),
    // and Error for a name or value that would break the file's lines. The
    // file written lies beneath the file's folder: a link at the path that
    // leads elsewhere is refused when the write is made, not only before.
    void WriteSetting(std::string_view section, std::string_view key, std::string_view value);

    // Raises Error "Unable to write to %s: <reason>" when a WriteSetting now
    // could not write the file: the path is a directory or no regular file,
    // the file is read-only or may not be written, or (Linux) its folder may
    // not be written or (both) a missing file's folder does not exist. Reads
    // and writes nothing, so a run can find out before it changes anything.
    void CheckWritable() const;

private:
    // Why a write to `path` could not be made now ("" when it could).
    static std::string WhyNotWritable(const std::string& path);

    std::string path_;
};

}  // namespace ue
