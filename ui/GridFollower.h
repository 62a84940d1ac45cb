// How a read-only grid follows its table cursor, the same in every toolkit:
// the rows and columns it shows, the current row, and per change only the
// rows to redraw, so that a move or an edited value costs the same whatever
// the table's size. The toolkit's grid draws what the follower tells it.
#pragma once

#include <string>
#include <vector>

#include "records/TableCursor.h"

namespace ue::grid {

// Rows noted one by one in a burst of changes; past this all are redrawn.
inline constexpr std::size_t kMaxNotedRows = 64;

class Follower {
public:
    // What the toolkit's grid does for the follower. In a "...ing" call the
    // follower still holds the old rows, in every other call the new ones.
    class View {
    public:
        // Columns, rows and the current row are taken anew (the table was
        // opened, closed or reopened, or a change did not fit the rows
        // shown): redraw all. `newColumns` when the titles differ.
        virtual void ResetBegins() {}
        virtual void ResetDone(bool newColumns) = 0;
        // `row` added at the end, or removed from the end (a new row
        // discarded): the rows above stay as they are.
        virtual void RowAdding(int /*row*/) {}
        virtual void RowAdded(int row) = 0;
        virtual void RowRemoving(int /*row*/) {}
        virtual void RowRemoved(int row) = 0;
        // After each change, once the follower holds it (TakeRedraw may be
        // called here to redraw at once).
        virtual void Changed() {}
        // Something to redraw or show was noted, the first since the last
        // TakeShow: call TakeRedraw and TakeShow when the event loop runs.
        virtual void ShowLater() = 0;

    protected:
        ~View() = default;
    };

    // The rows to redraw since the last TakeRedraw.
    struct Redraw {
        bool all = false;         // too many rows changed: redraw everything
        std::vector<int> rows;    // whole rows: their cells or only their record indicator
        std::vector<int> widen;   // rows whose values changed: their columns may need to grow
        bool moved = false;       // the current row is another one (or all was taken anew)
    };
    // The row to select (-1: none) and the last row followed, to scroll to
    // (-1: none), also when the cursor has since gone past the end.
    struct Show {
        int select = -1;
        int scrollTo = -1;
    };

    Follower(TableCursor& cursor, View& view);
    ~Follower();
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Takes over the cursor's present state (a reset) and follows its changes
    // from then on; Detach stops following (the grid's window is gone).
    void Attach();
    void Detach();

    const std::vector<std::string>& Titles() const { return titles_; }
    int Rows() const { return rows_; }
    int Current() const { return current_; }
    // The record indicator of `row` (UTF-8): the cursor's state mark on the
    // current row, empty elsewhere.
    const char* Indicator(int row) const;

    Redraw TakeRedraw();
    Show TakeShow();

private:
    void Apply(const TableCursor::Change& change);
    void Reset();
    void Follow();
    void NoteChanged(int row);
    void Pending();

    TableCursor& cursor_;
    View& view_;
    std::vector<std::string> titles_;
    int rows_ = 0;
    int current_ = -1;
    int marked_ = -1;           // the row whose indicator was last handed out for redrawing
    int added_ = -1;            // a row added since: the view paints it as it adds it
    std::vector<int> changed_;  // rows whose cells changed since
    bool allChanged_ = false;   // too many to note
    bool moved_ = false;
    int scrollTo_ = -1;
    bool pending_ = false;      // ShowLater was called and TakeShow not yet
};

}  // namespace ue::grid
