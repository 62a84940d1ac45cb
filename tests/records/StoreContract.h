// The store contract: what every database backend must do for the table
// cursors, checked through the whole stack (connection text, OpenStoreForFile,
// the backend, TableCursor) on a file that another program shares. The cases
// are in StoreContract_ptest.cpp; a backend runs them by instantiating
// StoreContract with its StoreContractBackend where its test database is
// built (SqliteStore_test.cpp for the SQLite store).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "records/TableCursor.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDatabase.h"

namespace ue::test {

// What the contract needs to know of a backend. The store itself is opened
// as UpdateExe opens it: OpenStoreForFile chooses it from the file.
struct StoreContractBackend {
    const char* name;  // names the instantiated tests
    // Creates an empty database file at `path` in the backend's format and
    // gives another program's connection to it.
    std::unique_ptr<TestDatabase> (*createDatabase)(const std::string& path);
    // The store's own message for reading a table that does not exist.
    std::string (*missingTableMessage)(const std::string& table);
};

inline void PrintTo(const StoreContractBackend& backend, std::ostream* os) { *os << backend.name; }

// UpdateFile.mdb made from records/schema.sql, a connection to it as
// UpdateExe makes it, the three tables' cursors, and another program (the
// downloader) working on the same file.
class StoreFixture : public ::testing::Test {
protected:
    virtual const StoreContractBackend& Backend() const = 0;

    // Creates the database from the schema, then runs `statements` one by one.
    void Connect(std::initializer_list<std::string_view> statements = {}) {
        other = Backend().createDatabase(path);
        // Not beside __FILE__: a compiler cache may make that path relative.
        auto schema = std::filesystem::path(UE_SOURCE_DIR) / "records" / "schema.sql";
        other->Exec(ReadFileBytes(schema.string()));
        for (std::string_view sql : statements) other->Exec(std::string(sql));
        connection.ConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
                                      ";Persist Security Info=False";
        connection.Open();
    }

    // What the other program reads: the rows of `sql` as text, null as "NULL".
    SqlRows Rows(const std::string& sql) { return other->Query(sql); }
    // The first column of the first row ("" when there is no row).
    std::string Value(const std::string& sql) {
        SqlRows rows = other->Query(sql);
        return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
    }

    TempDir dir;
    std::string path = dir.file("UpdateFile.mdb");
    std::unique_ptr<TestDatabase> other;
    Connection connection;
    TableCursor info{connection, "CurSoftInfo"};
    TableCursor down{connection, "DownLoadFileLog"};
    TableCursor log{connection, "UpdateFileLog"};
};

class StoreContract : public StoreFixture, public ::testing::WithParamInterface<StoreContractBackend> {
protected:
    const StoreContractBackend& Backend() const override { return GetParam(); }
};

}  // namespace ue::test
