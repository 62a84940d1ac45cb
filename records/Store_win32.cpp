// Windows has no database backend yet: the ODBC store (Access driver for a
// Jet/ACE file, an SQLite ODBC driver for an SQLite file) is still to come.
#include "core/Errors.h"
#include "records/Store.h"

namespace ue {

std::unique_ptr<Store> OpenStoreForFile(const std::string& path) {
    // Missing files and files that are no database get their own messages.
    DatabaseFormat format = DetectDatabaseFormat(path);
    throw Error("The update database \"" + path + "\" (" +
                (format == DatabaseFormat::Access ? "Access" : "SQLite") +
                ") cannot be opened: this Windows build has no database backend yet "
                "(the ODBC backend is not built in)");
}

}  // namespace ue
