// The read-only grids of the upgrade window: a table model over a
// TableCursor that follows the cursor's rows and current row, and the view
// with a record indicator at the left.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <string>
#include <vector>

#include "records/TableCursor.h"

namespace ue {

class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableModel(TableCursor& cursor, QObject* parent = nullptr);
    ~TableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The current row as last seen (-1 when the cursor is at its end or closed).
    int CurrentRow() const { return current_; }
    // The record indicator of a row: "▶" browsing, "I" editing, "*" a new row.
    QString Indicator(int row) const;

    // Takes over the cursor's present rows, columns and current row
    // (a model reset).
    void Refresh();

signals:
    void CurrentRowChanged(int row);
    // The record indicator of `row` reads differently. Not headerDataChanged:
    // a view lays itself out anew on that, which costs a scan of its rows.
    void IndicatorChanged(int row);

private:
    // The cursor's listener: repaints only the rows the change concerns, so
    // that a move costs the same whatever the table's size.
    void CursorChanged(const TableCursor::Change& change);
    void RepaintRow(int row);
    void FollowCursor();

    TableCursor& cursor_;
    std::vector<std::string> columns_;
    int rows_ = 0;
    int current_ = -1;
};

class TableGrid : public QTableView {
    Q_OBJECT
public:
    explicit TableGrid(TableCursor& cursor, QWidget* parent = nullptr);
    TableModel* Model() const { return model_; }

private:
    void FollowCurrentRow(int row);
    void ShowFollowedRow();
    void RepaintIndicator(int row);
    // Widens the columns that rows first..last need wider; never narrows.
    void WidenColumns(int first, int last);

    TableModel* model_;
    int selectedRow_ = -1;  // the row to select (-1: none)
    int scrollRow_ = -1;    // the last row followed, to scroll to
    bool showPending_ = false;
};

}  // namespace ue
