// The store behind the table cursors. A store reads whole tables and writes
// single rows at once; it holds no transaction between calls. Backends are
// named for what they are (SqliteStore, OdbcStore); each build links the
// ones its platform reaches the file through, and the file's first bytes
// choose among them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/FieldValue.h"

namespace ue {

struct ColumnInfo {
    std::string name;          // as the table declares it
    std::string declaredType;  // as the table declares it, e.g. "BOOLEAN"
    FieldKind kind = FieldKind::Opaque;
    bool notNull = false;      // must hold a value on save
    bool hasDefault = false;   // the store fills it when an insert leaves it out
    bool generated = false;    // the store computes it; may not be set
};

// One row as read: the values in column order, exactly as the store holds
// them, and what the store needs to find the row again. A store keeps one of
// the two fields below and leaves the other as it is.
struct StoredRow {
    // The SQLite store's rowid, by which an update finds the row. The ODBC
    // store keeps 0: Jet has no rowid, so a row is found by its values.
    std::int64_t rowid = 0;
    std::vector<FieldValue> values;
    // The ODBC store: bit c (columns past 63 share bit 63) is set while the
    // value the store gave column c at insert (a default, a counter) is not
    // known, so the optimistic check leaves that column out.
    std::uint64_t unknownColumns = 0;
};

struct TableData {
    std::vector<ColumnInfo> columns;
    std::vector<StoredRow> rows;
};

class Store {
public:
    virtual ~Store() = default;

    // Reads the whole table through "select * from <table>". Raises Error with
    // the store's own message when the table cannot be read.
    virtual TableData ReadTable(const std::string& table) = 0;

    // Inserts a row; only the columns named in `set` (indexes into `columns`)
    // are given values, the others get the store's defaults. Returns the row
    // as the store now holds it.
    virtual StoredRow InsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                                const std::vector<std::size_t>& set,
                                const std::vector<FieldValue>& values) = 0;

    // Inserts the row InsertRow would insert and takes it back at once, so
    // that a refusal that would last (a constraint, a value a column does not
    // take) is found before the work the row records is done. Returns true
    // when the store took the row; raises Error with the store's message, as
    // InsertRow would, when it refused it; returns false when another
    // program's lock kept it from telling, a cause that passes. Nothing of
    // the row stays in the store.
    virtual bool TryInsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                              const std::vector<std::size_t>& set,
                              const std::vector<FieldValue>& values) = 0;

    // Updates the columns in `set` of the row `before`, but only while
    // the row still holds every value of `before` (optimistic check). Raises
    // Error when the row was changed or removed by another program meanwhile.
    // `values` holds one value per column; only those in `set` are written.
    // Returns the row as the store now holds it.
    virtual StoredRow UpdateRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                           const StoredRow& before, const std::vector<std::size_t>& set,
                           const std::vector<FieldValue>& values) = 0;
};

// The kind of a column from its declared type: BOOLEAN/BOOL/BIT/YESNO ->
// Boolean; INT... (and Access's LONG, SHORT, BYTE, COUNTER, AUTOINCREMENT) ->
// Integer; CHAR/TEXT/CLOB... (and MEMO, STRING) -> Text; anything else Opaque.
FieldKind KindOfDeclaredType(std::string_view declaredType);

// What the first bytes of a database file say it is.
enum class DatabaseFormat { SQLite, Access };

// Looks at the first bytes of `path`: "SQLite format 3\0" -> SQLite,
// "Standard Jet DB"/"Standard ACE DB" at offset 4 -> Access. Raises Error
// naming the path when the file is missing, unreadable or neither.
DatabaseFormat DetectDatabaseFormat(const std::string& path);

// A backend this build links: the file format it opens and how to open it.
struct StoreBackend {
    DatabaseFormat format;
    const char* name;  // for messages, e.g. "SQLite (libsqlite3)"
    std::unique_ptr<Store> (*open)(const std::string& path);
};

// The backends this build links, at most one per format. Each platform lists
// its own (Store_posix.cpp, Store_win32.cpp).
std::span<const StoreBackend> LinkedStoreBackends();

// Opens the store for a database file through the linked backend for the
// file's format (DetectDatabaseFormat). Never creates the file. Raises Error
// naming the path when the file is missing, is no database, or needs a
// backend this build lacks (the message says what it needs).
std::unique_ptr<Store> OpenStoreForFile(const std::string& path);

}  // namespace ue
