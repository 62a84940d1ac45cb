// The installation folder as a root: opened once, and every later operation
// on a path beneath it resolves that path at the moment of use, so that a
// folder swapped for a link meanwhile (while a dialog waits for the user, say)
// leads nowhere outside.
//   Linux: a descriptor of the root; a path's folder is opened from it with
//     openat2(RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS), or by a walk that
//     reads each link itself, and the name is then used relative to that
//     folder's descriptor (openat, renameat, unlinkat).
//   Windows: the root's final path; a path's folder is opened and held
//     without delete sharing, so that nobody can rename or replace it while
//     it is held, and its final path must lie beneath the root's. The name
//     is then used by its path, through that held folder.
#pragma once

#include <deque>
#include <string>
#include <system_error>

#include "core/FileIO.h"

namespace ue::fileio {

// One name in a folder opened beneath a root. Move-only.
class Place {
public:
    Place() = default;
    Place(Place&&) = default;
    Place& operator=(Place&&) = default;

    const File& Folder() const { return folder_; }
    const std::string& Name() const { return name_; }
    // The whole path, as given: for messages.
    const std::string& Path() const { return path_; }

    // What lies under the name, not following a link.
    std::error_code StatusOf(Status& status) const;
    // Opens the regular file under the name for reading. A link is never
    // followed (std::errc::too_many_symbolic_link_levels, as an open that does
    // not follow links says); a folder, FIFO or device is refused
    // (is_a_directory, invalid_argument) without waiting on it.
    std::error_code OpenForReading(File& file) const;
    // Replaces the file under the name whole, as ReplaceAtomically does;
    // `temporary` is a name in the same folder (a trailing "XXXXXX" is made
    // unique). A link under the name is replaced, never written through.
    std::error_code Replace(const std::string& temporary, const ContentWriter& write,
                            const ReplaceOptions& options = {}) const;
    // Removes the file or link under the name; nothing there is no error.
    std::error_code Remove() const;
    // Gives the file under the name the further name `name` in the same
    // folder (a hard link: no content is copied; an existing `name` is an
    // error) and makes it durable. A link under the name is never followed
    // (Linux: the new name is another link; Windows: refused,
    // too_many_symbolic_link_levels). Fails where the file system has no
    // hard links.
    std::error_code Link(const std::string& name) const;

private:
    friend class Root;
    File folder_;
    std::string name_;
    std::string path_;
#ifdef _WIN32
    std::string folderPath_;  // with its trailing separator
#endif
};

#ifdef _WIN32
// Where an open file or folder really is, every link and junction on the way
// followed: its volume and its normalized path on that volume ("\\dir\\name",
// no trailing separator).
struct FinalName {
    unsigned long volume = 0;
    std::wstring path;
};
std::error_code FinalNameOf(void* handle, FinalName& name);
#endif

class Root {
public:
    // Opens the folder `dir` (with or without a trailing separator).
    static std::error_code Open(const std::string& dir, Root& root);

    bool Valid() const { return folder_.Valid(); }
    // The folder as given, with its trailing separator.
    const std::string& Path() const { return path_; }

    // `path` is Path() followed by a relative path whose last name is a file
    // (either separator on Windows). Opens the folder holding that name
    // beneath the root. std::errc::cross_device_link when the path does not
    // start with Path(), names no file (".", "..", empty), or a step, a link
    // or a junction on the way leads outside; the system's error when a
    // folder on the way is missing or cannot be opened.
    std::error_code Locate(const std::string& path, Place& place) const;

    // `path` is Path() followed by a relative path of folders (or Path()
    // itself). Creates those that are missing, each in its folder as opened
    // beneath the root at that moment, so that nothing is created through a
    // folder swapped for a link meanwhile. std::errc::cross_device_link as
    // for Locate, when a step leads outside (nothing is created there); the
    // system's error when a step cannot be made or is no folder.
    std::error_code CreateFolders(const std::string& path) const;

private:
#ifdef _WIN32
    std::error_code HoldBeneath(const std::string& folder, File& held) const;
#else
    std::error_code OpenBeneath(std::deque<std::string> names, File& folder) const;
#endif

    File folder_;
    std::string path_;
#ifdef _WIN32
    FinalName final_;  // where the root really is
#else
    std::string realPath_;  // the root's real path, for absolute links that name it
#endif
};

}  // namespace ue::fileio
