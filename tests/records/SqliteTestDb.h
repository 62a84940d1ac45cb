// Test helpers for SQLite update databases made from records/schema.sql, and
// a second connection that plays the downloader.
#pragma once

#include <sqlite3.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

namespace ue::test {

inline std::string SchemaSql() {
    auto path = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "records" / "schema.sql";
    return ReadFileBytes(path.string());
}

// Another program's connection to the same file.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& path, bool create = false) {
        int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, flags, nullptr), SQLITE_OK);
    }
    ~OtherProgram() { sqlite3_close_v2(db_); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // Runs statements; returns SQLite's result code.
    int Exec(const std::string& sql) {
        char* err = nullptr;
        int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
        sqlite3_free(err);
        return rc;
    }
    // First column of the first row as text ("NULL" for null, "" for no row);
    // a type check is easy with typeof().
    std::string Query(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            out = p ? std::string(p, sqlite3_column_bytes(st, 0)) : "NULL";
        }
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

// Makes <dir>/UpdateFile.mdb from the reference schema plus `extraSql`.
inline std::string MakeUpdateDb(const TempDir& dir, const std::string& extraSql = "") {
    std::string path = dir.file("UpdateFile.mdb");
    OtherProgram maker(path, true);
    EXPECT_EQ(maker.Exec(SchemaSql()), SQLITE_OK);
    if (!extraSql.empty()) {
        EXPECT_EQ(maker.Exec(extraSql), SQLITE_OK) << extraSql;
    }
    return path;
}

}  // namespace ue::test
