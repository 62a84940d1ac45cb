// Cursor logic over an in-memory store: navigation, reads and writes by
// field kind, the edit states, the failure messages and FindRow.
#include "records/TableCursor.h"

#include <functional>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Errors.h"
#include "tests/support/MemoryStore.h"

namespace ue {
namespace {

using test::Column;
using test::MemoryStore;
using testing::HasSubstr;
using V = FieldValue;

auto Raises(auto message) { return testing::ThrowsMessage<Error>(std::move(message)); }

class CursorTest : public ::testing::Test {
protected:
    CursorTest() {
        auto s = std::make_unique<MemoryStore>();
        store = s.get();
        store->AddTable("CurSoftInfo", {Column("IsAllUpdate", "BOOLEAN"), Column("SoftVer", "INTEGER"),
                                        Column("CurUpdateVer", "INTEGER")});
        store->AddTable("UpdateFileLog",
                        {Column("AID", "INTEGER"), Column("SoftID", ""), Column("FileName", "TEXT"),
                         Column("FileVer", "INTEGER"), Column("IsClient", "BOOLEAN"),
                         Column("BakPath", "TEXT"), Column("IsUpdate", "BOOLEAN"),
                         Column("Note", "VARCHAR(20)")});
        connection.Attach(std::move(s));
    }

    std::int64_t Log(const char* name, std::int64_t ver) {
        return store->AddRow("UpdateFileLog", {V::Int(1), V::Null(), V::Text(name), V::Int(ver)});
    }
    // A row of UpdateFileLog as the store holds it.
    const std::vector<V>& Stored(std::size_t row) { return store->GetTable("UpdateFileLog").rows.at(row).values; }
    bool Find(const char* name, std::int64_t ver) {
        return log.FindRow("FileName;FileVer", {V::Text(name), V::Int(ver)});
    }

    MemoryStore* store = nullptr;
    Connection connection;
    TableCursor info{connection, "CurSoftInfo"};
    TableCursor log{connection, "UpdateFileLog"};
};

TEST_F(CursorTest, NavigatesInTableOrderAndReopenShowsOtherProgramsChanges) {
    Log("a.dll", 1);
    Log("b.dll", 2);
    log.OpenTable();
    ASSERT_EQ(log.Columns().size(), 8u);
    EXPECT_EQ(log.Columns()[2].name, "FileName");
    EXPECT_EQ(log.Columns()[7].name, "Note");
    EXPECT_EQ(log.GetText("FileName"), "a.dll");
    log.GoNext();
    EXPECT_FALSE(log.AtEnd());
    EXPECT_EQ(log.GetText("FileName"), "b.dll");
    log.GoNext();
    EXPECT_TRUE(log.AtEnd());
    EXPECT_EQ(log.CurrentRow(), log.RowCount());
    log.GoNext();  // stays at the end
    EXPECT_TRUE(log.AtEnd());
    log.GoFirst();
    EXPECT_EQ(log.GetText("filename"), "a.dll");

    Log("c.dll", 3);
    log.OpenTable();  // already open: nothing is read again
    EXPECT_EQ(store->reads, 1);
    EXPECT_EQ(log.RowCount(), 2u);
    log.Reopen();
    EXPECT_EQ(log.RowCount(), 3u);
    EXPECT_EQ(store->reads, 2);
}

TEST_F(CursorTest, ClosedCursorRaisesNamingTheTable) {
    auto closed = Raises("UpdateFileLog: Cannot perform this operation on a closed table");
    EXPECT_THAT([&] { log.GoFirst(); }, closed);
    EXPECT_THAT([&] { (void)log.GetText("FileName"); }, closed);
    EXPECT_THAT([&] { (void)log.AtEnd(); }, closed);
    EXPECT_THAT([&] { log.BeginAppend(); }, closed);
    // Nothing to finish or drop, nothing to find: these stay quiet.
    log.CloseTable();
    log.DiscardRow();
    log.FinishEdit();
    EXPECT_FALSE(Find("a", 1));
    Connection closedConnection;
    TableCursor unconnected{closedConnection, "CurSoftInfo"};
    EXPECT_THAT([&] { unconnected.OpenTable(); },
                Raises("CurSoftInfo: the database connection is not open"));
}

TEST_F(CursorTest, EmptyTableReadsFalseZeroAndEmpty) {
    info.OpenTable();
    EXPECT_TRUE(info.AtEnd());
    EXPECT_FALSE(info.GetBool("IsAllUpdate"));
    EXPECT_EQ(info.GetInt("CurUpdateVer"), 0);
    EXPECT_TRUE(info.GetValue("SoftVer").IsNull());

    // BeginEdit on an empty table appends its first row.
    info.BeginEdit();
    EXPECT_EQ(info.GetState(), TableCursor::State::Appending);
    info.SetInt("SoftVer", info.GetInt("CurUpdateVer"));
    info.SetBool("IsAllUpdate", true);
    info.SaveRow();
    auto& rows = store->GetTable("CurSoftInfo").rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].values, (std::vector<V>{V::Int(1), V::Int(0), V::Null()}));  // booleans as 0/1
    EXPECT_FALSE(info.AtEnd());
    EXPECT_TRUE(info.GetBool("IsAllUpdate"));
    EXPECT_EQ(info.GetValue("IsAllUpdate"), V::Bool(true));
}

