#include "core/Errors.h"
#include "records/TableCursor.h"

namespace ue {

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool EqualsNoCase(const std::string& a, const char* b) {
    std::size_t n = 0;
    for (; b[n]; ++n) {
        if (n >= a.size()) return false;
        char x = a[n], y = b[n];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return n == a.size();
}

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
        if (EqualsNoCase(key, "Data Source")) return value;
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    return {};
}

void Connection::Open() {
    std::string path = DataSourceOf(ConnectionString);
    if (path.empty()) {
        throw Error("The connection text names no database file (\"Data Source=...\"): " +
                    ConnectionString);
    }
    store_ = OpenStoreForFile(path);
}

void Connection::Close() { store_.reset(); }

}  // namespace ue
