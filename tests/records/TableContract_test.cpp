// The check of the opened tables against the contract, on real SQLite
// databases as a downloader might have made them, and the contract against
// records/schema.sql.
#include "records/TableContract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDatabase.h"

namespace ue {
namespace {

using testing::HasSubstr;

std::string Schema() {
    const auto path = std::filesystem::path(UE_SOURCE_DIR) / "records" / "schema.sql";
    return test::ReadFileBytes(path.string());
}

// Table and column names of schema.sql, in order: its simple form is
// "CREATE TABLE Name (" then one "Column TYPE," per line, then ");".
std::vector<std::pair<std::string, std::vector<std::string>>> SchemaColumns() {
    std::vector<std::pair<std::string, std::vector<std::string>>> tables;
    std::string sql, line;
    std::istringstream lines(Schema());
    while (std::getline(lines, line)) sql += line.substr(0, line.find("--")) + " ";
    for (std::size_t at = 0; (at = sql.find("CREATE TABLE", at)) != std::string::npos;) {
        const std::size_t open = sql.find('(', at), close = sql.find(')', open);
        std::string name = sql.substr(at + 12, open - at - 12);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        auto& [table, columns] = tables.emplace_back(name, std::vector<std::string>{});
        const std::string body = sql.substr(open + 1, close - open - 1);
        for (std::size_t from = 0; from <= body.size();) {
            std::size_t comma = body.find(',', from);
            if (comma == std::string::npos) comma = body.size();
            const std::string def = body.substr(from, comma - from);
            const std::size_t b = def.find_first_not_of(" \t\r\n");
            if (b != std::string::npos) columns.push_back(def.substr(b, def.find_first_of(" \t\r\n", b) - b));
            from = comma + 1;
        }
        at = close;
    }
    return tables;
}

TEST(TableContract, MatchesTheSchemaFile) {
    std::vector<std::pair<std::string, std::vector<std::string>>> contract;
    for (const TableContract& t : UpdateDatabaseContract()) {
        auto& [table, columns] = contract.emplace_back(std::string(t.table), std::vector<std::string>{});
        for (const ContractColumn& c : t.columns) columns.emplace_back(c.name);
    }
    const auto schema = SchemaColumns();
    ASSERT_EQ(schema.size(), 3u);
    EXPECT_EQ(schema, contract);
}

constexpr const char* kInfoColumns = "IsAllUpdate BOOLEAN, SoftVer INTEGER, CurUpdateVer INTEGER";
constexpr const char* kDownColumns =
    "AID INTEGER, SoftID INTEGER, FileName TEXT, FileVer INTEGER, FileType INTEGER, IsClient BOOLEAN, "
    "UpdatePath TEXT";
constexpr const char* kLogColumns =
    "SoftID INTEGER, FileName TEXT, FileVer INTEGER, IsClient BOOLEAN, BakPath TEXT, IsUpdate BOOLEAN";

// `table` made anew with `columns` (SQLite adds no NOT NULL column without a
// default to a table).
std::string Recreate(const std::string& table, const std::string& columns) {
    return "DROP TABLE " + table + "; CREATE TABLE " + table + " (" + columns + ");";
}

struct Case {
    std::string what;
    std::string sql;    // run on the database made from schema.sql
    std::string table;  // the cursor's table name
    std::vector<std::string> refusal;  // parts of the message; empty: passes
};

std::vector<Case> Cases() {
    std::vector<Case> cases = {
        {"the schema as is", "", "CurSoftInfo", {}},
        {"the schema as is", "", "DownLoadFileLog", {}},
        {"the schema as is", "", "UpdateFileLog", {}},
        {"log: extra NOT NULL without default",
         Recreate("UpdateFileLog", "AID INTEGER, " + std::string(kLogColumns) + ", Note TEXT NOT NULL"),
         "UpdateFileLog",
         {"UpdateFileLog: column 'Note' must have a value (NOT NULL without a default), but UpdateExe does "
          "not fill it. Correct the table in the update database (give 'Note' a default or allow it to be "
          "empty); UpdateExe updates no file until then"}},
        {"log: extra NOT NULL with a default, a generated and a nullable column",
         Recreate("UpdateFileLog", "AID INTEGER, " + std::string(kLogColumns) +
                                       ", Note TEXT NOT NULL DEFAULT '', Twice INTEGER NOT NULL "
                                       "GENERATED ALWAYS AS (FileVer * 2), Remark TEXT"),
         "UpdateFileLog",
         {}},
        {"log: NOT NULL on the columns UpdateExe fills",
         Recreate("UpdateFileLog",
                  "AID INTEGER NOT NULL, SoftID INTEGER NOT NULL, FileName TEXT NOT NULL, FileVer INTEGER, "
                  "IsClient BOOLEAN, BakPath TEXT, IsUpdate BOOLEAN NOT NULL"),
         "UpdateFileLog",
         {}},
        {"log: a written column computed by the store",
         Recreate("UpdateFileLog",
                  "AID INTEGER GENERATED ALWAYS AS (FileVer + 1), " + std::string(kLogColumns)),
         "UpdateFileLog",
         {"UpdateFileLog: column 'AID' is computed by the database, but UpdateExe writes it",
          "make 'AID' an ordinary column"}},
        {"log: every problem in one message",
         Recreate("UpdateFileLog", "AID INTEGER, SoftID INTEGER, FileName TEXT, FileVer INTEGER, "
                                   "IsClient BOOLEAN, A TEXT NOT NULL, B TEXT NOT NULL"),
         "UpdateFileLog",
         {"UpdateFileLog: the update database lacks the columns 'BakPath' and 'IsUpdate' that UpdateExe "
          "needs; columns 'A' and 'B' must have a value (NOT NULL without a default), but UpdateExe does "
          "not fill them. Correct the table in the update database (add the missing columns, give 'A' and "
          "'B' defaults or allow them to be empty)"}},
        {"downloads: extra NOT NULL without default (never appended to)",
         Recreate("DownLoadFileLog", std::string(kDownColumns) + ", Note TEXT NOT NULL"), "DownLoadFileLog",
         {}},
        {"info: extra NOT NULL without default, a row present",
         Recreate("CurSoftInfo", std::string(kInfoColumns) + ", Owner TEXT NOT NULL") +
             "INSERT INTO CurSoftInfo VALUES (0, 1, 2, 'x');",
         "CurSoftInfo",
         {}},
        {"info: extra NOT NULL without default, no row",
         Recreate("CurSoftInfo", std::string(kInfoColumns) + ", Owner TEXT NOT NULL"),
         "CurSoftInfo",
         {"CurSoftInfo: column 'Owner' must have a value"}},
        {"info: CurUpdateVer NOT NULL, no row (UpdateExe writes only SoftVer and IsAllUpdate)",
         Recreate("CurSoftInfo",
                  "IsAllUpdate BOOLEAN NOT NULL, SoftVer INTEGER NOT NULL, CurUpdateVer INTEGER NOT NULL"),
         "CurSoftInfo",
         {"CurSoftInfo: column 'CurUpdateVer' must have a value"}},
        {"names in other letter case",
         Recreate("UpdateFileLog", "aid INTEGER, SOFTID INTEGER, filename TEXT, FileVER INTEGER, isclient "
                                   "BOOLEAN, BAKPATH TEXT, isUpdate BOOLEAN"),
         "updatefilelog",
         {}},
        {"contract columns declared loosely",
         Recreate("DownLoadFileLog", "AID, SoftID, FileName, FileVer, FileType TEXT, IsClient, UpdatePath"),
         "DownLoadFileLog",
         {}},
    };
    for (const TableContract& t : UpdateDatabaseContract()) {
        for (const ContractColumn& c : t.columns) {
            const std::string table(t.table), column(c.name);
            cases.push_back({"missing " + column,
                             "ALTER TABLE " + table + " DROP COLUMN " + column + ";",
                             table,
                             {table + ": the update database lacks the column '" + column +
                                  "' that UpdateExe needs",
                              "add the missing column"}});
        }
    }
    return cases;
}

TEST(TableContract, RefusesTablesWhoseRowsUpdateExeCannotWrite) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what + " (" + c.table + ")");
        test::TempDir dir;
        const std::string path = dir.file("UpdateFile.mdb");
        test::OpenTestDatabase(path)->Exec(Schema() + c.sql);
        Connection connection;
        connection.ConnectionString = "Data Source=" + path;
        connection.Open();
        TableCursor table(connection, c.table);
        table.OpenTable();
        if (c.refusal.empty()) {
            EXPECT_NO_THROW(CheckTableContract(table));
        } else {
            try {
                CheckTableContract(table);
                ADD_FAILURE() << "not refused";
            } catch (const Error& e) {
                for (const std::string& part : c.refusal) EXPECT_THAT(e.what(), HasSubstr(part));
            }
        }
    }
}

}  // namespace
}  // namespace ue