TEST_F(CursorTest, NullsReadAsDefaultsAndValuesKeepTheirKind) {
    store->AddRow("UpdateFileLog", {V::Null(), V::Text("soft-7"), V::Null(), V::Null(), V::Int(0)});
    store->AddRow("UpdateFileLog",
                  {V::Int(int64_t{1} << 40), V::Int(9), V::Text("x"), V::Int(-5), V::Int(1)});
    log.OpenTable();
    EXPECT_EQ(log.GetText("FileName"), "");
    EXPECT_EQ(log.GetInt("FileVer"), 0);
    EXPECT_FALSE(log.GetBool("IsUpdate"));
    EXPECT_TRUE(log.GetValue("AID").IsNull());
    EXPECT_EQ(log.GetValue("SoftID"), V::Text("soft-7"));  // opaque: whole, not interpreted
    EXPECT_EQ(log.GetValue("IsClient"), V::Bool(false));
    log.GoNext();
    EXPECT_EQ(log.GetValue("AID"), V::Int(int64_t{1} << 40));  // carried whole
    EXPECT_EQ(log.GetInt("FileVer"), -5);
    EXPECT_EQ(log.GetText("FileVer"), "-5");
    EXPECT_EQ(log.GetText("IsClient"), "True");
    EXPECT_THAT([&] { (void)log.GetInt("AID"); },
                Raises("UpdateFileLog: Value 1099511627776 of field 'AID' is out of the range "
                                     "of a 32-bit Integer"));
}

TEST_F(CursorTest, FailureMessagesWordForWord) {
    Log("a.dll", 1);
    store->GetTable("UpdateFileLog").columns[7].generated = true;
    log.OpenTable();
    EXPECT_THAT([&] { (void)log.GetText("Missing"); }, Raises("UpdateFileLog: Field 'Missing' not found"));
    EXPECT_THAT([&] { (void)log.GetBool("FileVer"); },
                Raises("Cannot access field 'FileVer' as type Boolean"));
    EXPECT_THAT([&] { (void)log.GetInt("isclient"); },
                Raises("Cannot access field 'IsClient' as type Integer"));
    EXPECT_THAT([&] { log.SetInt("FileVer", 1); }, Raises(HasSubstr("no row is being edited")));
    log.BeginEdit();
    EXPECT_THAT([&] { log.SetBool("FileVer", true); },
                Raises("Cannot access field 'FileVer' as type Boolean"));
    EXPECT_THAT([&] { log.SetInt("IsUpdate", 1); },
                Raises("Cannot access field 'IsUpdate' as type Integer"));
    EXPECT_THAT([&] { log.SetValue("Note", V::Text("n")); }, Raises("Field 'Note' cannot be modified"));
    EXPECT_THAT([&] { log.SetValue("Nope", V::Int(1)); }, Raises("UpdateFileLog: Field 'Nope' not found"));
    log.DiscardRow();
    EXPECT_EQ(store->updates, 0);
}

TEST_F(CursorTest, FailedSaveLeavesTheRowPendingUntilDiscarded) {
    store->GetTable("UpdateFileLog").columns[5].notNull = true;  // BakPath
    log.OpenTable();
    log.BeginAppend();
    log.SetValue("FileName", V::Text("a.dll"));
    EXPECT_THAT([&] { log.SaveRow(); }, Raises("Field 'BakPath' must have a value"));
    EXPECT_EQ(log.GetState(), TableCursor::State::Appending);
    EXPECT_EQ(store->inserts, 0);

    log.SetValue("BakPath", V::Text("/opt/app/bak/V3"));
    store->failNextWrite = "disk I/O error";
    EXPECT_THAT([&] { log.SaveRow(); }, Raises("disk I/O error"));
    EXPECT_EQ(log.GetState(), TableCursor::State::Appending);
    EXPECT_EQ(log.GetText("FileName"), "a.dll");
    EXPECT_EQ(log.RowCount(), 1u);

    log.DiscardRow();  // a new row disappears
    EXPECT_EQ(log.GetState(), TableCursor::State::Browsing);
    EXPECT_EQ(log.RowCount(), 0u);
    EXPECT_TRUE(log.AtEnd());
    EXPECT_TRUE(store->GetTable("UpdateFileLog").rows.empty());

    // A column with a default may be left out of a new row.
    store->GetTable("UpdateFileLog").columns[5].hasDefault = true;
    store->GetTable("UpdateFileLog").defaults[5] = V::Text("default");
    log.Reopen();
    log.BeginAppend();
    log.SetValue("FileName", V::Text("b.dll"));
    log.SaveRow();
    EXPECT_EQ(log.GetText("BakPath"), "default");  // as the store holds it
}

