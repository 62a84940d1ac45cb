// Lays out an installation in a directory for the run's tests, the crash
// test's child and the benchmarks: UpdateFile.mdb made with SQLite from
// records/schema.sql, Update.ini, the update folder and installed files.
// Header-only so that it needs neither GoogleTest nor the test library.
#pragma once

#include <sqlite3.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ue::test {

// One DownLoadFileLog row; an empty optional is stored as null.
struct Download {
    std::optional<std::int64_t> aid;
    std::optional<std::int64_t> softId = 1;
    std::optional<std::string> fileName;
    std::optional<std::int64_t> fileVer = 1;
    std::optional<std::int64_t> fileType = 0;
    std::optional<bool> isClient = true;
    std::optional<std::string> updatePath = std::string();
};

using SqlRows = std::vector<std::vector<std::string>>;

class Installation {
public:
    // `root` must exist; the installation directory is root + "/".
    explicit Installation(std::string root) : root_(std::move(root)) {
        std::ifstream in(SchemaPath(), std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + SchemaPath());
        std::ostringstream schema;
        schema << in.rdbuf();
        Exec(schema.str());
    }

    // The installation directory with its trailing separator.
    std::string Base() const { return root_ + "/"; }
    std::string Path(const std::string& relative) const { return Base() + relative; }
    std::string Database() const { return Path("UpdateFile.mdb"); }

    static std::string SchemaPath() {
        return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "records" /
                "schema.sql")
            .lexically_normal()
            .string();
    }

    // Runs SQL (several statements allowed) on the database.
    void Exec(const std::string& sql) const {
        Db db(Database());
        char* err = nullptr;
        if (sqlite3_exec(db.handle, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string message = err ? err : "sqlite3_exec failed";
            sqlite3_free(err);
            throw std::runtime_error(message + " in: " + sql);
        }
    }

    // Every row of a query as text; null reads "NULL".
    SqlRows Query(const std::string& sql) const {
        Db db(Database());
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db.handle, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string(sqlite3_errmsg(db.handle)) + " in: " + sql);
        }
        SqlRows rows;
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                if (sqlite3_column_type(st, i) == SQLITE_NULL) {
                    row.emplace_back("NULL");
                } else {
                    auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
                    row.emplace_back(text, static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
                }
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(st);
        return rows;
    }

    // Every column of every row of a table, in the order the rows were added.
    SqlRows Table(const std::string& table) const {
        return Query("SELECT * FROM " + table + " ORDER BY rowid");
    }

    // Replaces CurSoftInfo by one row.
    void SetSoftInfo(std::optional<bool> isAllUpdate, std::optional<std::int64_t> softVer,
                     std::optional<std::int64_t> curUpdateVer) const {
        Exec("DELETE FROM CurSoftInfo; INSERT INTO CurSoftInfo VALUES (" + Sql(isAllUpdate) + "," +
             Sql(softVer) + "," + Sql(curUpdateVer) + ")");
    }

    void AddDownload(const Download& d) const { AddDownloads({d}); }

    // Adds many rows in one transaction (fast enough for benchmarks).
    void AddDownloads(const std::vector<Download>& rows) const {
        InsertMany("INSERT INTO DownLoadFileLog VALUES (?,?,?,?,?,?,?)", rows.size(),
                   [&](sqlite3_stmt* st, std::size_t i) {
                       const Download& d = rows[i];
                       Bind(st, 1, d.aid);
                       Bind(st, 2, d.softId);
                       Bind(st, 3, d.fileName);
                       Bind(st, 4, d.fileVer);
                       Bind(st, 5, d.fileType);
                       Bind(st, 6, d.isClient ? std::optional<std::int64_t>(*d.isClient ? 1 : 0)
                                              : std::nullopt);
                       Bind(st, 7, d.updatePath);
                   });
    }

    // Logs rows as applied, as an earlier run would have.
    void AddApplied(const std::vector<Download>& rows) const {
        const std::string bak = Base() + "bak/V0";
        InsertMany("INSERT INTO UpdateFileLog VALUES (?,?,?,?,?,?,1)", rows.size(),
                   [&](sqlite3_stmt* st, std::size_t i) {
                       const Download& d = rows[i];
                       Bind(st, 1, d.aid);
                       Bind(st, 2, d.softId);
                       Bind(st, 3, d.fileName);
                       Bind(st, 4, d.fileVer);
                       Bind(st, 5, std::optional<std::int64_t>(1));
                       Bind(st, 6, std::optional<std::string>(bak));
                   });
    }

    void WriteIni(const std::string& text) const { Put("Update.ini", text); }

    // Writes a file below the installation directory, creating its folders.
    void Put(const std::string& relative, const std::string& bytes) const {
        std::filesystem::path p(Path(relative));
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + p.string());
    }

    bool Exists(const std::string& relative) const {
        return std::filesystem::exists(Path(relative));
    }

    // The bytes of a file below the installation directory ("" when absent).
    std::string Read(const std::string& relative) const {
        std::ifstream in(Path(relative), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    // Every file below the installation directory but the database and its
    // journals, by relative path; folders as "<dir>/".
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
            std::string rel = std::filesystem::relative(entry.path(), root_).string();
            if (rel.rfind("UpdateFile.mdb", 0) == 0) continue;
            if (entry.is_directory()) {
                files[rel + "/"] = "";
            } else {
                files[rel] = Read(rel);
            }
        }
        return files;
    }

    // zlib stream of `bytes`, as the downloader leaves a compressed payload.
    static std::string Compress(const std::string& bytes) {
        uLongf size = compressBound(static_cast<uLong>(bytes.size()));
        std::string out(size, '\0');
        if (compress(reinterpret_cast<Bytef*>(out.data()), &size,
                     reinterpret_cast<const Bytef*>(bytes.data()),
                     static_cast<uLong>(bytes.size())) != Z_OK) {
            throw std::runtime_error("compress failed");
        }
        out.resize(size);
        return out;
    }

