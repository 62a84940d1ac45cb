// A Store held in memory, for tests of the cursor logic that need no database
// engine (they run on every platform). Tests add rows behind the cursors'
// backs, as another program would, and can make the next write fail.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/Store.h"

namespace ue::test {

// A column as the tests declare it: name and declared type, kind derived.
ColumnInfo Column(const std::string& name, const std::string& declaredType);

class MemoryStore : public Store {
public:
    struct Table {
        std::vector<ColumnInfo> columns;
        std::vector<FieldValue> defaults;  // one per column; used when an insert leaves it out
        std::vector<StoredRow> rows;
        std::int64_t nextRowId = 1;
    };

    Table& AddTable(const std::string& name, std::vector<ColumnInfo> columns);
    Table& GetTable(const std::string& name);

    // What another program does: add a row directly.
    std::int64_t AddRow(const std::string& table, std::vector<FieldValue> values);

    std::string failNextWrite;  // the next InsertRow or UpdateRow raises Error with this message
    int reads = 0, inserts = 0, updates = 0;  // calls that reached the store

    TableData ReadTable(const std::string& table) override;
    StoredRow InsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                        const std::vector<std::size_t>& set,
                        const std::vector<FieldValue>& values) override;
    bool TryInsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                      const std::vector<std::size_t>& set,
                      const std::vector<FieldValue>& values) override;
    StoredRow UpdateRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                        const StoredRow& before, const std::vector<std::size_t>& set,
                        const std::vector<FieldValue>& values) override;

private:
    std::map<std::string, Table> tables_;
};

}  // namespace ue::test
