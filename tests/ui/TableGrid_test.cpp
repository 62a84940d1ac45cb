// The grids over table cursors on a real SQLite update database: columns,
// rows, the record indicator and following the cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <functional>
#include <set>

#include "records/TableCursor.h"
#include "tests/support/Installation.h"
#include "tests/support/TempDir.h"
#include "ui/qt/TableGrid.h"

namespace ue {
namespace {

class GridTest : public testing::Test {
protected:
    void SetUp() override {
        inst.AddDownloads({{1, 7, "a.dll", 3, 0, true, ""},
                           {2, 7, "升级.exe", 4, 1, false, "bin"},
                           {3, 7, "c.dat", 5, 5, true, std::nullopt}});
        connection.ConnectionString = "Data Source=" + inst.Database() + ";";
        connection.Open();
        downloads.OpenTable();
        applied.OpenTable();
    }

    static QStringList Titles(const TableModel& model) {
        QStringList titles;
        for (int c = 0; c < model.columnCount(); ++c)
            titles << model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        return titles;
    }
    static QStringList Indicators(const TableModel& model) {
        QStringList marks;
        for (int r = 0; r < model.rowCount(); ++r)
            marks << model.headerData(r, Qt::Vertical, Qt::DisplayRole).toString();
        return marks;
    }

    test::TempDir dir;
    test::Installation inst{dir.path()};
    Connection connection;
    TableCursor downloads{connection, "DownLoadFileLog"};
    TableCursor applied{connection, "UpdateFileLog"};
};

TEST_F(GridTest, EveryFieldAColumnTitledWithItsName) {
    TableModel model(downloads);
    EXPECT_EQ(Titles(model), QStringList({"AID", "SoftID", "FileName", "FileVer", "FileType",
                                          "IsClient", "UpdatePath"}));
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(1, 2), Qt::DisplayRole).toString(), QStringLiteral("升级.exe"));
    EXPECT_EQ(model.data(model.index(1, 3), Qt::DisplayRole).toString(), QStringLiteral("4"));
    EXPECT_EQ(model.data(model.index(0, 5), Qt::DisplayRole).toString(), QStringLiteral("True"));
    EXPECT_EQ(model.data(model.index(2, 6), Qt::DisplayRole).toString(), QString());
    EXPECT_FALSE(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);

    TableModel empty(applied);
    EXPECT_EQ(Titles(empty), QStringList({"AID", "SoftID", "FileName", "FileVer", "IsClient",
                                          "BakPath", "IsUpdate"}));
    EXPECT_EQ(empty.rowCount(), 0);
}

TEST_F(GridTest, ReadOnlyViewWhoseIndicatorFollowsTheCursor) {
    TableGrid grid(downloads);
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    EXPECT_TRUE(grid.showGrid());
    TableModel& model = *grid.Model();
    QSignalSpy moved(&model, &TableModel::CurrentRowChanged);
    QSignalSpy repainted(&model, &TableModel::IndicatorChanged);
    EXPECT_EQ(Indicators(model), QStringList({"▶", "", ""}));

    downloads.GoNext();
    EXPECT_EQ(Indicators(model), QStringList({"", "▶", ""}));
    std::set<int> marks;
    for (const QList<QVariant>& signal : repainted) marks.insert(signal.at(0).toInt());
    EXPECT_EQ(marks, (std::set<int>{0, 1})) << "the old row's mark is repainted away";
    EXPECT_EQ(grid.currentIndex().row(), 1);
    downloads.GoNext();
    downloads.GoNext();
    EXPECT_TRUE(downloads.AtEnd());
    EXPECT_EQ(Indicators(model), QStringList({"", "", ""}));
    EXPECT_EQ(moved.count(), 3);
    downloads.GoFirst();
    EXPECT_EQ(model.CurrentRow(), 0);
}

TEST_F(GridTest, AppendedRowsAppearWithTheirMarks) {
    TableGrid grid(applied);
    TableModel& model = *grid.Model();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    applied.BeginAppend();
    applied.SetValue("FileName", FieldValue::Text("a.dll"));
    applied.SetInt("FileVer", 3);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(Indicators(model), QStringList({"*"}));
    EXPECT_EQ(model.data(model.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("a.dll"));
    applied.SaveRow();
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(Indicators(model), QStringList({"▶"}));
    EXPECT_EQ(inserted.count(), 1);

    const int narrow = grid.columnWidth(5);
    applied.BeginAppend();
    applied.SetValue("FileName", FieldValue::Text("b.dll"));
    applied.SetValue("BakPath", FieldValue::Text("/opt/suite/bak/V0/a/rather/long/backup/path"));
    applied.SaveRow();
    EXPECT_GT(grid.columnWidth(5), narrow) << "a column widens for a longer value";
    applied.GoFirst();

    applied.BeginEdit();
    EXPECT_EQ(Indicators(model), QStringList({"I", ""}));
    applied.SetInt("FileVer", 9);
    applied.SaveRow();
    EXPECT_EQ(model.data(model.index(0, 3), Qt::DisplayRole).toString(), QStringLiteral("9"));
}

TEST_F(GridTest, ReopenShowsRowsWrittenByAnotherProgram) {
    TableModel model(applied);
    inst.Exec("INSERT INTO UpdateFileLog VALUES (1, 7, 'x.dll', 1, 1, '', 1);"
              "INSERT INTO UpdateFileLog VALUES (2, 7, 'y.dll', 1, 1, '', 1);");
    EXPECT_EQ(model.rowCount(), 0) << "the cursor keeps what it read";
    applied.Reopen();
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(1, 2), Qt::DisplayRole).toString(), QStringLiteral("y.dll"));
    applied.CloseTable();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.columnCount(), 0);
}


