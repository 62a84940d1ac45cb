// The ODBC backend of the store, for the Windows build: the Microsoft Access
// driver for a Jet/ACE file, an SQLite ODBC driver for an SQLite file. Every
// call is a W call; text crosses the boundary as UTF-16 and is UTF-8 inside.
//
// The connection is shared (never exclusive), in autocommit: no transaction
// is ever opened and every save reaches the file at once. A save that meets
// a lock held by the downloader is retried for a few seconds.
//
// Jet has no rowid, so a row is found again by the values it was read with:
// an update is
//   UPDATE [T] SET [a] = ?, ... WHERE [c] = ? AND [d] IS NULL AND [b] <> 0 ...
// over every comparable column (see below), and changing no row is the
// optimistic failure ("changed or removed by another program"). Rows that
// agree in every comparable column cannot be told apart: an update changes
// all of them, as a driver with no row identity must.
//
// Every statement keeps within Jet SQL, which the Access driver passes on:
// - names in [brackets] (a name holding "]" is refused), never "quoted";
// - values only as ? parameters, never spliced into the text;
// - IS only in "IS NULL", never between two expressions (no "IS ?");
// - no LIMIT, TOP, RETURNING or DEFAULT VALUES; one statement per call;
// - booleans are compared as "<> 0" / "= 0": Jet's true is -1, ODBC's 1.
//
// Comparable columns: booleans, integers, and text of bounded length (char,
// varchar and their W forms). Left out: binary columns, and everything
// opaque (dates, decimals, floats, GUIDs), whose text form need not compare
// equal to the stored value. Long text (longvarchar) is left out for Jet,
// whose MEMO columns cannot be compared, and compared for the SQLite driver,
// which reports every TEXT column as longvarchar. Text compares the way the
// engine compares it: Jet without regard to letter case.
//
// Under Wine the drivers are the host's (unixODBC), which take host paths:
// when kernel32 exports wine_get_unix_file_name, the driver gets the path it
// returns. The SQLite driver always gets NoCreat=1, so that a missing file is
// refused rather than created: the updater never creates the database.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "records/Store.h"

namespace ue {

// The drivers tried for a format, in order: "Microsoft Access Driver (*.mdb,
// *.accdb)" then "Microsoft Access Driver (*.mdb)"; "SQLite3 ODBC Driver"
// then "SQLite3".
std::span<const char* const> OdbcDriversFor(DatabaseFormat format);

// Opens the database at `path` through the first of `drivers` that is
// installed. Never creates the file. Raises Error naming the path: with the
// drivers tried when none is installed, else with the driver's message.
std::unique_ptr<Store> OpenOdbcStore(const std::string& path, DatabaseFormat format,
                                     std::span<const char* const> drivers);
// The same with OdbcDriversFor(format).
std::unique_ptr<Store> OpenOdbcStore(const std::string& path, DatabaseFormat format);

// The path as the installed drivers take it: the host path under Wine, else
// `path` itself.
std::string OdbcDriverPath(const std::string& path);

// The SQLite driver's Database value for the driver path `path`: the path
// itself, or, where it holds what a connection text cannot carry (";", "=",
// braces, which the driver does not honour) or what Wine's bridge to the
// host's driver narrows to single bytes (anything not ASCII), a file: URI
// with every such byte percent-encoded, which the driver hands to SQLite.
std::string SqliteDatabaseValue(const std::string& path);

}  // namespace ue
