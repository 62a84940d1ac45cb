#include "records/TableCursor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>
#include <utility>

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "core/Text.h"

namespace ue {

namespace {

using text::LowerAscii;
using text::Trim;

bool ParseBoolWord(std::string_view s, bool& out) {
    const std::string w = LowerAscii(s);
    if (w == "true" || w == "yes" || w == "1" || w == "-1") return out = true, true;
    if (w == "false" || w == "no" || w == "0") return out = false, true;
    return false;
}

// Integer text as the cursor reads it, in GetInt, in the value stored into
// an integer column and in the lookup key alike: blanks around the number
// are no part of it (' 7 ' is 7), anything else is ParseInteger's rule.
bool IntegerText(std::string_view s, std::int64_t& out) { return ParseInteger(Trim(s), out); }

bool IntegralReal(double d, std::int64_t& out) {
    if (!std::isfinite(d) || d != std::floor(d) || d < -9.2233720368547758e18 ||
        d >= 9.2233720368547758e18) {
        return false;
    }
    out = static_cast<std::int64_t>(d);
    return true;
}

std::string DisplayText(const FieldValue& v) {
    return v.kind() == FieldValue::Kind::Blob ? v.AsBlob() : v.ToDisplayText();
}

[[noreturn]] void CannotAccess(const std::string& field, const char* type) {
    throw Error("Cannot access field '" + field + "' as type " + type);
}

// The value a column's kind makes of what the store holds: booleans from
// 0/1, integers from whole reals, text from numbers. Anything else whole.
FieldValue Typed(FieldKind kind, const FieldValue& raw) {
    using K = FieldValue::Kind;
    switch (kind) {
    case FieldKind::Boolean:
        switch (raw.kind()) {
        case K::Integer: return FieldValue::Bool(raw.AsInt() != 0);
        case K::Real: return FieldValue::Bool(raw.AsReal() != 0.0);
        case K::Text: {
            bool b;
            return ParseBoolWord(raw.AsText(), b) ? FieldValue::Bool(b) : raw;
        }
        default: return raw;
        }
    case FieldKind::Integer: {
        std::int64_t i;
        if (raw.kind() == K::Real && IntegralReal(raw.AsReal(), i)) return FieldValue::Int(i);
        return raw;
    }
    case FieldKind::Text:
        // A blob is read as it is held, so that copying it keeps its storage
        // class; GetText reads its bytes.
        if (raw.IsNull() || raw.kind() == K::Text || raw.kind() == K::Blob) return raw;
        return FieldValue::Text(DisplayText(raw));
    case FieldKind::Opaque: return raw;
    }
    return raw;
}

// The value to store for `v` in a column of `kind`; raises when it does not
// fit the column. Booleans are stored as 0/1.
FieldValue StoreForm(FieldKind kind, const FieldValue& v, const std::string& field) {
    using K = FieldValue::Kind;
    if (v.IsNull()) return v;
    switch (kind) {
    case FieldKind::Boolean:
        switch (v.kind()) {
        case K::Boolean: return FieldValue::Int(v.AsBool() ? 1 : 0);
        case K::Text: {
            bool b;
            if (ParseBoolWord(v.AsText(), b)) return FieldValue::Int(b ? 1 : 0);
            CannotAccess(field, "Boolean");
        }
        case K::Integer: CannotAccess(field, "Integer");
        default: CannotAccess(field, "Boolean");
        }
    case FieldKind::Integer: {
        // Numbers become integers; anything else the column may hold (an
        // identifier copied from another row) is carried whole.
        std::int64_t i;
        switch (v.kind()) {
        case K::Boolean: CannotAccess(field, "Boolean");
        case K::Real: return IntegralReal(v.AsReal(), i) ? FieldValue::Int(i) : v;
        case K::Text: return IntegerText(v.AsText(), i) ? FieldValue::Int(i) : v;
        default: return v;
        }
    }
    case FieldKind::Text:
        // A blob stays a blob: its bytes need not be valid text, and other
        // readers of the table rely on each value's storage class.
        if (v.kind() == K::Text || v.kind() == K::Blob || v.kind() == K::Real) return v;
        return FieldValue::Text(v.ToDisplayText());
    case FieldKind::Opaque:
        if (v.kind() == K::Boolean) return FieldValue::Int(v.AsBool() ? 1 : 0);
        return v;
    }
    return v;
}

// Key encoding for the lookup index: one tagged part per field, so that
// text compares byte for byte over its whole length and numbers compare
// numerically. Null gives no key: it matches nothing.
void PutInt(std::string& key, std::int64_t i) {
    key += 'i';
    char bytes[8];
    std::memcpy(bytes, &i, 8);
    key.append(bytes, 8);
}

void PutBytes(std::string& key, char tag, const std::string& s) {
    key += tag;
    std::uint64_t n = s.size();
    char bytes[8];
    std::memcpy(bytes, &n, 8);
    key.append(bytes, 8);
    key += s;
}

bool PutKeyPart(std::string& key, FieldKind kind, const FieldValue& v) {
    using K = FieldValue::Kind;
    std::int64_t i;
    bool b;
    switch (v.kind()) {
    case K::Null: return false;
    case K::Boolean: PutInt(key, v.AsBool() ? 1 : 0); return true;
    case K::Integer:
        if (kind == FieldKind::Text) PutBytes(key, 't', std::to_string(v.AsInt()));
        else PutInt(key, kind == FieldKind::Boolean ? (v.AsInt() != 0) : v.AsInt());
        return true;
    case K::Real:
        if (kind == FieldKind::Boolean) {
            PutInt(key, v.AsReal() != 0.0);
        } else if (IntegralReal(v.AsReal(), i)) {
            PutInt(key, i);
        } else {
            double d = v.AsReal();
            char bytes[8];
            std::memcpy(bytes, &d, 8);
            key += 'r';
            key.append(bytes, 8);
        }
        return true;
    case K::Text:
        if (kind == FieldKind::Boolean && ParseBoolWord(v.AsText(), b)) PutInt(key, b ? 1 : 0);
        else if (kind == FieldKind::Integer && IntegerText(v.AsText(), i)) PutInt(key, i);
        else PutBytes(key, 't', v.AsText());
        return true;
    // In a text column a blob matches the text of the same bytes, so that a
    // name kept as a blob is found again.
    case K::Blob: PutBytes(key, kind == FieldKind::Text ? 't' : 'b', v.AsBlob()); return true;
    }
    return false;
}

struct KeyIndex {
    std::vector<std::size_t> columns;
    // Row numbers in ascending order for each key.
    std::unordered_map<std::string, std::vector<std::size_t>> rows;
};

}  // namespace

struct TableCursor::Impl {
    std::vector<ColumnInfo> columns;
    std::unordered_map<std::string, std::size_t> byName;  // lower-case name -> column
    std::vector<StoredRow> rows;
    std::size_t current = 0;  // == rows.size() at the end

