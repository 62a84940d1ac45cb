// The test database on Windows: an SQLite file made and changed through the
// same SQLite ODBC driver the store uses, as another program would. ODBC
// runs one statement per call, so SQL text is split at the ";" that end
// statements (outside quotes, after "--" comments are dropped).
#include <windows.h>
// windows.h first: the ODBC headers use its types.
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "core/WinText.h"
#include "records/OdbcStore.h"
#include "tests/support/TestDatabase.h"

namespace ue::test {
namespace {

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string message;
    SQLWCHAR state[6], text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1; SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, i, state, &native, text,
                                                         1024, &length)); ++i)
        message += (message.empty() ? "" : "; ") + Narrow(reinterpret_cast<const wchar_t*>(text));
    return message;
}

std::vector<std::string> Statements(const std::string& sql) {
    std::vector<std::string> out;
    std::string current;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            while (i < sql.size() && sql[i] != '\n') ++i;
            continue;
        } else if (c == ';') {
            if (current.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    if (current.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(current);
    return out;
}

class OdbcTestDatabase final : public TestDatabase {
public:
    explicit OdbcTestDatabase(const std::string& path) : TestDatabase(path) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0);
        std::string why;
        for (const char* driver : OdbcDriversFor(DatabaseFormat::SQLite)) {
            SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
            // Made when missing; no fsync needed for a fixture.
            std::wstring text = Wide("Driver={" + std::string(driver) +
                                     "};Database=" + SqliteDatabaseValue(OdbcDriverPath(path)) +
                                     ";SyncPragma=OFF;");
            SQLSMALLINT outLength = 0;
            if (SQL_SUCCEEDED(SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(text.data()),
                                                SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT)))
                return;
            why += Diagnostics(SQL_HANDLE_DBC, dbc_) + " ";
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
            dbc_ = SQL_NULL_HANDLE;
        }
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        throw std::runtime_error("cannot make the test database " + path + ": " + why);
    }
    ~OdbcTestDatabase() override {
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }

    SqlRows Query(const std::string& sql) override {
        SqlRows rows;
        for (const std::string& statement : Statements(sql)) {
            SQLHSTMT stmt = SQL_NULL_HANDLE;
            SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
            std::wstring text = Wide(statement);
            SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
            if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
                const std::string message = Diagnostics(SQL_HANDLE_STMT, stmt);
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                throw std::runtime_error(message + " in: " + statement.substr(0, 300));
            }
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt, &columns);
            while (columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
                auto& row = rows.emplace_back();
                for (SQLSMALLINT c = 1; c <= columns; ++c) {
                    wchar_t value[2048] = {};
                    SQLLEN indicator = 0;
                    SQLGetData(stmt, static_cast<SQLUSMALLINT>(c), SQL_C_WCHAR, value, sizeof value,
                               &indicator);
                    row.push_back(indicator == SQL_NULL_DATA ? "NULL" : Narrow(value));
                }
            }
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        }
        return rows;
    }

private:
    SQLHENV env_ = SQL_NULL_HANDLE;
    SQLHDBC dbc_ = SQL_NULL_HANDLE;
};

}  // namespace

std::unique_ptr<TestDatabase> OpenTestDatabase(const std::string& path) {
    return std::make_unique<OdbcTestDatabase>(path);
}

}  // namespace ue::test