TEST_F(CursorTest, EditStates) {
    Log("a.dll", 1);
    Log("b.dll", 2);
    log.OpenTable();

    // FinishEdit without a set field writes nothing; with one it saves.
    log.BeginEdit();
    log.FinishEdit();
    EXPECT_EQ(store->updates, 0);
    EXPECT_EQ(log.GetState(), TableCursor::State::Browsing);
    log.BeginEdit();
    log.SetValue("FileVer", V::Int(0));
    log.BeginEdit();  // already editing: nothing changes
    EXPECT_EQ(log.GetInt("FileVer"), 0);
    log.FinishEdit();
    EXPECT_EQ(store->updates, 1);
    EXPECT_EQ(Stored(0)[3], V::Int(0));

    // BeginAppend saves the pending edit first; the new row becomes current.
    log.GoNext();
    log.BeginEdit();
    log.SetValue("BakPath", V::Text("p"));
    log.BeginAppend();
    EXPECT_EQ(Stored(1)[5], V::Text("p"));
    EXPECT_EQ(log.RowCount(), 3u);
    EXPECT_EQ(log.CurrentRow(), 2u);
    EXPECT_TRUE(log.GetValue("FileName").IsNull());
    log.SetValue("FileName", V::Text("c.dll"));
    EXPECT_EQ(log.Cell(2, 2), V::Text("c.dll"));  // the grid shows the pending row
    log.SaveRow();
    EXPECT_EQ(log.CurrentRow(), 2u);
    EXPECT_EQ(log.GetText("FileName"), "c.dll");

    // Discarding a new row brings back the row that was current.
    log.GoFirst();
    log.BeginAppend();
    log.DiscardRow();
    EXPECT_EQ(log.CurrentRow(), 0u);
    EXPECT_EQ(log.RowCount(), 3u);

    // Moving finishes a pending edit; closing drops it.
    log.BeginEdit();
    log.SetValue("Note", V::Text("moved"));
    log.GoNext();
    EXPECT_EQ(Stored(0)[7], V::Text("moved"));
    log.BeginEdit();
    log.SetValue("Note", V::Text("dropped"));
    log.CloseTable();
    EXPECT_TRUE(Stored(1)[7].IsNull());
}

TEST_F(CursorTest, CopiesALogRowFieldByField) {
    store->AddTable("DownLoadFileLog", {Column("AID", "INTEGER"), Column("SoftID", ""),
                                        Column("FileName", "TEXT"), Column("FileVer", "INTEGER"),
                                        Column("IsClient", "BOOLEAN")});
    store->AddRow("DownLoadFileLog",
                  {V::Null(), V::Bytes(std::string("\x01\x00\x02", 3)), V::Text("升级.dll"),
                   V::Int(7), V::Int(1)});
    TableCursor down{connection, "DownLoadFileLog"};
    down.OpenTable();
    log.OpenTable();
    log.BeginAppend();
    for (const char* f : {"AID", "SoftID", "FileName", "FileVer", "IsClient"}) {
        log.SetValue(f, down.GetValue(f));
    }
    log.SetValue("BakPath", V::Text("/opt/app/bak/V0"));
    log.SetValue("IsUpdate", V::Bool(true));
    log.SaveRow();
    EXPECT_EQ(Stored(0), (std::vector<V>{V::Null(), V::Bytes(std::string("\x01\x00\x02", 3)),
                                         V::Text("升级.dll"), V::Int(7), V::Int(1),
                                         V::Text("/opt/app/bak/V0"), V::Int(1), V::Null()}));
}

