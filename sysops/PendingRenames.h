// Replacement of files at the next restart through the pending-rename list.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ue {

using RenamePair = std::pair<std::string, std::string>;  // source, target ("" = delete)

// Splits the value's bytes into pairs, as the restart renamer reads them.
// A source with no target after it is reported in `dangling` and never
// paired with anything.
struct PendingList {
    std::vector<RenamePair> pairs;
    std::optional<std::string> dangling;
};
PendingList DecodePendingRenames(const std::string& bytes);

// Encodes pairs: each string and its NUL, then the closing NUL.
std::string EncodePendingRenames(const std::vector<RenamePair>& pairs);

// The bytes after appending "\??\"+source / "!\??\"+target to `present`.
std::string AppendPendingRename(const std::string& present, const std::string& source,
                                const std::string& target);

// Queues `source` to replace `target` at the next restart. Reports nothing.
void ReplaceFileAtRestart(const std::string& source, const std::string& target);

}  // namespace ue
