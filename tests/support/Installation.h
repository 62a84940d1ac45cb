// Lays out an installation in a directory for the run's tests and the
// benchmarks: UpdateFile.mdb made through the test database from
// records/schema.sql, Update.ini, the update folder and installed files.
// Header-only, so that programs without GoogleTest use it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "sysops/Platform.h"
#include "tests/support/TestDatabase.h"

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

class Installation {
public:
    // `root` must exist; the installation directory is root and this
    // platform's separator.
    explicit Installation(std::string root)
        : root_(std::move(root)), db_(OpenTestDatabase(Database())) {
        const std::string schema =
            Slurp(std::filesystem::path(UE_SOURCE_DIR) / "records/schema.sql");
        if (schema.empty()) throw std::runtime_error("cannot read records/schema.sql");
        Exec(schema);
    }

    // The installation directory with its trailing separator, and a path
    // below it given with "/", in this platform's form (as the run builds it).
    std::string Base() const { return root_ + PathSeparator(); }
    std::string Path(std::string relative) const {
        for (char& c : relative) c = c == '/' ? PathSeparator() : c;
        return Base() + relative;
    }
    std::string Database() const { return Path("UpdateFile.mdb"); }

    // Runs SQL (several statements allowed) on the database; every row it
    // gives, as text, null as "NULL".
    SqlRows Query(const std::string& sql) const { return db_->Query(sql); }
    void Exec(const std::string& sql) const { Query(sql); }

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
    void AddDownloads(const std::vector<Download>& rows) const {
        std::string sql = "BEGIN;";
        for (const Download& d : rows) {
            sql += "INSERT INTO DownLoadFileLog VALUES (" + Sql(d.aid) + "," + Sql(d.softId) + "," +
                   Sql(d.fileName) + "," + Sql(d.fileVer) + "," + Sql(d.fileType) + "," +
                   Sql(d.isClient) + "," + Sql(d.updatePath) + ");";
        }
        Exec(sql + "COMMIT;");
    }

    // Logs rows as applied, as an earlier run would have.
    void AddApplied(const std::vector<Download>& rows) const {
        std::string sql = "BEGIN;";
        for (const Download& d : rows) {
            sql += "INSERT INTO UpdateFileLog VALUES (" + Sql(d.aid) + "," + Sql(d.softId) + "," +
                   Sql(d.fileName) + "," + Sql(d.fileVer) + ",1," +
                   Sql<std::string>(Path("bak/V0")) + ",1);";
        }
        Exec(sql + "COMMIT;");
    }

    void WriteIni(const std::string& text) const { Put("Update.ini", text); }

    // Writes a file below the installation directory, creating its folders.
    void Put(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path p = U8Path(Path(relative));
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + Path(relative));
    }

    bool Exists(const std::string& relative) const {
        return std::filesystem::exists(U8Path(Path(relative)));
    }

    // The bytes of a file below the installation directory ("" when absent).
    std::string Read(const std::string& relative) const { return Slurp(U8Path(Path(relative))); }

    // A UTF-8 path as std::filesystem takes it on every platform (a narrow
    // one is read in the ANSI code page on Windows).
    static std::filesystem::path U8Path(const std::string& path) {
        return std::filesystem::path(std::u8string(path.begin(), path.end()));
    }

    // Every file below the installation directory but the database and its
    // journals, by relative path; folders as "<dir>/".
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
            std::string rel = std::filesystem::relative(entry.path(), root_).generic_string();
            if (rel.rfind("UpdateFile.mdb", 0) == 0) continue;
            files[entry.is_directory() ? rel + "/" : rel] = entry.is_directory() ? "" : Read(rel);
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
    static std::string Slurp(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    // SQL literals; booleans as 0/1.
    template <typename T>
    static std::string Sql(const std::optional<T>& v) {
        if (!v) return "NULL";
        if constexpr (std::is_same_v<T, std::string>) {
            std::string quoted = "'";
            for (char c : *v) quoted += c == '\'' ? std::string("''") : std::string(1, c);
            return quoted + "'";
        } else {
            return std::to_string(+*v);
        }
    }

    std::string root_;
    std::shared_ptr<TestDatabase> db_;
};

}  // namespace ue::test
