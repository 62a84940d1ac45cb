#include "ui/qt/TableGrid.h"

#include <QHeaderView>
#include <algorithm>

#include "ui/GridRules.h"
#include "ui/Layout.h"
#include "ui/qt/Fonts.h"

namespace ue {

TableModel::TableModel(TableCursor& cursor, QObject* parent)
    : QAbstractTableModel(parent), cursor_(cursor), follower_(cursor, *this) {
    follower_.Attach();
}

void TableModel::ResetBegins() { beginResetModel(); }

void TableModel::ResetDone(bool) { endResetModel(); }

void TableModel::RowAdding(int row) { beginInsertRows({}, row, row); }

void TableModel::RowAdded(int) { endInsertRows(); }

void TableModel::RowRemoving(int row) { beginRemoveRows({}, row, row); }

void TableModel::RowRemoved(int) { endRemoveRows(); }

void TableModel::Changed() {
    // Repainting only marks a region for the next paint: done at once.
    const grid::Follower::Redraw redraw = follower_.TakeRedraw();
    const int columns = static_cast<int>(follower_.Titles().size());
    if (redraw.all) {
        if (follower_.Rows() > 0 && columns > 0)
            emit dataChanged(index(0, 0), index(follower_.Rows() - 1, columns - 1), {Qt::DisplayRole});
        emit IndicatorChanged(-1);
    } else {
        if (columns > 0) {
            for (int row : redraw.widen)
                emit dataChanged(index(row, 0), index(row, columns - 1), {Qt::DisplayRole});
        }
        for (int row : redraw.rows) emit IndicatorChanged(row);
    }
    // A reset clears the view's selection: it follows the current row anew.
    if (redraw.moved) emit CurrentRowChanged(follower_.Current());
}

void TableModel::ShowLater() { emit ShowRequested(); }

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : follower_.Rows(); }

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(follower_.Titles().size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return QString::fromStdString(grid::CellText(cursor_, index.row(), index.column()));
}

QString TableModel::Indicator(int row) const { return QString::fromUtf8(follower_.Indicator(row)); }

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        const std::vector<std::string>& titles = follower_.Titles();
        if (section < 0 || section >= static_cast<int>(titles.size())) return {};
        return QString::fromStdString(titles[static_cast<std::size_t>(section)]);
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
    connect(model_, &TableModel::ShowRequested, this, &TableGrid::ShowFollowedRow, Qt::QueuedConnection);
    // New columns (a table opened) start as wide as their titles and values.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { resizeColumnsToContents(); });
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                WidenColumns(topLeft.row(), bottomRight.row());
            });
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { WidenColumns(first, last); });
    resizeColumnsToContents();
    // The model followed the cursor before the grid was there to hear it.
    FollowCurrentRow(model_->CurrentRow());
    QMetaObject::invokeMethod(this, &TableGrid::ShowFollowedRow, Qt::QueuedConnection);
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
    QWidget* cells = header->viewport();
    if (row < 0) {
        cells->update();
        return;
    }
    const int top = header->sectionViewportPosition(row);
    const int height = header->sectionSize(row);
    if (top + height > 0 && top < cells->height()) cells->update(0, top, cells->width(), height);
}

void TableGrid::FollowCurrentRow(int row) {
    // The current index follows at once, so that the keyboard goes on from
    // there. Selecting the row and scrolling to it cost far more and show
    // only when the window is painted, which the run never lets happen
    // while it walks: they wait for the event loop and are done once there,
    // however many moves came before. autoScroll would scroll at once.
    if (row < 0) return;
    const int column = horizontalHeader()->logicalIndexAt(isRightToLeft() ? viewport()->width() : 0);
    const bool autoScroll = hasAutoScroll();
    setAutoScroll(false);
    selectionModel()->setCurrentIndex(model_->index(row, std::max(column, 0)), QItemSelectionModel::NoUpdate);
    setAutoScroll(autoScroll);
}

void TableGrid::ShowFollowedRow() {
    const grid::Follower::Show show = model_->TakeShow();
    if (show.select >= 0) selectRow(show.select);
    else clearSelection();
    if (show.scrollTo < 0) return;
    scrollTo(model_->index(show.scrollTo, 0));
    // The rows now shown may hold longer values than those sampled.
    if (isVisible()) {
        const int first = rowAt(0);
        const int last = rowAt(viewport()->height() - 1);
        WidenColumns(first, last < 0 ? model_->rowCount() - 1 : last);
    }
}

}  // namespace ue
