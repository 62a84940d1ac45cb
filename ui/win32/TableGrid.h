// A read-only grid over a TableCursor: a virtual list view (report view,
// owner data) that reads its cells from the cursor when it paints them, so it
// copies no rows, with a record-indicator column first. It draws what the
// portable follower says of the cursor's changes, once per burst of changes:
// one posted message redraws the rows noted since, selects the current row
// and scrolls to it when the message loop runs. Under Wine every redraw is a
// round trip to the wineserver, and a run moves the cursors thousands of
// times between two turns of the loop.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "records/TableCursor.h"
#include "ui/GridFollower.h"
#include "ui/Layout.h"

namespace ue {

class TableGrid : private grid::Follower::View {
public:
    // What the grid asked of the list view, for tests: rows redrawn one by
    // one, item counts set, full redraws, and selections posted.
    struct Counts {
        int rowsRedrawn = 0;
        int countsSet = 0;
        int fullRedraws = 0;
        int showsPosted = 0;
    };

    TableGrid(TableCursor& cursor, HWND parent, const layout::Control& entry, int id);
    ~TableGrid();
    TableGrid(const TableGrid&) = delete;
    TableGrid& operator=(const TableGrid&) = delete;

    HWND Handle() const { return hwnd_; }

    // The parent passes on its WM_NOTIFY; true when the message was the grid's.
    bool Notify(const NMHDR& header, LRESULT& result);

    // The text of a cell as shown: column 0 is the record indicator, the
    // fields follow.
    std::wstring CellText(int row, int column) const;
    int Rows() const { return follower_.Rows(); }
    int CurrentRow() const { return follower_.Current(); }
    int ColumnWidth(int column) const;

    const Counts& GetCounts() const { return counts_; }
    void ResetCounts() { counts_ = {}; }

private:
    // The follower's view. Redrawing, selecting and scrolling wait for the
    // message loop: one posted message per burst of changes, so a change
    // costs the same whatever the table's size and makes no window call
    // beyond setting the item count.
    void ResetDone(bool newColumns) override;
    void RowAdded(int row) override;
    void RowRemoved(int row) override;
    void ShowLater() override;

    void SetRowCount(int rows, DWORD flags);
    void RedrawRows(int first, int last);
    void ShowFollowedRow();
    // Widens the field columns that rows first..last need wider; never narrows.
    void WidenColumns(int first, int last);

    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);

    TableCursor& cursor_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    int shownRow_ = -1;  // the row selected now
    Counts counts_;
    grid::Follower follower_;
};

}  // namespace ue
