// The SQLite store: whole-table reads, single-row writes that reach the file
// at once, and an optimistic check on every update. No transaction is held
// between calls, so the downloader can write while the cursors are open.
#include "records/SqliteStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/MessageTable.h"
#include "core/Text.h"

namespace ue {

namespace {

// How long a save or read waits for another program's write lock.
constexpr int kBusyTimeoutMs = 5000;

std::string QuoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
            SQLITE_OK) {
            throw Error(sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return stmt_; }

    // True for a row, false when done; raises with the store's message.
    bool Step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw Error(sqlite3_errmsg(db_));
    }

    void Bind(int index, const FieldValue& v) {
        int rc = SQLITE_OK;
        switch (v.kind()) {
        case FieldValue::Kind::Null: rc = sqlite3_bind_null(stmt_, index); break;
        case FieldValue::Kind::Boolean: rc = sqlite3_bind_int(stmt_, index, v.AsBool() ? 1 : 0); break;
        case FieldValue::Kind::Integer: rc = sqlite3_bind_int64(stmt_, index, v.AsInt()); break;
        case FieldValue::Kind::Text:
            rc = sqlite3_bind_text64(stmt_, index, v.AsText().data(), v.AsText().size(),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        case FieldValue::Kind::Real: rc = sqlite3_bind_double(stmt_, index, v.AsReal()); break;
        case FieldValue::Kind::Blob:
            rc = sqlite3_bind_blob64(stmt_, index, v.AsBlob().data(), v.AsBlob().size(),
                                     SQLITE_TRANSIENT);
            break;
        }
        if (rc != SQLITE_OK) throw Error(sqlite3_errmsg(db_));
    }

    FieldValue Column(int i) const {
        switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_INTEGER: return FieldValue::Int(sqlite3_column_int64(stmt_, i));
        case SQLITE_FLOAT: return FieldValue::RealNumber(sqlite3_column_double(stmt_, i));
        case SQLITE_TEXT: {
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
            return FieldValue::Text(std::string(p ? p : "", sqlite3_column_bytes(stmt_, i)));
        }
        case SQLITE_BLOB: {
            auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
            return FieldValue::Bytes(std::string(p ? p : "", sqlite3_column_bytes(stmt_, i)));
        }
        default: return FieldValue::Null();
        }
    }

    // rowid in column 0, the table's columns after it.
    StoredRow Row(int columnCount) const {
        StoredRow row;
        row.rowid = sqlite3_column_int64(stmt_, 0);
        row.values.reserve(columnCount);
        for (int i = 1; i <= columnCount; ++i) row.values.push_back(Column(i));
        return row;
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore final : public Store {
public:
    explicit SqliteStore(sqlite3* db) : db_(db) {}
    ~SqliteStore() override { sqlite3_close_v2(db_); }

    TableData ReadTable(const std::string& table) override {
        struct Declared {
            std::string type;
            bool notNull, hasDefault, generated;
        };
        std::unordered_map<std::string, Declared> declared;
        {
            Statement info(db_, "PRAGMA table_xinfo(" + QuoteName(table) + ")");
            while (info.Step()) {
                // cid, name, type, notnull, dflt_value, pk, hidden
                auto column = [&](int i) {
                    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), i));
                    return std::string(p ? p : "");
                };
                int hidden = sqlite3_column_int(info.get(), 6);
                declared[text::LowerAscii(column(1))] = {
                    column(2), sqlite3_column_int(info.get(), 3) != 0,
                    sqlite3_column_type(info.get(), 4) != SQLITE_NULL, hidden == 2 || hidden == 3};
            }
        }