TEST_F(CursorTest, FindRowMatchesWholeValuesFromTheIndex) {
    Log("it's.dll", 1);
    Log("a.dll", 1);
    Log("a.dll", 2);
    Log("a.dll", 2);  // duplicate key: the first is found
    store->AddRow("UpdateFileLog", {V::Null(), V::Null(), V::Null(), V::Null()});
    store->AddRow("UpdateFileLog", {V::Null(), V::Null(), V::Text("n.dll"), V::Null()});
    log.OpenTable();
    int notified = 0;
    log.SetListener([&](const TableCursor::Change&) { ++notified; });

    EXPECT_TRUE(Find("it's.dll", 1));
    EXPECT_EQ(log.CurrentRow(), 0u);
    EXPECT_TRUE(Find("a.dll", 2));
    EXPECT_EQ(log.CurrentRow(), 2u);
    EXPECT_EQ(notified, 2);
    EXPECT_TRUE(log.FindRow(" filename ; FILEVER ", {V::Text("a.dll"), V::Int(1)}));
    EXPECT_EQ(log.CurrentRow(), 1u);

    // Misses keep the current row: no prefix, the whole length, no pattern
    // characters, no letter case folding.
    for (const char* name : {"a.dl", "a.dll ", "it''s.dll", "A.DLL"}) EXPECT_FALSE(Find(name, 1)) << name;
    EXPECT_FALSE(Find("a.dll", 3));
    // Null matches nothing; neither do the "" and 0 a null reads as.
    EXPECT_FALSE(log.FindRow("FileName;FileVer", {V::Null(), V::Null()}));
    EXPECT_FALSE(Find("", 0));
    EXPECT_FALSE(Find("n.dll", 0));
    // Failures give false, never an error.
    EXPECT_FALSE(log.FindRow("FileName;Missing", {V::Text("a.dll"), V::Int(1)}));
    EXPECT_FALSE(log.FindRow("FileName;FileVer", {V::Text("a.dll")}));
    EXPECT_FALSE(log.FindRow("", {}));
    EXPECT_EQ(log.CurrentRow(), 1u);
    EXPECT_EQ(store->reads, 1);  // answered from memory
}

TEST_F(CursorTest, FindRowSeesRowsSavedInTheSameRunAndOthersAfterReopen) {
    Log("a.dll", 1);
    log.OpenTable();
    EXPECT_FALSE(Find("b.dll", 5));  // index built

    // A pending new row is saved first, then found.
    log.BeginAppend();
    log.SetValue("FileName", V::Text("b.dll"));
    log.SetValue("FileVer", V::Int(5));
    EXPECT_TRUE(Find("b.dll", 5));
    EXPECT_EQ(log.GetState(), TableCursor::State::Browsing);
    EXPECT_EQ(log.CurrentRow(), 1u);

    // An edit moves the row to its new key.
    log.GoFirst();
    log.BeginEdit();
    log.SetValue("FileVer", V::Int(9));
    log.SaveRow();
    EXPECT_FALSE(Find("a.dll", 1));
    EXPECT_TRUE(Find("a.dll", 9));

    // Rows another program adds appear only after Reopen.
    Log("z.dll", 1);
    EXPECT_FALSE(Find("z.dll", 1));
    log.Reopen();
    EXPECT_TRUE(Find("z.dll", 1));

    // A pending row that cannot be saved makes FindRow answer false, quietly.
    log.BeginAppend();
    log.SetValue("FileName", V::Text("c.dll"));
    store->failNextWrite = "locked";
    EXPECT_FALSE(log.FindRow("FileName", {V::Text("a.dll")}));
    EXPECT_EQ(log.GetState(), TableCursor::State::Appending);
}

TEST_F(CursorTest, ListenerFollowsRowsAndCurrentRow) {
    Log("a.dll", 1);
    int calls = 0;
    log.SetListener([&](const TableCursor::Change&) { ++calls; });
    log.OpenTable();
    EXPECT_EQ(calls, 1);
    log.GoNext();
    log.GoFirst();
    EXPECT_EQ(calls, 3);
    log.BeginAppend();
    log.SetValue("FileName", V::Text("x"));
    log.SaveRow();
    EXPECT_EQ(calls, 6);
    log.CloseTable();
    EXPECT_EQ(calls, 7);
}

