#include "records/TableContract.h"

#include <string>
#include <vector>

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "core/Text.h"

namespace ue {

namespace {

constexpr ContractColumn kCurSoftInfo[] = {
    {"IsAllUpdate", true},
    {"SoftVer", true},
    {"CurUpdateVer", false},
};

constexpr ContractColumn kDownLoadFileLog[] = {
    {"AID", false},      {"SoftID", false},   {"FileName", false},   {"FileVer", false},
    {"FileType", true},  {"IsClient", false}, {"UpdatePath", false},
};

constexpr ContractColumn kUpdateFileLog[] = {
    {"AID", true},      {"SoftID", true},  {"FileName", true}, {"FileVer", true},
    {"IsClient", true}, {"BakPath", true}, {"IsUpdate", true},
};

constexpr TableContract kContract[] = {
    // The end of a run edits the first row; only an empty table gets one added.
    {"CurSoftInfo", kCurSoftInfo, TableContract::Appends::WhenEmpty},
    // Written by the downloader; UpdateExe only rewrites FileType 5 to 0.
    {"DownLoadFileLog", kDownLoadFileLog, TableContract::Appends::Never},
    // One row for every applied file.
    {"UpdateFileLog", kUpdateFileLog, TableContract::Appends::Always},
};

// "'A'", "'A' and 'B'", "'A', 'B' and 'C'".
std::string QuotedList(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
        out += "'" + names[i] + "'";
    }
    return out;
}

}  // namespace

std::span<const TableContract> UpdateDatabaseContract() { return kContract; }

void CheckTableContract(const TableCursor& table) {
    if (!table.IsOpen()) {
        throw Error(Message(MessageId::TableClosed, {table.TableName()}));
    }
    const TableContract* contract = nullptr;
    for (const TableContract& c : kContract) {
        if (text::EqualsNoCaseAscii(c.table, table.TableName())) contract = &c;
    }
    if (contract == nullptr) return;

    const std::vector<ColumnInfo>& columns = table.Columns();
    auto find = [&](std::string_view name) -> const ColumnInfo* {
        for (const ColumnInfo& col : columns) {
            if (text::EqualsNoCaseAscii(col.name, name)) return &col;
        }
        return nullptr;
    };
    auto written = [&](std::string_view name) {
        for (const ContractColumn& c : contract->columns) {
            if (c.written && text::EqualsNoCaseAscii(c.name, name)) return true;
        }
        return false;
    };

    std::vector<std::string> missing, computed, unfilled;
    for (const ContractColumn& c : contract->columns) {
        const ColumnInfo* col = find(c.name);
        if (col == nullptr) {
            missing.emplace_back(c.name);
        } else if (c.written && col->generated) {
            computed.push_back(col->name);
        }
    }
    // A row UpdateExe adds holds values only in the columns it writes (which
    // may be null when copied from a null); the store fills the rest with
    // their defaults, or leaves them empty.
    const bool appends = contract->appends == TableContract::Appends::Always ||
                         (contract->appends == TableContract::Appends::WhenEmpty && table.RowCount() == 0);
    if (appends) {
        for (const ColumnInfo& col : columns) {
            if (col.notNull && !col.hasDefault && !col.generated && !written(col.name)) {
                unfilled.push_back(col.name);
            }
        }
    }
    if (missing.empty() && computed.empty() && unfilled.empty()) return;

    std::vector<std::string> problems, remedies;
    if (!missing.empty()) {
        const bool one = missing.size() == 1;
        problems.push_back("the update database lacks the column" + std::string(one ? " " : "s ") +
                           QuotedList(missing) + " that UpdateExe needs");
        remedies.push_back(one ? "add the missing column" : "add the missing columns");
    }
    if (!computed.empty()) {
        const bool one = computed.size() == 1;
        problems.push_back((one ? "column " : "columns ") + QuotedList(computed) +
                           (one ? " is" : " are") + " computed by the database, but UpdateExe writes " +
                           (one ? "it" : "them"));
        remedies.push_back("make " + QuotedList(computed) +
                           (one ? " an ordinary column" : " ordinary columns"));
    }
    if (!unfilled.empty()) {
        const bool one = unfilled.size() == 1;
        problems.push_back((one ? "column " : "columns ") + QuotedList(unfilled) +
                           " must have a value (NOT NULL without a default), but UpdateExe does not fill " +
                           (one ? "it" : "them"));
        remedies.push_back("give " + QuotedList(unfilled) + (one ? " a default" : " defaults") +
                           " or allow " + (one ? "it" : "them") + " to be empty");
    }

    std::string message = table.TableName() + ": ";
    for (std::size_t i = 0; i < problems.size(); ++i) message += (i > 0 ? "; " : "") + problems[i];
    message += ". Correct the table in the update database (";
    for (std::size_t i = 0; i < remedies.size(); ++i) message += (i > 0 ? ", " : "") + remedies[i];
    message += "); UpdateExe updates no file until then";
    throw Error(message);
}

}  // namespace ue