// What the grids tell their views per cursor operation, on 1,000-row tables:
// a move or a saved row covers at most two rows, never the whole table, and
// a reopen is one reset. Counted, not timed.
TEST(GridNotifications, CoverOnlyTheRowsConcerned) {
    test::TempDir dir;
    test::Installation inst{dir.path()};
    inst.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
        "INSERT INTO DownLoadFileLog SELECT i, 7, 'f' || i || '.dll', 1, 0, 1, '' FROM n;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
        "INSERT INTO UpdateFileLog SELECT i, 7, 'f' || i || '.dll', 1, 1, '', 1 FROM n;");
    Connection connection;
    connection.ConnectionString = "Data Source=" + inst.Database() + ";";
    connection.Open();
    TableCursor downloads{connection, "DownLoadFileLog"};
    TableCursor applied{connection, "UpdateFileLog"};
    downloads.OpenTable();
    applied.OpenTable();
    TableGrid grid1(downloads);
    TableGrid grid2(applied);

    struct Told {
        std::set<int> rows;  // rows covered by dataChanged, headerDataChanged and IndicatorChanged
        int resets = 0, inserted = 0, layouts = 0;
    };
    auto watch = [](TableModel& model, Told& told) {
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
                         [&](const QModelIndex& a, const QModelIndex& b) {
                             for (int r = a.row(); r <= b.row(); ++r) told.rows.insert(r);
                         });
        QObject::connect(&model, &QAbstractItemModel::headerDataChanged, [&](Qt::Orientation, int a, int b) {
            for (int r = a; r <= b; ++r) told.rows.insert(r);
        });
        QObject::connect(&model, &TableModel::IndicatorChanged, [&](int r) { told.rows.insert(r); });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++told.resets; });
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++told.inserted; });
        QObject::connect(&model, &QAbstractItemModel::layoutChanged, [&] { ++told.layouts; });
    };
    Told told1, told2;
    watch(*grid1.Model(), told1);
    watch(*grid2.Model(), told2);

    auto find = [&](int i) {
        return applied.FindRow("FileName;FileVer", {FieldValue::Text("f" + std::to_string(i) + ".dll"),
                                                    FieldValue::Int(1)});
    };
    const struct {
        const char* what;
        std::function<void()> operation;
        const Told& told;
        std::size_t maxRows;
        int resets, inserted;
    } cases[] = {
        {"GoNext", [&] { downloads.GoNext(); }, told1, 2, 0, 0},
        {"500 times GoNext", [&] { for (int i = 0; i < 500; ++i) downloads.GoNext(); }, told1, 501, 0, 0},
        {"FindRow found", [&] { EXPECT_TRUE(find(700)); }, told2, 2, 0, 0},
        {"FindRow missed", [&] { EXPECT_FALSE(find(5000)); }, told2, 0, 0, 0},
        {"edit and save", [&] {
             applied.BeginEdit();
             applied.SetInt("FileVer", 2);
             applied.SaveRow();
         }, told2, 1, 0, 0},
        {"append and save", [&] {
             applied.BeginAppend();
             applied.SetValue("FileName", FieldValue::Text("new.dll"));
             applied.SaveRow();
         }, told2, 2, 0, 1},
        {"Reopen", [&] { applied.Reopen(); }, told2, 0, 1, 0},
    };
    for (const auto& c : cases) {
        told1 = {};
        told2 = {};
        c.operation();
        QCoreApplication::processEvents();  // the grids scroll and select here
        EXPECT_LE(c.told.rows.size(), c.maxRows) << c.what;
        EXPECT_EQ(c.told.resets, c.resets) << c.what;
        EXPECT_EQ(c.told.inserted, c.inserted) << c.what;
        EXPECT_EQ(c.told.layouts, 0) << c.what;
    }
    EXPECT_EQ(grid1.currentIndex().row(), 501);
    EXPECT_TRUE(grid1.selectionModel()->isRowSelected(501, {}));
}

}  // namespace
}  // namespace ue
