#include "records/Store.h"

#include <cstring>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/MessageTable.h"
#include "core/Text.h"

namespace ue {

namespace {

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// What a format is, and what opens it, for the message when this build
// cannot.
struct FormatNeeds {
    MessageId what;
    MessageId needs;
};

FormatNeeds NeedsOf(DatabaseFormat format) {
    switch (format) {
    case DatabaseFormat::SQLite:
        return {MessageId::FormatSqlite, MessageId::NeedsSqlite};
    case DatabaseFormat::Access:
        return {MessageId::FormatAccess, MessageId::NeedsAccess};
    }
    return {MessageId::FormatSqlite, MessageId::NeedsSqlite};
}

}  // namespace

FieldKind KindOfDeclaredType(std::string_view declaredType) {
    std::string t = text::UpperAscii(declaredType);
    // "BIT(1)", "VARCHAR(255)": the size does not change the kind.
    if (auto paren = t.find('('); paren != std::string::npos) t.erase(paren);
    t = std::string(text::Trim(t));

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
    std::string head;
    if (const std::error_code ec = fileio::ReadPrefix(path, 32, head)) {
        if (ec == std::errc::no_such_file_or_directory) {
            throw Error(Message(MessageId::DatabaseMissing, {path}));
        }
        ThrowFailure(Message(MessageId::DatabaseCannotRead), path, ec);
    }
    const std::size_t n = head.size();

    static const char kSqlite[] = "SQLite format 3";  // followed by a zero byte
    if (n >= sizeof kSqlite && std::memcmp(head.data(), kSqlite, sizeof kSqlite) == 0) {
        return DatabaseFormat::SQLite;
    }
    if (n >= 4 + 15 && (std::memcmp(head.data() + 4, "Standard Jet DB", 15) == 0 ||
                        std::memcmp(head.data() + 4, "Standard ACE DB", 15) == 0)) {
        return DatabaseFormat::Access;
    }
    if (n == 0) throw Error(Message(MessageId::DatabaseEmpty, {path}));
    throw Error(Message(MessageId::DatabaseNotADatabase, {path}));
}

std::unique_ptr<Store> OpenStoreForFile(const std::string& path) {
    // Missing files and files that are no database get their own messages.
    const DatabaseFormat format = DetectDatabaseFormat(path);
    std::string linked;
    for (const StoreBackend& backend : LinkedStoreBackends()) {
        if (backend.format == format) return backend.open(path);
        linked += (linked.empty() ? "" : ", ") + std::string(backend.name);
    }
    const FormatNeeds needs = NeedsOf(format);
    throw Error(Message(MessageId::DatabaseNoBackend,
                        {path, Message(needs.what),
                         linked.empty() ? Message(MessageId::DatabaseNoBackendAtAll)
                                        : Message(MessageId::DatabaseBackendsLinked, {linked})}) +
                ". " + Message(needs.needs));
}

}  // namespace ue
