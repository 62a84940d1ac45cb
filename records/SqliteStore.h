// The SQLite backend of the store, over libsqlite3. The build links it where
// libsqlite3 is the way to the file (Linux); OpenStoreForFile picks it for a
// file that starts with the SQLite header.
#pragma once

#include <memory>
#include <string>

#include "records/Store.h"

namespace ue {

// Opens the SQLite database at `path` for reading and writing; never creates
// it. Raises Error naming the path when the file cannot be opened or is not a
// readable SQLite database.
std::unique_ptr<Store> OpenSqliteStore(const std::string& path);

}  // namespace ue
