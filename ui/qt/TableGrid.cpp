#include "ui/qt/TableGrid.h"

#include <QHeaderView>

#include "ui/qt/Fonts.h"

namespace ue {

TableModel::TableModel(TableCursor& cursor, QObject* parent)
    : QAbstractTableModel(parent), cursor_(cursor) {
    Refresh();
    cursor_.SetListener([this] { Refresh(); });
}

TableModel::~TableModel() { cursor_.SetListener({}); }

void TableModel::Refresh() {
    std::vector<std::string> columns;
    std::size_t rows = 0;
    int current = -1;
    if (cursor_.IsOpen()) {
        for (const ColumnInfo& column : cursor_.Columns()) columns.push_back(column.name);
        rows = cursor_.RowCount();
        if (cursor_.CurrentRow() < rows) current = static_cast<int>(cursor_.CurrentRow());
    }
    const int rowCount = static_cast<int>(rows);

    if (columns != columns_) {
        beginResetModel();
        columns_ = std::move(columns);
        rows_ = rowCount;
        endResetModel();
    } else {
        if (rowCount > rows_) {
            beginInsertRows({}, rows_, rowCount - 1);
            rows_ = rowCount;
            endInsertRows();
        } else if (rowCount < rows_) {
            beginRemoveRows({}, rowCount, rows_ - 1);
            rows_ = rowCount;
            endRemoveRows();
        }
        // Values may have changed anywhere (a save, a reopen): repaint all.
        if (rows_ > 0 && !columns_.empty()) {
            emit dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(columns_.size()) - 1),
                             {Qt::DisplayRole});
            emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
        }
    }
    if (current != current_) {
        current_ = current;
        emit CurrentRowChanged(current_);
    }
}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || !cursor_.IsOpen()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const auto column = static_cast<std::size_t>(index.column());
    if (row >= cursor_.RowCount() || column >= cursor_.Columns().size()) return {};
    return QString::fromStdString(cursor_.Cell(row, column).ToDisplayText());
}

QString TableModel::Indicator(int row) const {
    if (row != current_) return {};
    switch (cursor_.GetState()) {
        case TableCursor::State::Editing: return QStringLiteral("I");
        case TableCursor::State::Appending: return QStringLiteral("*");
        default: return QStringLiteral("▶");
    }
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
        return QString::fromStdString(columns_[static_cast<std::size_t>(section)]);
    }
    return Indicator(section);
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TableGrid::TableGrid(TableCursor& cursor, QWidget* parent)
    : QTableView(parent), model_(new TableModel(cursor, this)) {
    setModel(model_);
    setFont(SongFont(13));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    setWordWrap(false);

    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setDefaultSectionSize(18);
    indicator->setDefaultAlignment(Qt::AlignCenter);
    indicator->setHighlightSections(false);
    indicator->setFixedWidth(14);

    connect(model_, &TableModel::CurrentRowChanged, this, &TableGrid::FollowCurrentRow);
    // New columns (a table opened) start as wide as their titles and values.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { resizeColumnsToContents(); });
    connect(model_, &QAbstractItemModel::dataChanged, this, &TableGrid::WidenColumns);
    resizeColumnsToContents();
    FollowCurrentRow(model_->CurrentRow());
}

void TableGrid::WidenColumns() {
    // Only grows, so that a column the user narrowed stays narrow until a
    // wider value arrives.
    for (int c = 0; c < model_->columnCount(); ++c) {
        const int wanted = sizeHintForColumn(c);
        if (wanted > columnWidth(c)) setColumnWidth(c, wanted);
    }
}

void TableGrid::FollowCurrentRow(int row) {
    if (row < 0) {
        clearSelection();
        return;
    }
    selectRow(row);
    scrollTo(model_->index(row, 0));
}

}  // namespace ue
