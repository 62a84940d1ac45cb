// The database backends of the Windows build: none yet. The ODBC store goes
// here, for both formats: the Microsoft Access driver for a Jet/ACE file and
// an SQLite ODBC driver for an SQLite file. Until then OpenStoreForFile
// refuses every database, saying what it needs.
#include "records/Store.h"

namespace ue {

std::span<const StoreBackend> LinkedStoreBackends() { return {}; }

}  // namespace ue
