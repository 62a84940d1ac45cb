// The read-only grids of the upgrade window: a table model over a
// TableCursor that draws what the portable follower says of the cursor's
// rows and current row, and the view with a record indicator at the left.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>

#include "records/TableCursor.h"
#include "ui/GridFollower.h"

namespace ue {

class TableModel : public QAbstractTableModel, private grid::Follower::View {
    Q_OBJECT
public:
    explicit TableModel(TableCursor& cursor, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The current row as last seen (-1 when the cursor is at its end or closed).
    int CurrentRow() const { return follower_.Current(); }
    // The record indicator of a row: "▶" browsing, "I" editing, "*" a new row.
    QString Indicator(int row) const;
    // The row to select and the row to scroll to, once the event loop runs.
    grid::Follower::Show TakeShow() { return follower_.TakeShow(); }

signals:
    void CurrentRowChanged(int row);
    // The record indicator of `row` (-1: of every row) reads differently. Not
    // headerDataChanged: a view lays itself out anew on that, which costs a
    // scan of its rows.
    void IndicatorChanged(int row);
    // Selecting and scrolling wait for the event loop (TakeShow).
    void ShowRequested();

private:
    // The follower's view: rows come and go through the model's own
    // notifications; the rows a change concerns are repainted at once.
    void ResetBegins() override;
    void ResetDone(bool newColumns) override;
    void RowAdding(int row) override;
    void RowAdded(int row) override;
    void RowRemoving(int row) override;
    void RowRemoved(int row) override;
    void Changed() override;
    void ShowLater() override;

    TableCursor& cursor_;
    grid::Follower follower_;
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
};

}  // namespace ue