// The listener is told what changed and where, so that a grid repaints only
// the rows concerned.
TEST_F(CursorTest, ListenerToldWhatChangedAndWhere) {
    using K = TableCursor::Change::Kind;
    struct Told {
        K kind;
        std::size_t row, previous;
        bool operator==(const Told&) const = default;
    };
    Log("a.dll", 1);
    Log("b.dll", 2);
    log.OpenTable();
    std::vector<Told> told;
    log.SetListener([&](const TableCursor::Change& c) {
        told.push_back({c.kind, c.row, c.kind == K::Moved ? c.previous : 0});
    });
    const struct {
        const char* what;
        std::function<void()> operation;
        std::vector<Told> expected;
    } cases[] = {
        {"GoNext", [&] { log.GoNext(); }, {{K::Moved, 1, 0}}},
        {"GoNext to the end", [&] { log.GoNext(); }, {{K::Moved, 2, 1}}},
        {"GoNext at the end", [&] { log.GoNext(); }, {{K::Moved, 2, 2}}},
        {"GoFirst", [&] { log.GoFirst(); }, {{K::Moved, 0, 2}}},
        {"FindRow found", [&] { Find("b.dll", 2); }, {{K::Moved, 1, 0}}},
        {"FindRow missed", [&] { Find("z.dll", 2); }, {}},
        {"BeginEdit", [&] { log.BeginEdit(); }, {{K::RowChanged, 1, 0}}},
        {"SetValue", [&] { log.SetInt("FileVer", 3); }, {{K::RowChanged, 1, 0}}},
        {"SaveRow", [&] { log.SaveRow(); }, {{K::RowChanged, 1, 0}}},
        {"BeginAppend", [&] { log.BeginAppend(); }, {{K::RowAppended, 2, 0}}},
        {"DiscardRow of a new row", [&] { log.DiscardRow(); }, {{K::RowRemoved, 2, 0}}},
        {"a pending new row saved by a move",
         [&] {
             log.BeginAppend();
             log.SetValue("FileName", V::Text("c.dll"));
             log.GoFirst();
         },
         {{K::RowAppended, 2, 0}, {K::RowChanged, 2, 0}, {K::RowChanged, 2, 0}, {K::Moved, 0, 2}}},
        {"Reopen", [&] { log.Reopen(); }, {{K::Reset, 0, 0}}},
        {"CloseTable", [&] { log.CloseTable(); }, {{K::Reset, 0, 0}}},
    };
    for (const auto& c : cases) {
        told.clear();
        c.operation();
        EXPECT_EQ(told, c.expected) << c.what;
    }
    EXPECT_EQ(log.CurrentRow(), 0u);
}

TEST(Connection, DataSourceOfConnectionText) {
    EXPECT_EQ(Connection::DataSourceOf("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/x/UpdateFile.mdb;"
                                       "Persist Security Info=False"),
              "/x/UpdateFile.mdb");
    EXPECT_EQ(Connection::DataSourceOf("data source = C:\\App\\UpdateFile.mdb"), "C:\\App\\UpdateFile.mdb");
    EXPECT_EQ(Connection::DataSourceOf("Data Source=\"/a;b/U.mdb\";Mode=Share Deny None"), "/a;b/U.mdb");
    EXPECT_EQ(Connection::DataSourceOf("Provider=X;Persist Security Info=False"), "");
    Connection c;
    c.ConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;";
    EXPECT_THROW(c.Open(), Error);
    EXPECT_FALSE(c.Connected());
}

TEST(FieldKinds, FromDeclaredTypes) {
    const std::pair<FieldKind, std::vector<const char*>> kinds[] = {
        {FieldKind::Boolean, {"BOOLEAN", "bool", "BIT", "YesNo", "BIT(1)"}},
        {FieldKind::Integer, {"INTEGER", "int", "BIGINT", "SMALLINT", "LONG", "COUNTER"}},
        {FieldKind::Text, {"TEXT", "VARCHAR(255)", "NCHAR(3)", "CLOB", "MEMO", "LONGTEXT"}},
        {FieldKind::Opaque, {"", "BLOB", "REAL", "NUMERIC", "GUID"}},
    };
    for (const auto& [kind, types] : kinds) {
        for (const char* t : types) EXPECT_EQ(KindOfDeclaredType(t), kind) << t;
    }
}

TEST(FieldValue, NumericCodesAndDisplayText) {
    EXPECT_TRUE(V::Int(5).EqualsNumber(5));
    EXPECT_FALSE(V::Int(5).EqualsNumber(0));
    EXPECT_FALSE(V::Null().EqualsNumber(0));     // null matches no code
    EXPECT_TRUE(V::Text("0").EqualsNumber(0));   // numeric text counts as its number
    EXPECT_TRUE(V::RealNumber(2.0).EqualsNumber(2));
    EXPECT_EQ(V::Null().ToDisplayText(), "");
    EXPECT_EQ(V::Bool(true).ToDisplayText(), "True");
    EXPECT_EQ(V::Int(-3).ToDisplayText(), "-3");
    EXPECT_EQ(V::Text("升级").ToDisplayText(), "升级");
}

}  // namespace
}  // namespace ue
