#include "ui/qt/TableGrid.h"

#include <QHeaderView>
#include <algorithm>

#include "ui/GridRules.h"
#include "ui/Layout.h"
#include "ui/qt/Fonts.h"

namespace ue {

TableModel::TableModel(TableCursor& cursor, QObject* parent)
    : QAbstractTableModel(parent), cursor_(cursor) {
    Refresh();
    cursor_.SetListener([this](const TableCursor::Change& change) { CursorChanged(change); });
}

TableModel::~TableModel() { cursor_.SetListener({}); }

void TableModel::Refresh() {
    std::vector<std::string> columns = grid::ColumnTitles(cursor_);
    const std::size_t rows = cursor_.IsOpen() ? cursor_.RowCount() : 0;
    beginResetModel();
    columns_ = std::move(columns);
    rows_ = static_cast<int>(rows);
    current_ = grid::CurrentRowOf(cursor_);
    endResetModel();
    // A reset clears the view's selection: it follows the current row anew.
    emit CurrentRowChanged(current_);
}

void TableModel::CursorChanged(const TableCursor::Change& change) {
    using Kind = TableCursor::Change::Kind;
    const int row = change.row < static_cast<std::size_t>(rows_) + 1 ? static_cast<int>(change.row) : -1;
    bool inStep = true;
    switch (change.kind) {
    case Kind::Reset:
        Refresh();
        return;
    case Kind::Moved:
        break;
    case Kind::RowChanged:
        RepaintRow(row);
        break;
    case Kind::RowAppended:
        inStep = row == rows_;
        if (inStep) {
            beginInsertRows({}, row, row);
            ++rows_;
            endInsertRows();
        }
        break;
    case Kind::RowRemoved:
        inStep = row >= 0 && row == rows_ - 1;
        if (inStep) {
            beginRemoveRows({}, row, row);
            --rows_;
            endRemoveRows();
        }
        break;
    }
    // Not expected: a change that does not fit the rows shown. Take over
    // everything rather than show rows that are not there.
    if (!inStep || !cursor_.IsOpen() || cursor_.RowCount() != static_cast<std::size_t>(rows_)) {
        Refresh();
        return;
    }
    FollowCursor();
}

void TableModel::RepaintRow(int row) {
    if (row < 0 || row >= rows_) return;
    if (!columns_.empty()) {
        emit dataChanged(index(row, 0), index(row, static_cast<int>(columns_.size()) - 1), {Qt::DisplayRole});
    }
    emit IndicatorChanged(row);
}

void TableModel::FollowCursor() {
    const int current = grid::CurrentRowOf(cursor_);
    if (current == current_) return;
    const int previous = current_;
    current_ = current;
    // Only the two record indicators change.
    if (previous >= 0 && previous < rows_) emit IndicatorChanged(previous);
    if (current >= 0) emit IndicatorChanged(current);
    emit CurrentRowChanged(current_);
}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return QString::fromStdString(grid::CellText(cursor_, index.row(), index.column()));
}

QString TableModel::Indicator(int row) const {
    if (row != current_) return {};
    return QString::fromUtf8(grid::RecordIndicator(cursor_.GetState()));
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
    setFont(SongFont(layout::FrmMain.DBGrid1.fontPixels));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    setWordWrap(false);

    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    // Sizing the columns to their contents looks at this many rows, not at
    // the whole table; rows beyond widen their columns when they change or
    // are shown.
    horizontalHeader()->setResizeContentsPrecision(grid::kSampledRows);
    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setDefaultSectionSize(grid::kRowHeight);
    indicator->setDefaultAlignment(Qt::AlignCenter);
    indicator->setHighlightSections(false);
    indicator->setFixedWidth(grid::kIndicatorWidth);

    connect(model_, &TableModel::CurrentRowChanged, this, &TableGrid::FollowCurrentRow);
    connect(model_, &TableModel::IndicatorChanged, this, &TableGrid::RepaintIndicator);
    // New columns (a table opened) start as wide as their titles and values.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { resizeColumnsToContents(); });
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                WidenColumns(topLeft.row(), bottomRight.row());
            });
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { WidenColumns(first, last); });
    resizeColumnsToContents();
    FollowCurrentRow(model_->CurrentRow());
}

void TableGrid::WidenColumns(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, model_->rowCount() - 1);
    if (first > last) return;
    for (int c = 0; c < model_->columnCount(); ++c) {
        int wanted = 0;
        for (int r = first; r <= last; ++r) wanted = std::max(wanted, sizeHintForIndex(model_->index(r, c)).width());
        if (showGrid()) ++wanted;  // the grid line, as sizeHintForColumn counts it
        // Only grows, so that a column the user narrowed stays narrow until a
        // wider value arrives.
        if (wanted > columnWidth(c)) setColumnWidth(c, wanted);
    }
}

void TableGrid::RepaintIndicator(int row) {
    QHeaderView* header = verticalHeader();
    const int top = header->sectionViewportPosition(row);
    const int height = header->sectionSize(row);
    QWidget* cells = header->viewport();
    if (top + height > 0 && top < cells->height()) cells->update(0, top, cells->width(), height);
}

void TableGrid::FollowCurrentRow(int row) {
    // The current index follows at once, so that the keyboard goes on from
    // there. Selecting the row and scrolling to it cost far more and show
    // only when the window is painted, which the run never lets happen
    // while it walks: they wait for the event loop and are done once there,
    // however many moves came before. autoScroll would scroll at once.
    selectedRow_ = row;
    if (row >= 0) {
        scrollRow_ = row;
        const int column = horizontalHeader()->logicalIndexAt(isRightToLeft() ? viewport()->width() : 0);
        const bool autoScroll = hasAutoScroll();
        setAutoScroll(false);
        selectionModel()->setCurrentIndex(model_->index(row, std::max(column, 0)),
                                          QItemSelectionModel::NoUpdate);
        setAutoScroll(autoScroll);
    }
    if (!showPending_) {
        showPending_ = true;
        QMetaObject::invokeMethod(this, &TableGrid::ShowFollowedRow, Qt::QueuedConnection);
    }
}

void TableGrid::ShowFollowedRow() {
    showPending_ = false;
    const int rows = model_->rowCount();
    if (selectedRow_ >= 0 && selectedRow_ < rows) selectRow(selectedRow_);
    else clearSelection();
    // The last row followed, also when the cursor has since gone past the end.
    if (scrollRow_ < 0 || scrollRow_ >= rows) return;
    scrollTo(model_->index(scrollRow_, 0));
    // The rows now shown may hold longer values than those sampled.
    if (isVisible()) {
        const int first = rowAt(0);
        const int last = rowAt(viewport()->height() - 1);
        WidenColumns(first, last < 0 ? rows - 1 : last);
    }
}

}  // namespace ue
