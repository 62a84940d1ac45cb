// The ODBC store: whole-table reads, single-row writes in autocommit, and an
// optimistic check that finds the row by the values it was read with (see
// OdbcStore.h for the SQL rules every statement keeps to).
#include "records/OdbcStore.h"

#include <windows.h>
// windows.h first: the ODBC headers use its types.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <unordered_map>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/MessageTable.h"
#include "core/Text.h"
#include "core/WinText.h"

namespace ue {

namespace {

constexpr const char* kAccessDrivers[] = {"Microsoft Access Driver (*.mdb, *.accdb)",
                                          "Microsoft Access Driver (*.mdb)"};
constexpr const char* kSqliteDrivers[] = {"SQLite3 ODBC Driver", "SQLite3"};

// How long a statement that meets another program's lock is retried.
constexpr auto kLockedRetryFor = std::chrono::seconds(5);
constexpr auto kLockedPause = std::chrono::milliseconds(100);

SQLWCHAR* W(std::wstring& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// The diagnostics of a failed call: the SQLSTATEs, the native codes and the
// driver's messages joined.
struct Diagnostics {
    std::string message;
    std::vector<std::string> states;
    std::vector<SQLINTEGER> natives;

    bool HasState(const char* state) const {
        for (const std::string& s : states)
            if (s == state) return true;
        return false;
    }
};

Diagnostics Diagnose(SQLSMALLINT type, SQLHANDLE handle) {
    Diagnostics d;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLWCHAR text[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text,
                                      static_cast<SQLSMALLINT>(std::size(text)), &length);
        if (!SQL_SUCCEEDED(rc)) break;
        d.states.push_back(Narrow(reinterpret_cast<const wchar_t*>(state)));
        d.natives.push_back(native);
        std::string line = Narrow(reinterpret_cast<const wchar_t*>(text));
        if (!line.empty()) d.message += (d.message.empty() ? "" : "; ") + line;
    }
    if (d.message.empty()) d.message = "the ODBC call failed without a message";
    return d;
}

// Another program holds a lock: SQLite's "database is locked", Jet's
// "currently locked" family (3008, 3186-3189, 3211, 3218, 3260), a timeout.
bool IsLocked(const Diagnostics& d) {
    if (d.HasState("HYT00")) return true;
    for (SQLINTEGER n : d.natives)
        if (n == 3008 || (n >= 3186 && n <= 3189) || n == 3211 || n == 3218 || n == 3260) return true;
    return text::LowerAscii(d.message).find("locked") != std::string::npos;
}

// The driver is not installed: IM002/IM003 from the driver manager, or
// unixODBC's "Can't open lib" (under Wine).
bool IsDriverMissing(const Diagnostics& d) {
    return d.HasState("IM002") || d.HasState("IM003") ||
           d.message.find("Can't open lib") != std::string::npos;
}

class Handle {
public:
    Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) {
            handle_ = SQL_NULL_HANDLE;
            throw Error("Cannot allocate an ODBC handle");
        }
    }
    ~Handle() {
        if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    SQLHANDLE get() const { return handle_; }
    [[noreturn]] void Fail() const { throw Error(Diagnose(type_, handle_).message); }
    void Check(SQLRETURN rc) const {
        if (!SQL_SUCCEEDED(rc)) Fail();
    }

private:
    SQLSMALLINT type_;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

bool IsIntegerType(SQLSMALLINT t) {
    return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}
bool IsShortTextType(SQLSMALLINT t) {
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR;
}
bool IsLongTextType(SQLSMALLINT t) { return t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR; }
bool IsBinaryType(SQLSMALLINT t) {
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}
bool IsFloatType(SQLSMALLINT t) { return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE; }

FieldKind KindOfSqlType(SQLSMALLINT t) {
    if (t == SQL_BIT) return FieldKind::Boolean;
    if (IsIntegerType(t)) return FieldKind::Integer;
    if (IsShortTextType(t) || IsLongTextType(t)) return FieldKind::Text;
    return FieldKind::Opaque;
}

std::string Bracketed(const std::string& name) {
    if (name.find(']') != std::string::npos || name.find('\0') != std::string::npos)
        throw Error("The name \"" + name + "\" cannot be used in a statement");
    return "[" + name + "]";
}

// A connection-string value, in braces when it holds a separator.
std::string AttributeValue(const std::string& value) {
    if (value.find_first_of(";{}=") == std::string::npos) return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

// One parameter's storage, alive until the statement has run.
struct Parameter {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN size = 1;
    SQLLEN indicator = 0;
    std::int32_t i32 = 0;
    std::int64_t i64 = 0;
    double real = 0;
    unsigned char bit = 0;
    std::wstring wide;
    std::string bytes;

    void* Buffer() {
        switch (cType) {
        case SQL_C_SLONG: return &i32;
        case SQL_C_SBIGINT: return &i64;
        case SQL_C_DOUBLE: return &real;
        case SQL_C_BIT: return &bit;
        case SQL_C_BINARY: return bytes.data();
        default: return wide.data();
        }
    }
};

// `v` as a parameter for a column of type `columnType` (0: unknown).
Parameter MakeParameter(const FieldValue& v, SQLSMALLINT columnType) {
    using K = FieldValue::Kind;
    Parameter p;
    switch (v.kind()) {
    case K::Null:
        p.indicator = SQL_NULL_DATA;
        if (columnType != 0) p.sqlType = columnType;
        if (IsBinaryType(columnType)) p.cType = SQL_C_BINARY;
        break;
    case K::Boolean:
        p.cType = SQL_C_BIT;
        p.sqlType = SQL_BIT;
        p.bit = v.AsBool() ? 1 : 0;
        break;
    case K::Integer:
        if (v.AsInt() >= std::numeric_limits<std::int32_t>::min() &&
            v.AsInt() <= std::numeric_limits<std::int32_t>::max()) {
            p.cType = SQL_C_SLONG;
            p.i32 = static_cast<std::int32_t>(v.AsInt());
            p.sqlType = columnType == SQL_BIT || IsIntegerType(columnType) ? columnType : SQL_INTEGER;
        } else {
            p.cType = SQL_C_SBIGINT;
            p.i64 = v.AsInt();
            p.sqlType = SQL_BIGINT;
        }
        break;
    case K::Text:
        p.wide = Wide(v.AsText(), "value");
        p.size = std::max<SQLULEN>(1, p.wide.size());
        p.sqlType = p.wide.size() > 255 || IsLongTextType(columnType) ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        p.indicator = static_cast<SQLLEN>(p.wide.size() * sizeof(wchar_t));
        break;
    case K::Real:
        p.cType = SQL_C_DOUBLE;
        p.sqlType = SQL_DOUBLE;
        p.real = v.AsReal();
        break;
    case K::Blob:
        p.cType = SQL_C_BINARY;
        p.bytes = v.AsBlob();
        p.size = std::max<SQLULEN>(1, p.bytes.size());
        p.sqlType = p.bytes.size() > 255 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        p.indicator = static_cast<SQLLEN>(p.bytes.size());
        break;
    }
    return p;
}

struct Column {
    ColumnInfo info;
    SQLSMALLINT sqlType = 0;
};

class OdbcStore final : public Store {
public:
    OdbcStore(std::unique_ptr<Handle> env, std::unique_ptr<Handle> dbc, bool sqliteDriver)
        : env_(std::move(env)), dbc_(std::move(dbc)), sqlite_(sqliteDriver) {}
    ~OdbcStore() override { SQLDisconnect(dbc_->get()); }

    TableData ReadTable(const std::string& table) override {
        std::vector<Column> columns;
        Handle stmt(SQL_HANDLE_STMT, dbc_->get());
        std::string sql = "SELECT * FROM " + Bracketed(table);
        Run(stmt, sql);
        SQLSMALLINT count = 0;
        stmt.Check(SQLNumResultCols(stmt.get(), &count));
        for (SQLSMALLINT i = 1; i <= count; ++i) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            stmt.Check(SQLDescribeColW(stmt.get(), static_cast<SQLUSMALLINT>(i), name,
                                       static_cast<SQLSMALLINT>(std::size(name)), &nameLength, &type,
                                       &size, &digits, &nullable));
            Column c;
            c.sqlType = type;
            c.info.name = Narrow(reinterpret_cast<const wchar_t*>(name));
            c.info.kind = KindOfSqlType(type);
            c.info.notNull = nullable == SQL_NO_NULLS;
            SQLLEN autoUnique = SQL_FALSE;
            if (SQL_SUCCEEDED(SQLColAttributeW(stmt.get(), static_cast<SQLUSMALLINT>(i),
                                               SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr,
                                               &autoUnique)))
                c.info.generated = autoUnique == SQL_TRUE;
            SQLWCHAR typeName[128] = {};
            SQLSMALLINT typeNameLength = 0;
            if (SQL_SUCCEEDED(SQLColAttributeW(stmt.get(), static_cast<SQLUSMALLINT>(i),
                                               SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                                               &typeNameLength, nullptr)))
                c.info.declaredType = Narrow(reinterpret_cast<const wchar_t*>(typeName));
            columns.push_back(std::move(c));
        }

        TableData data;
        for (;;) {
            SQLRETURN rc = SQLFetch(stmt.get());
            if (rc == SQL_NO_DATA) break;
            stmt.Check(rc);
            StoredRow row;
            for (SQLSMALLINT i = 1; i <= count; ++i)
                row.values.push_back(ReadValue(stmt, i, columns[static_cast<std::size_t>(i - 1)].sqlType));
            data.rows.push_back(std::move(row));
        }
        stmt.Check(SQLCloseCursor(stmt.get()));

        AddCatalogFacts(table, columns);
        types_[text::LowerAscii(table)] = columns;
        for (Column& c : columns) data.columns.push_back(std::move(c.info));
        return data;
    }

    StoredRow InsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                        const std::vector<std::size_t>& set,
                        const std::vector<FieldValue>& values) override {
        std::vector<Parameter> params;
        const std::string sql = InsertSql(table, columns, set, values, params);
        Handle stmt(SQL_HANDLE_STMT, dbc_->get());
        Run(stmt, sql, &params);

        // The row as stored: what was set, null for the rest. A column the
        // store fills (a default, a counter) is not known until the table is
        // read again, so the optimistic check leaves it out (unknownColumns).
        StoredRow row;
        row.values.assign(columns.size(), FieldValue::Null());
        for (std::size_t c : set) row.values[c] = ReadForm(values[c]);
        std::uint64_t unknown = 0;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const bool isSet = std::find(set.begin(), set.end(), c) != set.end();
            if (!isSet && (columns[c].hasDefault || columns[c].generated)) unknown |= Bit(c);
        }
        row.unknownColumns = unknown;
        return row;
    }

