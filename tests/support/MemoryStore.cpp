#include "tests/support/MemoryStore.h"

#include <utility>

#include "core/Errors.h"

namespace ue::test {

ColumnInfo Column(const std::string& name, const std::string& declaredType) {
    ColumnInfo c;
    c.name = name;
    c.declaredType = declaredType;
    c.kind = KindOfDeclaredType(declaredType);
    return c;
}

MemoryStore::Table& MemoryStore::AddTable(const std::string& name, std::vector<ColumnInfo> columns) {
    Table& t = tables_[name];
    t.defaults.assign(columns.size(), FieldValue::Null());
    t.columns = std::move(columns);
    return t;
}

MemoryStore::Table& MemoryStore::GetTable(const std::string& name) {
    auto it = tables_.find(name);
    if (it == tables_.end()) throw Error("no such table: " + name);
    return it->second;
}

std::int64_t MemoryStore::AddRow(const std::string& table, std::vector<FieldValue> values) {
    Table& t = GetTable(table);
    values.resize(t.columns.size());
    t.rows.push_back({t.nextRowId++, std::move(values)});
    return t.rows.back().rowid;
}

TableData MemoryStore::ReadTable(const std::string& table) {
    ++reads;
    Table& t = GetTable(table);
    return {t.columns, t.rows};
}

StoredRow MemoryStore::InsertRow(const std::string& table, const std::vector<ColumnInfo>&,
                                 const std::vector<std::size_t>& set,
                                 const std::vector<FieldValue>& values) {
    ++inserts;
    if (!failNextWrite.empty()) throw Error(std::exchange(failNextWrite, {}));
    Table& t = GetTable(table);
    StoredRow row{t.nextRowId++, t.defaults};
    for (std::size_t c : set) row.values.at(c) = values.at(c);
    t.rows.push_back(row);
    return row;
}

// Takes every row, as InsertRow does.
bool MemoryStore::TryInsertRow(const std::string& table, const std::vector<ColumnInfo>&,
                               const std::vector<std::size_t>&, const std::vector<FieldValue>&) {
    GetTable(table);
    return true;
}

StoredRow MemoryStore::UpdateRow(const std::string& table, const std::vector<ColumnInfo>&,
                                 const StoredRow& before, const std::vector<std::size_t>& set,
                                 const std::vector<FieldValue>& values) {
    ++updates;
    if (!failNextWrite.empty()) throw Error(std::exchange(failNextWrite, {}));
    for (StoredRow& r : GetTable(table).rows) {
        if (r.rowid == before.rowid && r.values == before.values) {
            for (std::size_t c : set) r.values.at(c) = values.at(c);
            return r;
        }
    }
    throw Error(table + ": the row was changed or removed by another program since it was read");
}

}  // namespace ue::test
