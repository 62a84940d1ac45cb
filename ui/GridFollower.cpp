#include "ui/GridFollower.h"

#include <algorithm>

#include "ui/GridRules.h"

namespace ue::grid {
namespace {

void AddOnce(std::vector<int>& rows, int row) {
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
}

}  // namespace

Follower::Follower(TableCursor& cursor, View& view) : cursor_(cursor), view_(view) {}

Follower::~Follower() { Detach(); }

void Follower::Attach() {
    Reset();
    view_.Changed();
    cursor_.SetListener([this](const TableCursor::Change& change) { Apply(change); });
}

void Follower::Detach() { cursor_.SetListener({}); }

const char* Follower::Indicator(int row) const {
    return row >= 0 && row == current_ ? RecordIndicator(cursor_.GetState()) : "";
}

void Follower::Apply(const TableCursor::Change& change) {
    using Kind = TableCursor::Change::Kind;
    const int row = change.row <= static_cast<std::size_t>(rows_) ? static_cast<int>(change.row) : -1;
    bool inStep = true;
    switch (change.kind) {
    case Kind::Reset:
        Reset();
        view_.Changed();
        return;
    case Kind::Moved:
        break;
    case Kind::RowChanged:
        NoteChanged(row);
        break;
    case Kind::RowAppended:
        inStep = row == rows_;
        if (inStep) {
            view_.RowAdding(row);
            ++rows_;
            view_.RowAdded(row);
            added_ = row;
            NoteChanged(row);
        }
        break;
    case Kind::RowRemoved:
        inStep = row >= 0 && row == rows_ - 1;
        if (inStep) {
            // Where the row was is cleared by the view; nothing of it is left to redraw.
            if (marked_ == row) marked_ = -1;
            if (added_ == row) added_ = -1;
            std::erase(changed_, row);
            view_.RowRemoving(row);
            --rows_;
            view_.RowRemoved(row);
        }
        break;
    }
    // Not expected: a change that does not fit the rows shown. Take over
    // everything rather than show rows that are not there.
    if (!inStep || !cursor_.IsOpen() || cursor_.RowCount() != static_cast<std::size_t>(rows_)) Reset();
    else Follow();
    view_.Changed();
}

void Follower::Reset() {
    view_.ResetBegins();
    std::vector<std::string> titles = ColumnTitles(cursor_);
    const bool newColumns = titles != titles_;
    titles_ = std::move(titles);
    rows_ = cursor_.IsOpen() ? static_cast<int>(cursor_.RowCount()) : 0;
    current_ = CurrentRowOf(cursor_);
    marked_ = current_;
    added_ = -1;
    changed_.clear();
    allChanged_ = false;
    moved_ = true;
    if (current_ >= 0) scrollTo_ = current_;
    view_.ResetDone(newColumns);
    Pending();
}

void Follower::Follow() {
    const int current = CurrentRowOf(cursor_);
    if (current == current_) return;
    // Cells read Current() when they are drawn; the record indicator's old
    // and new rows are handed out with the next TakeRedraw.
    current_ = current;
    moved_ = true;
    if (current >= 0) scrollTo_ = current;
    Pending();
}

void Follower::NoteChanged(int row) {
    if (row < 0 || row >= rows_) return;
    if (!allChanged_ && std::find(changed_.begin(), changed_.end(), row) == changed_.end()) {
        if (changed_.size() < kMaxNotedRows) {
            changed_.push_back(row);
        } else {
            allChanged_ = true;
            changed_.clear();
        }
    }
    Pending();
}

void Follower::Pending() {
    if (pending_) return;
    pending_ = true;
    view_.ShowLater();
}

Follower::Redraw Follower::TakeRedraw() {
    Redraw redraw;
    redraw.moved = moved_;
    moved_ = false;
    if (allChanged_) {
        // Columns then grow to the rows shown, as after any scroll.
        redraw.all = true;
        allChanged_ = false;
    } else {
        redraw.rows = changed_;
        redraw.widen = changed_;
        // Only the two record indicators change on a move.
        if (marked_ != current_) {
            if (marked_ >= 0 && marked_ < rows_) AddOnce(redraw.rows, marked_);
            if (current_ >= 0) AddOnce(redraw.rows, current_);
        }
        std::erase(redraw.rows, added_);
    }
    marked_ = current_;
    added_ = -1;
    changed_.clear();
    return redraw;
}

Follower::Show Follower::TakeShow() {
    pending_ = false;
    Show show;
    if (current_ >= 0 && current_ < rows_) show.select = current_;
    if (scrollTo_ >= 0 && scrollTo_ < rows_) show.scrollTo = scrollTo_;
    return show;
}

}  // namespace ue::grid