    // In a transaction of its own that is rolled back: autocommit is off
    // only for this statement. Should the rollback fail, autocommit stays
    // off, since turning it on would commit the row; the caller ends.
    bool TryInsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                      const std::vector<std::size_t>& set,
                      const std::vector<FieldValue>& values) override {
        std::vector<Parameter> params;
        const std::string sql = InsertSql(table, columns, set, values, params);
        // A driver without transactions cannot tell without keeping the row.
        if (!SQL_SUCCEEDED(SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_AUTOCOMMIT,
                                              reinterpret_cast<SQLPOINTER>(
                                                  static_cast<std::uintptr_t>(SQL_AUTOCOMMIT_OFF)),
                                              0))) {
            return false;
        }
        const auto autocommitOn = [this] {
            return SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_AUTOCOMMIT,
                                      reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_AUTOCOMMIT_ON)),
                                      0);
        };
        Diagnostics refusal;
        bool stored = false;
        try {
            Handle stmt(SQL_HANDLE_STMT, dbc_->get());
            stored = TryRun(stmt, sql, &params, refusal);
        } catch (...) {
            if (SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK))) autocommitOn();
            throw;
        }
        if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK))) {
            throw Error(table + ": a trial row could not be taken back: " +
                        Diagnose(SQL_HANDLE_DBC, dbc_->get()).message);
        }
        dbc_->Check(autocommitOn());
        if (stored) return true;
        if (IsLocked(refusal)) return false;
        throw Error(refusal.message);
    }

    StoredRow UpdateRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                        const StoredRow& before, const std::vector<std::size_t>& set,
                        const std::vector<FieldValue>& values) override {
        if (set.empty()) return before;
        std::vector<Parameter> params;
        std::string sql = "UPDATE " + Bracketed(table) + " SET ";
        for (std::size_t i = 0; i < set.size(); ++i) {
            sql += (i ? ", " : "") + Bracketed(columns.at(set[i]).name) + " = ?";
            params.push_back(MakeParameter(values.at(set[i]), TypeOf(table, set[i])));
        }
        std::string where;
        const std::uint64_t unknown = before.unknownColumns;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const SQLSMALLINT type = TypeOf(table, c);
            if ((unknown & Bit(c)) != 0 || !Comparable(type)) continue;
            const FieldValue& v = before.values.at(c);
            const std::string name = Bracketed(columns[c].name);
            where += where.empty() ? " WHERE " : " AND ";
            if (v.IsNull()) {
                where += name + " IS NULL";
            } else if (type == SQL_BIT && v.kind() != FieldValue::Kind::Text) {
                const bool truth = v.kind() == FieldValue::Kind::Boolean ? v.AsBool() : v.AsInt() != 0;
                where += name + (truth ? " <> 0" : " = 0");
            } else {
                where += name + " = ?";
                params.push_back(MakeParameter(v, type));
            }
        }
        if (where.empty()) {
            throw Error(table + ": the row cannot be saved: the table has no column by which to "
                                "find it again");
        }
        Handle stmt(SQL_HANDLE_STMT, dbc_->get());
        Run(stmt, sql + where, &params);
        SQLLEN changed = 0;
        stmt.Check(SQLRowCount(stmt.get(), &changed));
        if (changed == 0) {
            throw Error(table +
                        ": the row was changed or removed by another program since it was read; "
                        "reopen the table to see its current values");
        }
        StoredRow row = before;
        std::uint64_t stillUnknown = unknown;
        for (std::size_t c : set) {
            row.values.at(c) = ReadForm(values.at(c));
            stillUnknown &= ~Bit(c);
        }
        row.unknownColumns = stillUnknown;
        return row;
    }

    // Reads the schema once so that a damaged file fails at open, as a table
    // read would.
    void CheckReadable() {
        Handle stmt(SQL_HANDLE_STMT, dbc_->get());
        stmt.Check(SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
        SQLRETURN rc = SQLFetch(stmt.get());
        if (rc != SQL_NO_DATA) stmt.Check(rc);
    }

private:
    // Bit of column `c` in the unknown-values mask; columns past 63 share it.
    static std::uint64_t Bit(std::size_t c) { return std::uint64_t{1} << std::min<std::size_t>(c, 63); }

    bool Comparable(SQLSMALLINT type) const {
        if (type == SQL_BIT || IsIntegerType(type) || IsShortTextType(type)) return true;
        return sqlite_ && IsLongTextType(type);
    }

    SQLSMALLINT TypeOf(const std::string& table, std::size_t column) const {
        auto it = types_.find(text::LowerAscii(table));
        if (it == types_.end() || column >= it->second.size()) return 0;
        return it->second[column].sqlType;
    }

    // What a table read gives back for a value written: booleans as 0/1.
    static FieldValue ReadForm(const FieldValue& v) {
        if (v.kind() == FieldValue::Kind::Boolean) return FieldValue::Int(v.AsBool() ? 1 : 0);
        return v;
    }

    // NOT NULL and defaults, from the catalog (SQLDescribeCol's nullability
    // is not told by every driver).
    void AddCatalogFacts(const std::string& table, std::vector<Column>& columns) {
        Handle stmt(SQL_HANDLE_STMT, dbc_->get());
        std::wstring wideTable = Wide(table, "table name");
        if (!SQL_SUCCEEDED(SQLColumnsW(stmt.get(), nullptr, 0, nullptr, 0, W(wideTable), SQL_NTS,
                                       nullptr, 0)))
            return;  // the facts from the result's description stand
        for (;;) {
            SQLRETURN rc = SQLFetch(stmt.get());
            if (!SQL_SUCCEEDED(rc)) break;
            SQLWCHAR name[256] = {}, typeName[128] = {};
            SQLLEN nameLength = 0, typeLength = 0, nullableLength = 0, defaultLength = 0;
            SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
            SQLWCHAR def[64] = {};
            SQLGetData(stmt.get(), 4, SQL_C_WCHAR, name, sizeof name, &nameLength);
            SQLGetData(stmt.get(), 6, SQL_C_WCHAR, typeName, sizeof typeName, &typeLength);
            SQLGetData(stmt.get(), 11, SQL_C_SSHORT, &nullable, 0, &nullableLength);
            SQLRETURN defRc = SQLGetData(stmt.get(), 13, SQL_C_WCHAR, def, sizeof def, &defaultLength);
            const std::string columnName = Narrow(reinterpret_cast<const wchar_t*>(name));
            for (Column& c : columns) {
                if (!text::EqualsNoCaseAscii(c.info.name, columnName)) continue;
                if (nullable == SQL_NO_NULLS) c.info.notNull = true;
                // ODBC writes a null default as the word NULL.
                if (SQL_SUCCEEDED(defRc) && defaultLength != SQL_NULL_DATA &&
                    !text::EqualsNoCaseAscii(Narrow(reinterpret_cast<const wchar_t*>(def)), "NULL"))
                    c.info.hasDefault = true;
                if (typeLength > 0) c.info.declaredType = Narrow(reinterpret_cast<const wchar_t*>(typeName));
            }
        }
    }

    // "INSERT INTO [table] (...) VALUES (?, ...)" for the columns in `set`,
    // and its parameters.
    std::string InsertSql(const std::string& table, const std::vector<ColumnInfo>& columns,
                          const std::vector<std::size_t>& set, const std::vector<FieldValue>& values,
                          std::vector<Parameter>& params) const {
        std::vector<std::size_t> named = set;
        std::vector<FieldValue> given;
        for (std::size_t c : set) given.push_back(values.at(c));
        if (named.empty()) {
            // Jet knows no DEFAULT VALUES: one column without a default gets
            // the null it would get anyway.
            for (std::size_t c = 0; c < columns.size() && named.empty(); ++c) {
                if (!columns[c].hasDefault && !columns[c].generated) {
                    named.push_back(c);
                    given.push_back(FieldValue::Null());
                }
            }
            if (named.empty()) throw Error(table + ": the new row gives no column a value");
        }
        std::string names, marks;
        for (std::size_t c : named) {
            names += (names.empty() ? "" : ", ") + Bracketed(columns.at(c).name);
            marks += marks.empty() ? "?" : ", ?";
        }
        params.clear();
        for (std::size_t i = 0; i < named.size(); ++i)
            params.push_back(MakeParameter(given[i], TypeOf(table, named[i])));
        return "INSERT INTO " + Bracketed(table) + " (" + names + ") VALUES (" + marks + ")";
    }


    // Runs `sql` with `params`, retrying while another program holds a lock.
    void Run(Handle& stmt, const std::string& sql, std::vector<Parameter>* params = nullptr) {
        Diagnostics failure;
        if (!TryRun(stmt, sql, params, failure)) throw Error(failure.message);
    }

    // The same; false with the diagnostics when the statement failed.
    bool TryRun(Handle& stmt, const std::string& sql, std::vector<Parameter>* params,
                Diagnostics& failure) {
        std::wstring wide = Wide(sql, "statement");
        if (params) {
            for (std::size_t i = 0; i < params->size(); ++i) {
                Parameter& p = (*params)[i];
                stmt.Check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                            p.cType, p.sqlType, p.size, 0, p.Buffer(),
                                            static_cast<SQLLEN>(p.indicator > 0 ? p.indicator : 0),
                                            &p.indicator));
            }
        }
        const auto deadline = std::chrono::steady_clock::now() + kLockedRetryFor;
        for (;;) {
            SQLRETURN rc = SQLExecDirectW(stmt.get(), W(wide), SQL_NTS);
            if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return true;
            failure = Diagnose(SQL_HANDLE_STMT, stmt.get());
            if (!IsLocked(failure) || std::chrono::steady_clock::now() >= deadline) return false;
            SQLFreeStmt(stmt.get(), SQL_CLOSE);
            std::this_thread::sleep_for(kLockedPause);
        }
    }

    // One value of the current row, by the column's type.
    static FieldValue ReadValue(Handle& stmt, SQLSMALLINT i, SQLSMALLINT type) {
        const auto column = static_cast<SQLUSMALLINT>(i);
        if (IsFloatType(type)) {
            double d = 0;
            SQLLEN ind = 0;
            stmt.Check(SQLGetData(stmt.get(), column, SQL_C_DOUBLE, &d, 0, &ind));
            return ind == SQL_NULL_DATA ? FieldValue::Null() : FieldValue::RealNumber(d);
        }
        const bool binary = IsBinaryType(type);
        std::string bytes;
        // Long values come in parts: each call gives what fits, and says so.
        for (;;) {
            char part[4096];
            SQLLEN ind = 0;
            SQLRETURN rc = SQLGetData(stmt.get(), column, binary ? SQL_C_BINARY : SQL_C_WCHAR, part,
                                      sizeof part, &ind);
            if (rc == SQL_NO_DATA) break;
            stmt.Check(rc);
            if (ind == SQL_NULL_DATA) return FieldValue::Null();
            // The part holds what fits; for text less its terminating NUL.
            std::size_t room = binary ? sizeof part : sizeof part - sizeof(wchar_t);
            std::size_t got = (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > room)
                                  ? room
                                  : static_cast<std::size_t>(ind);
            bytes.append(part, got);
            if (rc == SQL_SUCCESS) break;
        }
        if (binary) return FieldValue::Bytes(std::move(bytes));
        std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
        std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
        std::string value = Narrow(wide);
        if (type == SQL_BIT || IsIntegerType(type)) {
            // A number as the driver writes it; anything else (SQLite keeps
            // what it is given) is carried as text.
            std::int64_t n = 0;
            if (ParseInteger(value, n)) return FieldValue::Int(n);
        }
        return FieldValue::Text(std::move(value));
    }

    std::unique_ptr<Handle> env_;
    std::unique_ptr<Handle> dbc_;
    bool sqlite_;
    // Per table (lower case), the SQL types of its columns at the last read.
    std::unordered_map<std::string, std::vector<Column>> types_;
};