        Statement select(db_, "SELECT rowid, * FROM " + QuoteName(table));
        TableData data;
        int count = sqlite3_column_count(select.get()) - 1;
        for (int i = 1; i <= count; ++i) {
            ColumnInfo col;
            const char* name = sqlite3_column_name(select.get(), i);
            col.name = name ? name : "";
            if (auto it = declared.find(text::LowerAscii(col.name)); it != declared.end()) {
                col.declaredType = it->second.type;
                col.notNull = it->second.notNull;
                col.hasDefault = it->second.hasDefault;
                col.generated = it->second.generated;
            } else if (const char* t = sqlite3_column_decltype(select.get(), i)) {
                col.declaredType = t;
            }
            col.kind = KindOfDeclaredType(col.declaredType);
            data.columns.push_back(std::move(col));
        }
        while (select.Step()) data.rows.push_back(select.Row(count));
        return data;
    }

    StoredRow InsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                        const std::vector<std::size_t>& set,
                        const std::vector<FieldValue>& values) override {
        Statement insert(db_, InsertSql(table, columns, set) + " RETURNING rowid, *");
        int index = 1;
        for (std::size_t c : set) insert.Bind(index++, values.at(c));
        bool stored = false;
        StoredRow row;
        try {
            stored = insert.Step();
            if (stored) {
                row = insert.Row(sqlite3_column_count(insert.get()) - 1);
                while (insert.Step()) {
                }
            }
        } catch (const Error&) {
            ThrowSaveError();
        }
        if (!stored) throw Error(table + ": the new row was not stored");
        return row;
    }

    // Inside a transaction of its own that is rolled back, whatever happens:
    // the row never reaches the file. (A savepoint rolled back to and then
    // released would commit the transaction, journal and syncs included:
    // as costly as a save.)
    bool TryInsertRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                      const std::vector<std::size_t>& set,
                      const std::vector<FieldValue>& values) override {
        if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw Error(sqlite3_errmsg(db_));
        }
        struct TakeBack {
            sqlite3* db;
            // An error may have rolled the transaction back already.
            ~TakeBack() {
                if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            }
        } takeBack{db_};
        std::optional<Statement> insert;  // finalized before the rollback
        try {
            insert.emplace(db_, InsertSql(table, columns, set));
            int index = 1;
            for (std::size_t c : set) insert->Bind(index++, values.at(c));
            while (insert->Step()) {
            }
        } catch (const Error&) {
            const int code = sqlite3_extended_errcode(db_) & 0xff;
            if (code == SQLITE_BUSY || code == SQLITE_LOCKED) return false;
            ThrowSaveError();
        }
        return true;
    }

    StoredRow UpdateRow(const std::string& table, const std::vector<ColumnInfo>& columns,
                        const StoredRow& before, const std::vector<std::size_t>& set,
                        const std::vector<FieldValue>& values) override {
        if (set.empty()) return before;
        std::string sql = "UPDATE " + QuoteName(table) + " SET ";
        for (std::size_t i = 0; i < set.size(); ++i) {
            sql += (i ? ", " : "") + QuoteName(columns.at(set[i]).name) + " = ?";
        }
        // Optimistic check: the row must still hold every value it was read with.
        sql += " WHERE rowid = ?";
        for (const ColumnInfo& col : columns) sql += " AND " + QuoteName(col.name) + " IS ?";
        sql += " RETURNING rowid, *";

        Statement update(db_, sql);
        int index = 1;
        for (std::size_t c : set) update.Bind(index++, values.at(c));
        update.Bind(index++, FieldValue::Int(before.rowid));
        for (std::size_t c = 0; c < columns.size(); ++c) update.Bind(index++, before.values.at(c));
        bool found = false;
        StoredRow row;
        try {
            found = update.Step();
            if (found) {
                row = update.Row(sqlite3_column_count(update.get()) - 1);
                while (update.Step()) {
                }
            }
        } catch (const Error&) {
            ThrowSaveError();
        }
        if (!found) {
            throw Error(table +
                        ": the row was changed or removed by another program since it was read; "
                        "reopen the table to see its current values");
        }
        return row;
    }

