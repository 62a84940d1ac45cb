// Replacement of files at the next restart through the pending-rename list.
//
// The list has the layout of the registry value PendingFileRenameOperations
// (REG_MULTI_SZ): strings each followed by a NUL, read in pairs (source,
// target), closed by an empty string. An empty target queues a deletion; a
// target starting with "!" replaces an existing file.
#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace ue {

using RenamePair = std::pair<std::string, std::string>;  // source, target ("" = delete)

// Splits the value's bytes into pairs, as the restart renamer reads them: the
// list ends at the first empty source string or where the bytes end (a last
// string without its NUL still counts as a string). A source with no target
// after it is reported in `dangling` and never paired with anything.
struct PendingList {
    std::vector<RenamePair> pairs;
    std::optional<std::string> dangling;
};
PendingList DecodePendingRenames(const std::string& bytes);

// Encodes pairs: each string and its NUL, then the closing NUL. Throws Error
// for a pair that cannot be stored unambiguously (an empty source, or a NUL
// inside a string), since either would shift every later pair.
std::string EncodePendingRenames(const std::vector<RenamePair>& pairs);

// The bytes after appending "\??\"+source / "!\??\"+target to `present`.
// Every pair of `present` is kept byte for byte and in order, and the result
// is always closed and holds an even number of strings. A dangling source of
// `present` is carried over as a pair with itself as target (no "!"): the
// renamer then keeps the file where it is, whereas an odd count would make it
// delete the file (Wine) or pair it with our source. Throws Error for an empty
// source or target, or one containing a NUL.
std::string AppendPendingRename(const std::string& present, const std::string& source,
                                const std::string& target);

// Queues `source` to replace `target` at the next restart. Never raises and
// reports nothing: on any failure the stored list is left as it was.
//
// Linux: the list's bytes are kept in the file named by the environment
// variable UPDATEEXE_PENDING_RENAMES_FILE, by default
// /var/lib/updateexe/PendingFileRenameOperations for root and
// $XDG_STATE_HOME/updateexe/PendingFileRenameOperations (created 0700) for
// any other user. It is rewritten atomically under an advisory lock on
// "<file>.lock", waited for at most 10 s; a list, lock or folder that belongs
// to another user or that others may write is refused. updateexe-boot-renames
// carries the list out with its owner's rights: root's at boot, a user's when
// that user's service manager starts.
void ReplaceFileAtRestart(const std::string& source, const std::string& target);
// ReplaceFileAtRestart with the cause of a failure: the system's error, or
// std::errc::invalid_argument for a path the list cannot hold.
std::error_code QueueFileReplacement(const std::string& source, const std::string& target);

// Why a file queued for the restart by this user may never be replaced on
// this machine, as a sentence for the user, or "" when nothing says so.
// Linux: the unit that carries out this user's list (the system's for root,
// the user manager's for anyone else) is not installed where systemd reads
// units, the program its ExecStart= names is missing, or the unit is not
// enabled. Windows: always "", the system itself carries out the list.
std::string RestartReplacementWarning();

}  // namespace ue
