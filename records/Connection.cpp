#include "core/Errors.h"
#include "core/Text.h"
#include "records/TableCursor.h"

namespace ue {

namespace {

std::string Trim(std::string_view s) { return std::string(text::Trim(s, " \t\r\n")); }

}  // namespace

std::string Connection::DataSourceOf(const std::string& connectionString) {
    // "Key=Value;Key=Value;..."; a value may be quoted to hold ";".
    std::size_t pos = 0;
    while (pos < connectionString.size()) {
        std::size_t eq = connectionString.find('=', pos);
        if (eq == std::string::npos) break;
        std::string key = Trim(connectionString.substr(pos, eq - pos));
        std::size_t v = connectionString.find_first_not_of(" \t", eq + 1);
        std::string value;
        std::size_t next;
        if (v != std::string::npos && (connectionString[v] == '"' || connectionString[v] == '\'')) {
            std::size_t close = connectionString.find(connectionString[v], v + 1);
            if (close == std::string::npos) close = connectionString.size();
            value = connectionString.substr(v + 1, close - v - 1);
            next = connectionString.find(';', close);
        } else {
            next = connectionString.find(';', eq + 1);
            value = Trim(connectionString.substr(eq + 1, next == std::string::npos
                                                             ? std::string::npos
                                                             : next - eq - 1));
        }
        if (text::EqualsNoCaseAscii(key, "Data Source")) return value;
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    return {};
}

void Connection::Open() {
    const std::string path = DataSource.empty() ? DataSourceOf(ConnectionString) : DataSource;
    if (path.empty()) {
        throw Error("The connection text names no database file (\"Data Source=...\"): " +
                    ConnectionString);
    }
    store_ = OpenStoreForFile(path);
}

void Connection::Close() { store_.reset(); }

}  // namespace ue