private:
    struct Db {
        explicit Db(const std::string& path) {
            if (sqlite3_open(path.c_str(), &handle) != SQLITE_OK) {
                std::string message = sqlite3_errmsg(handle);
                sqlite3_close(handle);
                throw std::runtime_error("cannot open " + path + ": " + message);
            }
            // The fixture's own writes need not survive a power cut.
            sqlite3_exec(handle, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
        }
        ~Db() { sqlite3_close(handle); }
        Db(const Db&) = delete;
        Db& operator=(const Db&) = delete;
        sqlite3* handle = nullptr;
    };

    template <typename Fill>
    void InsertMany(const char* sql, std::size_t count, Fill fill) const {
        Db db(Database());
        sqlite3_exec(db.handle, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db.handle, sql, -1, &st, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(db.handle));
        }
        for (std::size_t i = 0; i < count; ++i) {
            fill(st, i);
            if (sqlite3_step(st) != SQLITE_DONE) {
                std::string message = sqlite3_errmsg(db.handle);
                sqlite3_finalize(st);
                throw std::runtime_error(message);
            }
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        if (sqlite3_exec(db.handle, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(db.handle));
        }
    }

    static void Bind(sqlite3_stmt* st, int i, const std::optional<std::int64_t>& v) {
        if (v) {
            sqlite3_bind_int64(st, i, *v);
        } else {
            sqlite3_bind_null(st, i);
        }
    }
    static void Bind(sqlite3_stmt* st, int i, const std::optional<std::string>& v) {
        if (v) {
            sqlite3_bind_text(st, i, v->data(), static_cast<int>(v->size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_null(st, i);
        }
    }

    static std::string Sql(const std::optional<bool>& v) {
        return v ? (*v ? "1" : "0") : "NULL";
    }
    static std::string Sql(const std::optional<std::int64_t>& v) {
        return v ? std::to_string(*v) : "NULL";
    }

    std::string root_;
};

}  // namespace ue::test