private:
    // "INSERT INTO <table> (<the columns in set>) VALUES (?, ...)".
    static std::string InsertSql(const std::string& table, const std::vector<ColumnInfo>& columns,
                                 const std::vector<std::size_t>& set) {
        std::string sql = "INSERT INTO " + QuoteName(table);
        if (set.empty()) return sql + " DEFAULT VALUES";
        std::string names, marks;
        for (std::size_t c : set) {
            names += (names.empty() ? "" : ", ") + QuoteName(columns.at(c).name);
            marks += marks.empty() ? "?" : ", ?";
        }
        return sql + " (" + names + ") VALUES (" + marks + ")";
    }

    // Turns the error of a failed write into the message the cursor reports.
    [[noreturn]] void ThrowSaveError() {
        std::string message = sqlite3_errmsg(db_);
        if (sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_NOTNULL) {
            // "NOT NULL constraint failed: Table.Column"
            std::string column = message.substr(message.rfind('.') + 1);
            throw Error("Field '" + column + "' must have a value");
        }
        throw Error(message);
    }

    sqlite3* db_;
};

// Why the store cannot be written; empty when it can, or when that cannot be
// told now. Found out at open, before any file is replaced, so that a run
// never applies files it then cannot record.
//
// SQLite opens a file it may not write read-only without saying so (no write
// permission, a read-only file system). A file it may write can still fail
// at the first save when its folder is not writable, since the rollback
// journal is created beside it: so a page is written in a transaction that
// is rolled back at once. The change stays in SQLite's cache and the journal,
// so the file itself is not written; the journal is removed again. A lock
// held by another program beyond the busy timeout says nothing either way.
std::string WhyNotWritable(sqlite3* db, const std::string& path) {
    if (sqlite3_db_readonly(db, "main") == 1)
        return "it is read-only, or UpdateExe may not write it or its folder";
    std::int64_t version = 0;
    auto readVersion = [](void* out, int, char** values, char**) {
        if (!values[0] || !ParseInteger(values[0], *static_cast<std::int64_t*>(out))) return 1;
        return 0;
    };
    char* err = nullptr;
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, &err);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(db, "PRAGMA main.user_version", readVersion, &version, &err);
        if (rc == SQLITE_OK) {
            const std::string same = "PRAGMA main.user_version = " + std::to_string(version);
            rc = sqlite3_exec(db, same.c_str(), nullptr, nullptr, &err);
        }
    }
    const std::string message = err ? err : sqlite3_errstr(rc);
    const int systemCode = sqlite3_system_errno(db);
    sqlite3_free(err);
    if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    const std::string folderHint = Message(MessageId::DatabaseFolderHint, {fileio::ParentDirectory(path)});
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return {};
    case SQLITE_CANTOPEN: {
        // The journal beside the file could not be made; the system says
        // why (a link or other file in its place, a folder we may not write).
        if (systemCode == 0) return Message(MessageId::DatabaseTrialWriteFailedBecause, {message}) + ": " + folderHint;
        const std::error_code ec = SystemError(systemCode);
        std::string why = Message(MessageId::DatabaseTrialWriteFailed,
                                  {FailureText(Message(MessageId::DatabaseCreateJournal), path + "-journal", ec)});
        if (ec == std::errc::permission_denied || ec == std::errc::read_only_file_system) why += "; " + folderHint;
        return why;
    }
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Message(MessageId::DatabaseTrialWriteFailedBecause, {message}) + ": " + folderHint;
    default: return Message(MessageId::DatabaseTrialWriteFailedBecause, {message});
    }
}

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path) {
    sqlite3* db = nullptr;
    // Read and write, never create: the downloader owns the file.
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        throw Error(Message(MessageId::DatabaseCannotOpenWith, {path, message}));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    auto store = std::make_unique<SqliteStore>(db);
    // A damaged or encrypted file passes the header test but not a real read.
    char* err = nullptr;
    if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, &err) != SQLITE_OK) {
        std::string message = err ? err : sqlite3_errmsg(db);
        sqlite3_free(err);
        throw Error(Message(MessageId::DatabaseCannotReadWith, {path, message}));
    }
    if (const std::string why = WhyNotWritable(db, path); !why.empty()) {
        throw Error(Message(MessageId::DatabaseNotWritable, {path, why}));
    }
    return store;
}

}  // namespace ue
