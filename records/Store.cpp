#include "records/Store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/Errors.h"

namespace ue {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

}  // namespace

FieldKind KindOfDeclaredType(std::string_view declaredType) {
    std::string t = Upper(declaredType);
    // "BIT(1)", "VARCHAR(255)": the size does not change the kind.
    if (auto paren = t.find('('); paren != std::string::npos) t.erase(paren);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.erase(0, 1);

    if (t == "BOOLEAN" || t == "BOOL" || t == "BIT" || t == "YESNO") return FieldKind::Boolean;
    if (Contains(t, "INT") || t == "LONG" || t == "SHORT" || t == "BYTE" || t == "COUNTER" ||
        t == "AUTOINCREMENT") {
        return FieldKind::Integer;
    }
    if (Contains(t, "CHAR") || Contains(t, "TEXT") || Contains(t, "CLOB") || t == "MEMO" ||
        t == "STRING") {
        return FieldKind::Text;
    }
    return FieldKind::Opaque;
}

DatabaseFormat DetectDatabaseFormat(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        int err = errno;
        if (err == ENOENT) throw Error("The update database \"" + path + "\" does not exist");
        throw Error("Cannot open the update database \"" + path + "\": " + std::strerror(err));
    }
    unsigned char head[32] = {};
    std::size_t n = std::fread(head, 1, sizeof head, f);
    bool failed = std::ferror(f) != 0;
    int err = errno;
    std::fclose(f);
    if (failed) {
        throw Error("Cannot read the update database \"" + path + "\": " + std::strerror(err));
    }

    static const char kSqlite[] = "SQLite format 3";  // followed by a zero byte
    if (n >= sizeof kSqlite && std::memcmp(head, kSqlite, sizeof kSqlite) == 0) {
        return DatabaseFormat::SQLite;
    }
    if (n >= 4 + 15 && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                        std::memcmp(head + 4, "Standard ACE DB", 15) == 0)) {
        return DatabaseFormat::Access;
    }
    if (n == 0) throw Error("The update database \"" + path + "\" is an empty file, not a database");
    throw Error("The update database \"" + path +
                "\" is not a database (neither an SQLite nor an Access file)");
}

}  // namespace ue