using WineUnixFileName = char*(CDECL*)(LPCWSTR);

}  // namespace

std::span<const char* const> OdbcDriversFor(DatabaseFormat format) {
    if (format == DatabaseFormat::Access) return kAccessDrivers;
    return kSqliteDrivers;
}

std::string OdbcDriverPath(const std::string& path) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto toHost = kernel ? reinterpret_cast<WineUnixFileName>(
                               reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                         : nullptr;
    if (!toHost) return path;
    // In the long form where the path needs it: the plain one stops at MAX_PATH.
    const std::wstring wide = fileio::WidePath(path);
    char* host = toHost(wide.c_str());
    if (!host) return path;
    std::string result = host;
    HeapFree(GetProcessHeap(), 0, host);
    return result;
}

std::string SqliteDatabaseValue(const std::string& path) {
    // Letters, digits, "-._~" and the path's own "/" ":" need no escape; a
    // blank never troubled the driver, but inside a URI it must be escaped.
    const auto plain = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == '\\' || c == ':';
    };
    bool needsUri = false;
    for (unsigned char c : path) needsUri = needsUri || !(plain(c) || c == ' ');
    if (!needsUri) return path;
    static constexpr char kHex[] = "0123456789ABCDEF";
    // "file://" and an empty authority, then the path from its first "/":
    // "/tmp/a", "/C:/a" or "//server/share/a".
    std::string uri = "file://";
    if (path.empty() || (path[0] != '/' && path[0] != '\\')) uri += '/';
    for (unsigned char c : path) {
        if (c == '\\') {
            uri += '/';
        } else if (plain(c)) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

std::unique_ptr<Store> OpenOdbcStore(const std::string& path, DatabaseFormat format,
                                     std::span<const char* const> drivers) {
    auto env = std::make_unique<Handle>(SQL_HANDLE_ENV, nullptr);
    env->Check(SQLSetEnvAttr(env->get(), SQL_ATTR_ODBC_VERSION,
                             reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0));
    const std::string driverPath = OdbcDriverPath(path);

    std::string tried;
    for (const char* driver : drivers) {
        tried += (tried.empty() ? "\"" : ", \"") + std::string(driver) + "\"";
        std::string attributes = "Driver={" + std::string(driver) + "};";
        if (format == DatabaseFormat::SQLite) {
            // NoCreat: a missing file is refused, never made. Timeout: the
            // busy wait on another program's lock, in milliseconds.
            attributes += "Database=" + SqliteDatabaseValue(driverPath) + ";NoCreat=1;Timeout=2000;";
        } else {
            // Shared, never exclusive; implicit transactions (autocommit)
            // written through at once.
            attributes += "DBQ=" + AttributeValue(driverPath) + ";Exclusive=0;ImplicitCommitSync=Yes;";
        }
        auto dbc = std::make_unique<Handle>(SQL_HANDLE_DBC, env->get());
        std::wstring wide = Wide(attributes, "connection text");
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        SQLRETURN rc = SQLDriverConnectW(dbc->get(), nullptr, W(wide), SQL_NTS, out,
                                         static_cast<SQLSMALLINT>(std::size(out)), &outLength,
                                         SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            Diagnostics d = Diagnose(SQL_HANDLE_DBC, dbc->get());
            if (IsDriverMissing(d)) continue;
            throw Error(Message(MessageId::DatabaseCannotOpenThroughDriver, {path, driver, d.message}));
        }
        dbc->Check(SQLSetConnectAttrW(dbc->get(), SQL_ATTR_AUTOCOMMIT,
                                      reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_AUTOCOMMIT_ON)),
                                      0));
        auto store = std::make_unique<OdbcStore>(std::move(env), std::move(dbc),
                                                 format == DatabaseFormat::SQLite);
        try {
            store->CheckReadable();
        } catch (const Error& e) {
            throw Error(Message(MessageId::DatabaseCannotReadWith, {path, e.what()}));
        }
        const std::wstring widePath = Wide(path, "path");
        const DWORD attributesOfFile = GetFileAttributesW(widePath.c_str());
        if (attributesOfFile != INVALID_FILE_ATTRIBUTES && (attributesOfFile & FILE_ATTRIBUTE_READONLY)) {
            throw Error(Message(MessageId::DatabaseNotWritable, {path, Message(MessageId::DatabaseReadOnly)}));
        }
        return store;
    }
    throw Error(Message(MessageId::DatabaseNoOdbcDriver,
                        {path, format == DatabaseFormat::Access ? "Access (Jet/ACE)" : "SQLite", tried}));
}

std::unique_ptr<Store> OpenOdbcStore(const std::string& path, DatabaseFormat format) {
    return OpenOdbcStore(path, format, OdbcDriversFor(format));
}

}  // namespace ue
