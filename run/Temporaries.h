// The run's own temporary files: the copies' temporaries beside their
// targets, the kept download and the expansion's temporary beside a payload.
// Each is recorded in a journal in the installation folder before it is
// created and struck off once it is gone, so that a run ended in between (a
// crash, a SIGTERM, a power cut) leaves its leftovers named, and the next run
// removes them. A file is the run's own only while the journal names it:
// anything else under such a name (a download of that name, someone's file
// or link) is never taken or deleted. The journal is removed once it names
// nothing, so a run that ends normally leaves no trace of it.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

namespace ue {

namespace fileio {
class Root;
}

// While a payload is being expanded, its downloaded form is kept beside it
// under this suffix, until the row's new FileType is saved. A run that finds
// it with FileType still 5 puts the payload back and expands it again.
inline constexpr char kKeptPayloadSuffix[] = ".ue-keep";

// The journal's name in the installation folder. Each entry is a path
// relative to that folder, ended by a NUL (a FileName never holds one).
inline constexpr char kTemporariesJournal[] = ".UpdateExe-temporaries";
// The journal is rewritten through kTemporariesJournal + this, beside it.
inline constexpr char kJournalTemporarySuffix[] = ".~ue";

// What a journal may hold. The run never writes more, so what lies beyond
// is no entry of ours and is not read: the journal is read in pieces and
// never whole, whatever its size.
inline constexpr std::size_t kMaxJournalEntry = 32 * 1024;  // bytes of one entry
inline constexpr std::size_t kMaxJournalEntries = 1024;

class Temporaries {
public:
    enum class Found { Nothing, Ours, Foreign };

    // The journal of the installation folder `base` (with its trailing
    // separator). Earlier versions kept theirs in the folder `legacyFolder`
    // (relative to `base`), naming the kept downloads and the expansions'
    // temporaries relative to it; it is read once and taken over. `root`,
    // when given, is the installation folder opened as a root: leftovers and
    // that journal are then looked at, read and removed only through folders
    // opened beneath it, so that a folder swapped for a link leads nowhere
    // outside (a leftover whose folder leads outside stays recorded).
    Temporaries(std::string base, std::string legacyFolder, const fileio::Root* root = nullptr);

    // At the start of a run, before it makes any temporary: removes every
    // regular file the journal names (never a link, a folder or another
    // kind), except those that `keep` holds on to (it gets the path relative
    // to the installation folder), and strikes off what is gone. Raises
    // when the journal can be neither read nor written back.
    void ClearLeftovers(const std::function<bool(const std::string& relative)>& keep);

    // What lies at `path` (the installation folder followed by a relative
    // path): a regular file the journal names is ours. Raises with `action`
    // and the system's reason when the name cannot be looked at (too long
    // for the system, a folder we may not search): that is no file in the way.
    Found Look(const std::string& path, std::string_view action);

    // Records `paths` before any of them is created; raises when it cannot.
    void Record(std::initializer_list<std::string> paths);

    // Strikes off those of `paths` under which nothing lies any more. The
    // journal is written with the next Record or with Settle: until then a
    // name struck off stays recorded, which only makes the next run look
    // for it.
    void Forget(std::initializer_list<std::string> paths) noexcept;

    // Writes what Forget struck off.
    void Settle() noexcept;

    // A name for a copy's temporary beside `target` ("<target>.~ueXXXXXX",
    // the X being letters and digits picked at random; in the target's folder
    // as ".~ueXXXXXX" when the target's name leaves no room for the suffix).
    static std::string CopyTemporaryName(const std::string& target);

private:
    std::string Relative(const std::string& path) const;
    void Load();
    std::error_code Write() const;
    std::error_code RemoveLeftover(const std::string& path) const;

    std::string base_;
    std::string legacyFolder_;
    std::string journal_;
    const fileio::Root* root_;
    std::set<std::string> names_;  // relative to base_
    bool loaded_ = false;
    bool unsettled_ = false;
};

}  // namespace ue
