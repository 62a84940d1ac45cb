#include "sysops/RunLog.h"

#include "core/FileIO.h"

namespace ue {

std::error_code AppendLogLine(const std::string& path, const std::string& line) {
    fileio::File file;
    if (const std::error_code ec = fileio::OpenToAppend(path, file)) return ec;
    // One write per line: lines of two runs appending at once do not mix.
    if (const std::error_code ec = fileio::WriteAll(file, UtcTimestamp() + " " + line + "\n")) {
        return ec;
    }
    return file.Close();
}

}  // namespace ue
