#include <sqlite3.h>

#include <stdexcept>

#include "tests/support/TestDatabase.h"

namespace ue::test {
namespace {

class SqliteTestDatabase final : public TestDatabase {
public:
    explicit SqliteTestDatabase(const std::string& path) : TestDatabase(path) {}

    SqlRows Query(const std::string& sql) override {
        SqlRows rows;
        sqlite3* db = nullptr;
        char* err = nullptr;
        int rc = sqlite3_open(Path().c_str(), &db);
        const std::string quick = "PRAGMA synchronous=OFF;" + sql;
        if (rc == SQLITE_OK) rc = sqlite3_exec(db, quick.c_str(), Collect, &rows, &err);
        const std::string message = err != nullptr ? err : sqlite3_errmsg(db);
        sqlite3_free(err);
        sqlite3_close(db);
        if (rc != SQLITE_OK) throw std::runtime_error(message + " in: " + sql.substr(0, 300));
        return rows;
    }

private:
    static int Collect(void* rows, int columns, char** values, char**) {
        auto& row = static_cast<SqlRows*>(rows)->emplace_back();
        for (int i = 0; i < columns; ++i) row.emplace_back(values[i] ? values[i] : "NULL");
        return 0;
    }
};

}  // namespace

std::unique_ptr<TestDatabase> OpenTestDatabase(const std::string& path) {
    return std::make_unique<SqliteTestDatabase>(path);
}

}  // namespace ue::test