    // The row being edited or appended.
    std::vector<FieldValue> pending;
    std::vector<bool> assigned;
    bool anyAssigned = false;
    std::size_t currentBeforeAppend = 0;

    std::map<std::vector<std::size_t>, KeyIndex> indexes;

    bool BuildKey(const std::vector<std::size_t>& cols, const std::vector<FieldValue>& values,
                  std::string& key) const {
        key.clear();
        for (std::size_t c : cols) {
            if (!PutKeyPart(key, columns[c].kind, values[c])) return false;
        }
        return true;
    }

    KeyIndex& IndexFor(const std::vector<std::size_t>& cols) {
        auto [it, inserted] = indexes.try_emplace(cols);
        KeyIndex& index = it->second;
        if (inserted) {
            index.columns = cols;
            index.rows.reserve(rows.size());
            std::string key;
            for (std::size_t r = 0; r < rows.size(); ++r) {
                if (BuildKey(cols, rows[r].values, key)) index.rows[key].push_back(r);
            }
        }
        return index;
    }

    // Keeps every index current after row `r` changed from `before`
    // (`before` == nullptr for a row just added at the end).
    void Reindex(std::size_t r, const std::vector<FieldValue>* before) {
        std::string oldKey, newKey;
        for (auto& [cols, index] : indexes) {
            bool hadKey = before && BuildKey(cols, *before, oldKey);
            bool hasKey = BuildKey(cols, rows[r].values, newKey);
            if (hadKey && hasKey && oldKey == newKey) continue;
            if (hadKey) {
                auto it = index.rows.find(oldKey);
                if (it != index.rows.end()) {
                    auto& list = it->second;
                    list.erase(std::remove(list.begin(), list.end(), r), list.end());
                    if (list.empty()) index.rows.erase(it);
                }
            }
            if (hasKey) {
                auto& list = index.rows[newKey];
                list.insert(std::lower_bound(list.begin(), list.end(), r), r);
            }
        }
    }
};

TableCursor::TableCursor(Connection& connection, std::string tableName)
    : connection_(connection), table_(std::move(tableName)), impl_(std::make_unique<Impl>()) {}

TableCursor::~TableCursor() = default;

void TableCursor::Notify(Change::Kind kind, std::size_t row, std::size_t previous) {
    if (listener_) listener_(Change{kind, row, previous});
}

void TableCursor::NotifyMoved(std::size_t previous) {
    Notify(Change::Kind::Moved, impl_->current, previous);
}

void TableCursor::RequireOpen() const {
    if (state_ == State::Closed) {
        throw Error(Message(MessageId::TableClosed, {table_}));
    }
}

Store& TableCursor::RequireStore() const {
    Store* store = connection_.GetStore();
    if (!store) throw Error(Message(MessageId::TableNotConnected, {table_}));
    return *store;
}

std::size_t TableCursor::ColumnOf(std::string_view field) const {
    RequireOpen();
    auto it = impl_->byName.find(LowerAscii(field));
    if (it == impl_->byName.end()) {
        throw Error(table_ + ": Field '" + std::string(field) + "' not found");
    }
    return it->second;
}

const FieldValue& TableCursor::RawValue(std::size_t column) const {
    static const FieldValue null;
    if (state_ == State::Editing || state_ == State::Appending) return impl_->pending[column];
    if (impl_->current < impl_->rows.size()) return impl_->rows[impl_->current].values[column];
    return null;  // no current row: an empty table reads as null
}

void TableCursor::OpenTable() {
    if (state_ != State::Closed) return;
    TableData data = RequireStore().ReadTable(table_);
    Impl& d = *impl_;
    d = Impl{};
    d.columns = std::move(data.columns);
    d.rows = std::move(data.rows);
    for (std::size_t c = 0; c < d.columns.size(); ++c) {
        d.byName.try_emplace(LowerAscii(d.columns[c].name), c);
    }
    d.current = 0;
    state_ = State::Browsing;
    Notify(Change::Kind::Reset);
}

void TableCursor::CloseTable() {
    if (state_ == State::Closed) return;
    // A row still pending is dropped, as nothing asked to save it.
    *impl_ = Impl{};
    state_ = State::Closed;
    Notify(Change::Kind::Reset);
}

void TableCursor::Reopen() {
    // One reset for the listener, not a close and an open.
    Listener listener = std::exchange(listener_, nullptr);
    try {
        CloseTable();
        OpenTable();
    } catch (...) {
        listener_ = std::move(listener);
        Notify(Change::Kind::Reset);
        throw;
    }
    listener_ = std::move(listener);
    Notify(Change::Kind::Reset);
}

void TableCursor::GoFirst() {
    RequireOpen();
    FinishEdit();
    const std::size_t previous = impl_->current;
    impl_->current = 0;
    NotifyMoved(previous);
}

void TableCursor::GoNext() {
    RequireOpen();
    FinishEdit();
    const std::size_t previous = impl_->current;
    if (impl_->current < impl_->rows.size()) ++impl_->current;
    NotifyMoved(previous);
}

bool TableCursor::AtEnd() const {
    RequireOpen();
    return state_ != State::Appending && impl_->current >= impl_->rows.size();
}

bool TableCursor::GetBool(std::string_view field) const {
    std::size_t c = ColumnOf(field);
    const ColumnInfo& col = impl_->columns[c];
    if (col.kind == FieldKind::Integer || col.kind == FieldKind::Text) CannotAccess(col.name, "Boolean");
    FieldValue v = Typed(col.kind, RawValue(c));
    bool b;
    switch (v.kind()) {
    case FieldValue::Kind::Null: return false;
    case FieldValue::Kind::Boolean: return v.AsBool();
    case FieldValue::Kind::Integer: return v.AsInt() != 0;
    case FieldValue::Kind::Text:
        if (ParseBoolWord(v.AsText(), b)) return b;
        break;
    default: break;
    }
    CannotAccess(col.name, "Boolean");
}

std::int32_t TableCursor::GetInt(std::string_view field) const {
    std::size_t c = ColumnOf(field);
    const ColumnInfo& col = impl_->columns[c];
    if (col.kind == FieldKind::Boolean) CannotAccess(col.name, "Integer");
    FieldValue v = Typed(col.kind, RawValue(c));
    std::int64_t i = 0;
    switch (v.kind()) {
    case FieldValue::Kind::Null: return 0;
    case FieldValue::Kind::Boolean: return v.AsBool() ? 1 : 0;
    case FieldValue::Kind::Integer: i = v.AsInt(); break;
    case FieldValue::Kind::Real:
        if (!IntegralReal(v.AsReal(), i)) CannotAccess(col.name, "Integer");
        break;
    case FieldValue::Kind::Text:
        if (!IntegerText(v.AsText(), i)) CannotAccess(col.name, "Integer");
        break;
    default: CannotAccess(col.name, "Integer");
    }
    if (i < std::numeric_limits<std::int32_t>::min() || i > std::numeric_limits<std::int32_t>::max()) {
        throw Error(table_ + ": Value " + std::to_string(i) + " of field '" + col.name +
                    "' is out of the range of a 32-bit Integer");
    }
    return static_cast<std::int32_t>(i);
}

std::string TableCursor::GetText(std::string_view field) const {
    std::size_t c = ColumnOf(field);
    return DisplayText(Typed(impl_->columns[c].kind, RawValue(c)));
}

FieldValue TableCursor::GetValue(std::string_view field) const {
    std::size_t c = ColumnOf(field);
    return Typed(impl_->columns[c].kind, RawValue(c));
}

void TableCursor::SetBool(std::string_view field, bool value) { SetValue(field, FieldValue::Bool(value)); }

void TableCursor::SetInt(std::string_view field, std::int32_t value) {
    SetValue(field, FieldValue::Int(value));
}

void TableCursor::SetValue(std::string_view field, const FieldValue& value) {
    std::size_t c = ColumnOf(field);
    const ColumnInfo& col = impl_->columns[c];
    if (state_ != State::Editing && state_ != State::Appending) {
        throw Error(table_ + ": Cannot set field '" + col.name +
                    "': no row is being edited or appended");
    }
    impl_->pending[c] = ValueToSet(c, value);
    impl_->assigned[c] = true;
    impl_->anyAssigned = true;
    Notify(Change::Kind::RowChanged, impl_->current);
}

void TableCursor::BeginEdit() {
    RequireOpen();
    if (state_ != State::Browsing) return;
    Impl& d = *impl_;
    if (d.rows.empty()) {
        BeginAppend();
        return;
    }
    if (d.current >= d.rows.size()) throw Error(Message(MessageId::TableNoCurrentRow, {table_}));
    d.pending = d.rows[d.current].values;
    d.assigned.assign(d.columns.size(), false);
    d.anyAssigned = false;
    state_ = State::Editing;
    Notify(Change::Kind::RowChanged, d.current);
}

void TableCursor::BeginAppend() {
    RequireOpen();
    FinishEdit();
    Impl& d = *impl_;
    d.pending.assign(d.columns.size(), FieldValue::Null());
    d.assigned.assign(d.columns.size(), false);
    d.anyAssigned = false;
    d.currentBeforeAppend = d.current;
    d.current = d.rows.size();
    state_ = State::Appending;
    Notify(Change::Kind::RowAppended, d.current);
}

// The columns a row sets, in column order; raises when it would leave a
// column that must hold a value empty.
std::vector<std::size_t> TableCursor::ColumnsToWrite(const std::vector<FieldValue>& row,
                                                     const std::vector<bool>& assigned,
                                                     bool appending) const {
    std::vector<std::size_t> set;
    for (std::size_t c = 0; c < impl_->columns.size(); ++c) {
        const ColumnInfo& col = impl_->columns[c];
        if (assigned[c]) set.push_back(c);
        // A new row's unassigned column gets the store's default, if any.
        bool leftEmpty = row[c].IsNull() && (assigned[c] || (appending && !col.hasDefault));
        if (col.notNull && !col.generated && leftEmpty) {
            throw Error("Field '" + col.name + "' must have a value");
        }
    }
    return set;
}

// The value a row holds in column `c` once `value` is set into it.
FieldValue TableCursor::ValueToSet(std::size_t c, const FieldValue& value) const {
    const ColumnInfo& col = impl_->columns[c];
    if (col.generated) throw Error("Field '" + col.name + "' cannot be modified");
    return StoreForm(col.kind, value, col.name);
}

void TableCursor::SaveRow() {
    RequireOpen();
    if (state_ == State::Browsing) return;
    Impl& d = *impl_;
    Store& store = RequireStore();
    const std::vector<std::size_t> set = ColumnsToWrite(d.pending, d.assigned, state_ == State::Appending);

    if (state_ == State::Editing) {
        StoredRow& row = d.rows[d.current];
        if (!set.empty()) {
            StoredRow stored = store.UpdateRow(table_, d.columns, row, set, d.pending);
            std::vector<FieldValue> before = std::move(row.values);
            row = std::move(stored);
            d.Reindex(d.current, &before);
        }
    } else {
        d.rows.push_back(store.InsertRow(table_, d.columns, set, d.pending));
        d.current = d.rows.size() - 1;
        d.Reindex(d.current, nullptr);
    }
    d.pending.clear();
    d.assigned.clear();
    d.anyAssigned = false;
    state_ = State::Browsing;
    Notify(Change::Kind::RowChanged, d.current);
}

void TableCursor::DiscardRow() {
    if (state_ != State::Editing && state_ != State::Appending) return;
    Impl& d = *impl_;
    const bool appending = state_ == State::Appending;
    const std::size_t row = d.current;
    if (appending) d.current = d.currentBeforeAppend;
    d.pending.clear();
    d.assigned.clear();
    d.anyAssigned = false;
    state_ = State::Browsing;
    Notify(appending ? Change::Kind::RowRemoved : Change::Kind::RowChanged, row);
}

void TableCursor::FinishEdit() {
    if (state_ != State::Editing && state_ != State::Appending) return;
    if (impl_->anyAssigned) SaveRow();
    else DiscardRow();
}

bool TableCursor::TryAppend(const FieldValues& values) {
    RequireOpen();
    const Impl& d = *impl_;
    std::vector<FieldValue> row(d.columns.size());
    std::vector<bool> assigned(d.columns.size(), false);
    for (const auto& [field, value] : values) {
        const std::size_t c = ColumnOf(field);
        row[c] = ValueToSet(c, value);
        assigned[c] = true;
    }
    const std::vector<std::size_t> set = ColumnsToWrite(row, assigned, true);
    return RequireStore().TryInsertRow(table_, d.columns, set, row);
}

bool TableCursor::FindRow(std::string_view keyFields, const std::vector<FieldValue>& values) {
    try {
        if (state_ == State::Closed) return false;
        FinishEdit();
        Impl& d = *impl_;
        std::vector<std::size_t> cols;
        std::size_t start = 0;
        while (true) {
            std::size_t end = keyFields.find(';', start);
            std::string_view name =
                Trim(keyFields.substr(start, end == std::string_view::npos ? end : end - start));
            auto it = d.byName.find(LowerAscii(name));
            if (it == d.byName.end()) return false;
            cols.push_back(it->second);
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        if (cols.size() != values.size()) return false;

        std::string key;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (!PutKeyPart(key, d.columns[cols[i]].kind, values[i])) return false;
        }
        KeyIndex& index = d.IndexFor(cols);
        auto hit = index.rows.find(key);
        if (hit == index.rows.end() || hit->second.empty()) return false;
        const std::size_t previous = d.current;
        d.current = hit->second.front();
        NotifyMoved(previous);
        return true;
    } catch (const Error&) {
        // Saving the pending row failed: FindRow answers, it does not raise.
        return false;
    }
}

const std::vector<ColumnInfo>& TableCursor::Columns() const { return impl_->columns; }

std::size_t TableCursor::RowCount() const {
    return impl_->rows.size() + (state_ == State::Appending ? 1 : 0);
}

std::size_t TableCursor::CurrentRow() const { return impl_->current; }

FieldValue TableCursor::Cell(std::size_t row, std::size_t column) const {
    const Impl& d = *impl_;
    if (column >= d.columns.size()) return {};
    if ((state_ == State::Editing || state_ == State::Appending) && row == d.current) {
        return Typed(d.columns[column].kind, d.pending[column]);
    }
    if (row >= d.rows.size()) return {};
    return Typed(d.columns[column].kind, d.rows[row].values[column]);
}

}  // namespace ue
