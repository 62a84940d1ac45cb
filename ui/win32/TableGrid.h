// A read-only grid over a TableCursor: a virtual list view (report view,
// owner data) that reads its cells from the cursor when it paints them, so it
// copies no rows, with a record-indicator column first. It follows the
// cursor's changes by redrawing only the rows they concern, once per burst of
// changes: a move or an edited value only notes its rows, and one posted
// message redraws them, selects the current row and scrolls to it when the
// message loop runs. Under Wine every redraw is a round trip to the
// wineserver, and a run moves the cursors thousands of times between two
// turns of the loop.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "records/TableCursor.h"
#include "ui/Layout.h"

namespace ue {

class TableGrid {
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
    int Rows() const { return rows_; }
    int CurrentRow() const { return current_; }
    int ColumnWidth(int column) const;

    const Counts& GetCounts() const { return counts_; }
    void ResetCounts() { counts_ = {}; }

private:
    void CursorChanged(const TableCursor::Change& change);
    // Takes over the cursor's columns, rows and current row, and redraws all.
    void Refresh();
    void SetRowCount(int rows, DWORD flags);
    void RedrawRows(int first, int last);
    void FollowCursor();
    // Notes a row whose cells changed, to be redrawn with the burst.
    void NoteChangedRow(int row);
    // Redrawing, selecting and scrolling wait for the message loop: one
    // posted message per burst of changes, so a change costs the same
    // whatever the table's size and makes no window call.
    void RequestShow();
    void ShowFollowedRow();
    void RedrawNotedRows();
    // Widens the field columns that rows first..last need wider; never narrows.
    void WidenColumns(int first, int last);

    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);

    TableCursor& cursor_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<std::string> titles_;
    int rows_ = 0;
    int current_ = -1;
    int selectedRow_ = -1;  // the row to select (-1: none)
    int shownRow_ = -1;     // the row selected now
    int scrollRow_ = -1;    // the last row followed, to scroll to
    int markedRow_ = -1;    // the row last redrawn with the record indicator
    int appendedRow_ = -1;  // a row added in this burst: the list view paints it
    std::vector<int> changedRows_;  // rows whose cells changed in this burst
    bool allChanged_ = false;       // too many to note: all are redrawn
    bool showPending_ = false;
    Counts counts_;
};

}  // namespace ue
