// What UpdateExe needs of the three tables of the update database, and the
// check of an opened table against it. The downloader creates the tables;
// a table that lacks a column UpdateExe reads, or that refuses the rows
// UpdateExe writes, would let a file be applied without being logged while
// the version is still raised. So the tables are checked when they are
// opened, before any file is touched.
#pragma once

#include <span>
#include <string_view>

#include "records/TableCursor.h"

namespace ue {

struct ContractColumn {
    std::string_view name;
    // UpdateExe writes the column: into every row it appends, and for
    // DownLoadFileLog.FileType into the row it edits. The store must not
    // compute it.
    bool written;
};

struct TableContract {
    // When UpdateExe adds a row to the table, filling only the written
    // columns: never, only when the table is empty, or for every applied file.
    enum class Appends { Never, WhenEmpty, Always };

    std::string_view table;
    std::span<const ContractColumn> columns;  // in the order records/schema.sql declares them
    Appends appends;
};

// The contract of CurSoftInfo, DownLoadFileLog and UpdateFileLog, in that order.
std::span<const TableContract> UpdateDatabaseContract();

// Checks the columns of the open cursor `table` against the contract of its
// table (names match without regard to ASCII letter case). Raises Error
// naming the table, every problem and what to do, when a contract column is
// missing, when a column UpdateExe writes is computed by the store, or when
// a row UpdateExe may append would leave a NOT NULL column without a default
// empty (for CurSoftInfo only while it has no row). Extra nullable columns
// and declared types are no problem. A table outside the contract passes.
void CheckTableContract(const TableCursor& table);

}  // namespace ue
