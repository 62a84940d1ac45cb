// FindRow against a linear scan over the same 100,000 rows, and OpenTable of
// those rows against a bare SQLite read of the same query.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "records/TableCursor.h"

namespace {

using ue::FieldValue;
constexpr int kRows = 100000;

std::string FileNameOf(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "file%06d's.dll", i);
    return buf;
}

// One database in a temporary folder for the whole run.
struct Fixture {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("ue-bench-" + std::to_string(std::random_device{}()));
    std::string path = (dir / "UpdateFile.mdb").string();
    ue::Connection connection;

    Fixture() {
        std::filesystem::create_directories(dir);
        sqlite3* db = nullptr;
        sqlite3_stmt* st = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        sqlite3_exec(db,
                     "CREATE TABLE UpdateFileLog (AID INTEGER, SoftID INTEGER, FileName TEXT, "
                     "FileVer INTEGER, IsClient BOOLEAN, BakPath TEXT, IsUpdate BOOLEAN); BEGIN;",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "INSERT INTO UpdateFileLog VALUES (?, 1, ?, ?, 1, '/opt/app/bak/V3', 1)",
                           -1, &st, nullptr);
        for (int i = 0; i < kRows; ++i) {
            sqlite3_bind_int(st, 1, i);
            sqlite3_bind_text(st, 2, FileNameOf(i).c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(st, 3, i % 13);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        connection.ConnectionString = "Data Source=" + path;
        connection.Open();
    }
    ~Fixture() {
        connection.Close();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Fixture& Db() {
    static Fixture fixture;
    return fixture;
}

// Keys of existing rows in a fixed random order.
const std::vector<std::pair<std::string, int>>& Keys() {
    static const auto keys = [] {
        std::vector<std::pair<std::string, int>> k;
        std::mt19937 rng(42);
        for (int n = 0; n < 1024; ++n) {
            int i = static_cast<int>(rng() % kRows);
            k.emplace_back(FileNameOf(i), i % 13);
        }
        return k;
    }();
    return keys;
}

void BM_FindRow(benchmark::State& state) {
    ue::TableCursor log(Db().connection, "UpdateFileLog");
    log.OpenTable();
    log.FindRow("FileName;FileVer", {FieldValue::Text(""), FieldValue::Int(0)});  // builds the index
    std::size_t n = 0;
    for (auto _ : state) {
        const auto& [name, ver] = Keys()[n++ % Keys().size()];
        bool hit = log.FindRow("FileName;FileVer", {FieldValue::Text(name), FieldValue::Int(ver)});
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(BM_FindRow);

// Reference: the plainest linear scan over the same rows held in memory.
void BM_LinearScan(benchmark::State& state) {
    ue::TableCursor log(Db().connection, "UpdateFileLog");
    log.OpenTable();
    std::vector<std::pair<std::string, std::int64_t>> rows;
    for (std::size_t r = 0; r < log.RowCount(); ++r) {
        rows.emplace_back(log.Cell(r, 2).AsText(), log.Cell(r, 3).AsInt());
    }
    std::size_t n = 0;
    for (auto _ : state) {
        const auto& [name, ver] = Keys()[n++ % Keys().size()];
        std::size_t found = 0;
        while (found < rows.size() && !(rows[found].second == ver && rows[found].first == name)) ++found;
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_LinearScan);

// What the first lookup of a run costs: the index is built on first use.
void BM_ReopenAndFirstFindRow(benchmark::State& state) {
    ue::TableCursor log(Db().connection, "UpdateFileLog");
    for (auto _ : state) {
        log.Reopen();
        bool hit = log.FindRow("FileName;FileVer", {FieldValue::Text(FileNameOf(7)), FieldValue::Int(7)});
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(BM_ReopenAndFirstFindRow)->Unit(benchmark::kMillisecond);

void BM_OpenTable(benchmark::State& state) {
    ue::TableCursor log(Db().connection, "UpdateFileLog");
    for (auto _ : state) {
        log.OpenTable();
        benchmark::DoNotOptimize(log.RowCount());
        log.CloseTable();
    }
}
BENCHMARK(BM_OpenTable)->Unit(benchmark::kMillisecond);

// Reference: SQLite stepping the same query and touching every value.
void BM_BareSqliteRead(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Db().path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT rowid, * FROM UpdateFileLog", -1, &st, nullptr);
        std::size_t bytes = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                bool text = sqlite3_column_type(st, c) == SQLITE_TEXT;
                if (text) sqlite3_column_text(st, c);
                bytes += static_cast<std::size_t>(text ? sqlite3_column_bytes(st, c)
                                                       : sqlite3_column_int64(st, c));
            }
        }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(bytes);
    }
    sqlite3_close(db);
}
BENCHMARK(BM_BareSqliteRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
