// The pending-rename list as bytes: a pure codec shared by every platform.
#include <cstddef>

#include "core/Errors.h"
#include "sysops/PendingRenames.h"

namespace ue {

namespace {

const char kNtPrefix[] = "\\??\\";

// Reads the string starting at `pos`: up to the next NUL, or to the end of the
// bytes when the last string lacks its NUL. Moves `pos` past the NUL.
std::string NextString(const std::string& bytes, std::size_t& pos) {
    std::size_t end = bytes.find('\0', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string s = bytes.substr(pos, end - pos);
    pos = end < bytes.size() ? end + 1 : end;
    return s;
}

}  // namespace

PendingList DecodePendingRenames(const std::string& bytes) {
    PendingList list;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::string source = NextString(bytes, pos);
        if (source.empty()) break;  // the closing empty string
        if (pos >= bytes.size()) {
            list.dangling = std::move(source);
            break;
        }
        std::string target = NextString(bytes, pos);
        list.pairs.emplace_back(std::move(source), std::move(target));
    }
    return list;
}

std::string EncodePendingRenames(const std::vector<RenamePair>& pairs) {
    std::string out;
    for (const auto& [source, target] : pairs) {
        if (source.empty()) throw Error("pending rename with an empty source");
        if (source.find('\0') != std::string::npos || target.find('\0') != std::string::npos)
            throw Error("pending rename path contains a NUL character");
        out += source;
        out += '\0';
        out += target;
        out += '\0';
    }
    out += '\0';
    return out;
}

std::string AppendPendingRename(const std::string& present, const std::string& source,
                                const std::string& target) {
    if (source.empty() || target.empty()) throw Error("pending rename with an empty path");
    PendingList list = DecodePendingRenames(present);
    if (list.dangling) list.pairs.emplace_back(*list.dangling, *list.dangling);
    list.pairs.emplace_back(kNtPrefix + source, "!" + (kNtPrefix + target));
    return EncodePendingRenames(list.pairs);
}

void ReplaceFileAtRestart(const std::string& source, const std::string& target) {
    try {
        QueueFileReplacement(source, target);
    } catch (...) {
        // Silent by contract: the caller treats the replacement as queued.
    }
}

}  // namespace ue
