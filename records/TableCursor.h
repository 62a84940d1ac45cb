// The database connection and the cursor over one whole table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/FieldValue.h"
#include "records/Store.h"

namespace ue {

// The connection `ADOCDB`: its connection text names the database file with
// "Data Source=<path>;". Open chooses the store from the file.
class Connection {
public:
    std::string ConnectionString;
    // The database file. When set, Open takes it as it is and the connection
    // text only describes the connection: a path holding ";" or a quote
    // cannot be read back out of that text.
    std::string DataSource;

    void Open();   // raises Error with the store's message
    void Close();  // the cursors keep the rows they read
    bool Connected() const { return store_ != nullptr; }
    Store* GetStore() const { return store_.get(); }

    // The "Data Source" part of a connection text ("" when absent).
    static std::string DataSourceOf(const std::string& connectionString);

    // For tests and other backends: use an already opened store.
    void Attach(std::unique_ptr<Store> store) { store_ = std::move(store); }

private:
    std::unique_ptr<Store> store_;
};

// Cursor over the whole table `TableName`, read at OpenTable and kept in
// memory; FindRow answers from an index over those rows.
//
// Field names match without regard to letter case. Every operation but
// OpenTable, CloseTable, DiscardRow, FinishEdit, FindRow and the grid
// accessors raises Error naming the table when the cursor is closed. Past the
// last row (AtEnd) there is no current row and fields read as null.
// Moving (GoFirst, GoNext, FindRow) and BeginAppend finish a pending row
// first (FinishEdit); CloseTable and Reopen drop it.
class TableCursor {
public:
    enum class State { Closed, Browsing, Editing, Appending };

    TableCursor(Connection& connection, std::string tableName);
    ~TableCursor();
    TableCursor(const TableCursor&) = delete;
    TableCursor& operator=(const TableCursor&) = delete;

    const std::string& TableName() const { return table_; }
    State GetState() const { return state_; }
    bool IsOpen() const { return state_ != State::Closed; }

    void OpenTable();
    void CloseTable();
    void Reopen();
    void GoFirst();
    void GoNext();
    bool AtEnd() const;

    bool GetBool(std::string_view field) const;
    std::int32_t GetInt(std::string_view field) const;
    std::string GetText(std::string_view field) const;
    FieldValue GetValue(std::string_view field) const;

    void SetBool(std::string_view field, bool value);
    void SetInt(std::string_view field, std::int32_t value);
    void SetValue(std::string_view field, const FieldValue& value);

    void BeginEdit();
    void BeginAppend();
    void SaveRow();
    void DiscardRow();
    void FinishEdit();

    // Whether the store takes a new row holding `values` (the other columns
    // empty or their defaults), found out by inserting it and taking it back
    // at once, so that a refusal is known before the work the row is to
    // record. Raises what SetValue and SaveRow of that row would raise (a
    // value the column does not take, a missing value, the store's
    // constraints); false when another program's lock kept the store from
    // telling. The cursor, its rows and the table stay as they were.
    using FieldValues = std::vector<std::pair<std::string, FieldValue>>;
    bool TryAppend(const FieldValues& values);

    // keyFields: names joined by ";"; one value per name. Text matches text
    // over its whole length, numbers match numerically, null matches nothing.
    // The first matching row becomes current. Never raises: false on failure.
    bool FindRow(std::string_view keyFields, const std::vector<FieldValue>& values);

    // For the grids: columns in the table's field order, the rows (a pending
    // new row included while appending), and the current row's index.
    const std::vector<ColumnInfo>& Columns() const;
    std::size_t RowCount() const;
    std::size_t CurrentRow() const;  // == RowCount() when AtEnd
    FieldValue Cell(std::size_t row, std::size_t column) const;

    // What changed, told to the listener after each change so that a grid
    // repaints only the rows concerned. CurrentRow() and RowCount() already
    // hold the new state when the listener runs.
    struct Change {
        enum class Kind {
            Moved,        // GoFirst, GoNext, a FindRow that found: `previous` -> `row`
            RowChanged,   // a value or the state of `row`: edit begun, value set, saved, discarded
            RowAppended,  // `row` added at the end (BeginAppend's new row); it is current
            RowRemoved,   // `row` gone from the end (a new row discarded)
            Reset,        // anything: the table opened, closed or reopened
        };
        Kind kind;
        std::size_t row = 0;       // == RowCount() for a move past the last row
        std::size_t previous = 0;  // Moved only
    };
    using Listener = std::function<void(const Change&)>;
    void SetListener(Listener listener) { listener_ = std::move(listener); }

private:
    struct Impl;
    void Notify(Change::Kind kind, std::size_t row = 0, std::size_t previous = 0);
    void NotifyMoved(std::size_t previous);
    void RequireOpen() const;
    Store& RequireStore() const;
    std::size_t ColumnOf(std::string_view field) const;
    std::vector<std::size_t> ColumnsToWrite(const std::vector<FieldValue>& row,
                                            const std::vector<bool>& assigned, bool appending) const;
    FieldValue ValueToSet(std::size_t column, const FieldValue& value) const;
    const FieldValue& RawValue(std::size_t column) const;


    Connection& connection_;
    std::string table_;
    State state_ = State::Closed;
    std::unique_ptr<Impl> impl_;
    Listener listener_;
};

}  // namespace ue
