// The database backends of the Linux build: SQLite through libsqlite3. An
// Access (Jet/ACE) file has none here; the Windows build reaches it through
// ODBC.
#include "records/SqliteStore.h"
#include "records/Store.h"

namespace ue {

std::span<const StoreBackend> LinkedStoreBackends() {
    static constexpr StoreBackend kBackends[] = {
        {DatabaseFormat::SQLite, "SQLite (libsqlite3)", &OpenSqliteStore},
    };
    return kBackends;
}

}  // namespace ue
