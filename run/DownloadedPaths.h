// The rules for names that come from the database and Update.ini: what a
// row's FileName and UpdatePath, and the names of the suite's programs, may
// be. Pure text rules, the same on both platforms (one database serves both).
#pragma once

#include <string>
#include <string_view>

namespace ue {

// "/" and "\\" both separate names in the texts the downloader writes.
bool IsSeparator(char c);

// ".", "..", ". " and the like: names of a directory, never of a file.
bool IsDotName(std::string_view name);

// A relative path that stays where it is appended: no step to a parent
// ("\\" and "/" both separate names) and no NUL byte.
bool StaysInside(std::string_view relative);

// Why Windows would not take `part` (a file name or one folder of a path) as
// the plain name it reads as; empty when it would.
std::string WindowsNameFault(std::string_view part);

// Raises Error when a downloaded row's FileName is no bare file name, its
// UpdatePath could lead outside the installation directory (a drive, a share
// or "\\?\" path, a ".." step), or either names what Windows would not take
// as written: a ':' (drive or data stream), a device name (CON, NUL, COM1,
// LPT1, also with an extension), a trailing dot or blank. A FileName the run
// keeps for its own files is refused too. Both platforms refuse the same
// rows. An empty FileName or UpdatePath is allowed.
void CheckDownloadedPaths(const std::string& fileName, const std::string& updatePath);

// Raises Error when the program `name` that Update.ini gives under `key`
// (ExeFile, ExeFile2) would lie outside the installation directory (as
// UpdatePath: a drive, a share or "\\?\" path, a ".." step), or a part of
// it names what Windows would not take as written (as FileName).
void CheckProgramName(const std::string& key, const std::string& name);

// True when the extension of `fileName` (from its last dot) is ".EXE" in any
// letter case.
bool HasExeExtension(const std::string& fileName);

}  // namespace ue
