// The database backends of the Windows build: the ODBC store for both
// formats, through the Microsoft Access driver for a Jet/ACE file and an
// SQLite ODBC driver for an SQLite file.
#include "records/OdbcStore.h"
#include "records/Store.h"

namespace ue {

namespace {

std::unique_ptr<Store> OpenSqliteOverOdbc(const std::string& path) {
    return OpenOdbcStore(path, DatabaseFormat::SQLite);
}

std::unique_ptr<Store> OpenAccessOverOdbc(const std::string& path) {
    return OpenOdbcStore(path, DatabaseFormat::Access);
}

}  // namespace

std::span<const StoreBackend> LinkedStoreBackends() {
    static constexpr StoreBackend kBackends[] = {
        {DatabaseFormat::SQLite, "SQLite (ODBC)", &OpenSqliteOverOdbc},
        {DatabaseFormat::Access, "Access (ODBC)", &OpenAccessOverOdbc},
    };
    return kBackends;
}

}  // namespace ue
