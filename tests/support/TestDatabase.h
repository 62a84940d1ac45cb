// An update database as the tests and benchmarks make and inspect it: what
// the downloader or another program does to the file, through the backend's
// own SQL, behind the store's back. Backend-neutral: the SQLite form is
// built on Linux, an ODBC form can stand beside it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ue::test {

// Rows as text, null as "NULL".
using SqlRows = std::vector<std::vector<std::string>>;

class TestDatabase {
public:
    virtual ~TestDatabase() = default;

    // Runs SQL (several statements allowed) on the database; every row it
    // gives. Throws std::runtime_error with the engine's message.
    virtual SqlRows Query(const std::string& sql) = 0;
    void Exec(const std::string& sql) { Query(sql); }

    const std::string& Path() const { return path_; }

protected:
    explicit TestDatabase(std::string path) : path_(std::move(path)) {}

private:
    std::string path_;
};

// Connects to the database file at `path`, creating it when missing (the
// fixture's own writes need not survive a power cut).
std::unique_ptr<TestDatabase> OpenTestDatabase(const std::string& path);

}  // namespace ue::test
