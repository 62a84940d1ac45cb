#include "ui/win32/TableGrid.h"

#include <algorithm>
#include <cwchar>

#include "core/WinText.h"
#include "ui/GridRules.h"
#include "ui/win32/Fonts.h"
#include "ui/win32/Win32Layout.h"

namespace ue {
namespace {

// Posted to the list view to select and scroll to the followed row.
constexpr UINT kShowFollowedRow = WM_APP + 1;
constexpr UINT_PTR kSubclassId = 1;
// Room around a cell's text: the list view's own margins and the grid line.
constexpr int kCellPadding = 13;
constexpr int kFirstColumnMargin = 8;
// Rows noted one by one in a burst; past this the whole list is redrawn.
constexpr std::size_t kMaxNotedRows = 64;

std::wstring WideOrMarked(const std::string& text) {
    try {
        return Wide(text, "cell");
    } catch (...) {
        return L"?";
    }
}

}  // namespace

TableGrid::TableGrid(TableCursor& cursor, HWND parent, const layout::Control& entry, int id)
    : cursor_(cursor) {
    hwnd_ = CreateControl(parent, WC_LISTVIEWW, entry,
                          WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                          id);
    font_ = SongFont(entry.fontPixels);
    ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT |
                                                 LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP);
    SetWindowSubclass(hwnd_, Subclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    Refresh();
    cursor_.SetListener([this](const TableCursor::Change& change) { CursorChanged(change); });
}

TableGrid::~TableGrid() {
    cursor_.SetListener({});
    if (hwnd_ != nullptr) {
        RemoveWindowSubclass(hwnd_, Subclass, kSubclassId);
        DestroyWindow(hwnd_);
    }
}

void TableGrid::Refresh() {
    std::vector<std::string> titles = grid::ColumnTitles(cursor_);
    if (titles != titles_ || Header_GetItemCount(ListView_GetHeader(hwnd_)) == 0) {
        while (ListView_DeleteColumn(hwnd_, 0)) {
        }
        titles_ = std::move(titles);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_CENTER;
        // The list view pads its cells, the first column more than the
        // others (the margin where an item's icon would start): room for the
        // widest mark as well, else the mark is cut to an ellipsis.
        const std::wstring mark = WideOrMarked(grid::RecordIndicator(TableCursor::State::Browsing));
        column.cx = std::max(Scale(grid::kIndicatorWidth),
                             static_cast<int>(TextExtent(font_, mark.c_str(), static_cast<int>(mark.size())).cx) +
                                 kCellPadding + kFirstColumnMargin);
        column.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertColumn(hwnd_, 0, &column);
        column.fmt = LVCFMT_LEFT;
        for (std::size_t i = 0; i < titles_.size(); ++i) {
            std::wstring title = WideOrMarked(titles_[i]);
            column.pszText = title.data();
            column.cx = TextExtent(font_, title.c_str(), static_cast<int>(title.size())).cx + kCellPadding;
            ListView_InsertColumn(hwnd_, static_cast<int>(i + 1), &column);
        }
    }
    rows_ = cursor_.IsOpen() ? static_cast<int>(cursor_.RowCount()) : 0;
    current_ = grid::CurrentRowOf(cursor_);
    shownRow_ = -1;
    SetRowCount(rows_, 0);
    ++counts_.fullRedraws;
    InvalidateRect(hwnd_, nullptr, TRUE);
    WidenColumns(0, std::min(rows_, grid::kSampledRows) - 1);
    markedRow_ = current_;
    appendedRow_ = -1;
    changedRows_.clear();
    allChanged_ = false;
    selectedRow_ = current_;
    if (current_ >= 0) scrollRow_ = current_;
    RequestShow();
}

void TableGrid::SetRowCount(int rows, DWORD flags) {
    ++counts_.countsSet;
    ListView_SetItemCountEx(hwnd_, rows, flags);
}

void TableGrid::RedrawRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, rows_ - 1);
    if (first > last) return;
    counts_.rowsRedrawn += last - first + 1;
    ListView_RedrawItems(hwnd_, first, last);
}

void TableGrid::CursorChanged(const TableCursor::Change& change) {
    using Kind = TableCursor::Change::Kind;
    if (hwnd_ == nullptr) return;  // the window went with its parent
    const int row = change.row <= static_cast<std::size_t>(rows_) ? static_cast<int>(change.row) : -1;
    bool inStep = true;
    switch (change.kind) {
    case Kind::Reset:
        Refresh();
        return;
    case Kind::Moved:
        break;
    case Kind::RowChanged:
        NoteChangedRow(row);
        break;
    case Kind::RowAppended:
        inStep = row == rows_;
        if (inStep) {
            // The new row is painted as it comes into view; the rest stay.
            SetRowCount(++rows_, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
            appendedRow_ = row;
            NoteChangedRow(row);
        }
        break;
    case Kind::RowRemoved:
        inStep = row >= 0 && row == rows_ - 1;
        if (inStep) {
            if (shownRow_ == row) shownRow_ = -1;
            if (markedRow_ == row) markedRow_ = -1;
            if (appendedRow_ == row) appendedRow_ = -1;
            std::erase(changedRows_, row);
            // Where the row was is cleared; the rows above stay.
            RECT gone{};
            const bool onScreen = ListView_GetItemRect(hwnd_, row, &gone, LVIR_BOUNDS) != FALSE;
            SetRowCount(--rows_, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
            if (onScreen) InvalidateRect(hwnd_, &gone, TRUE);
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

void TableGrid::FollowCursor() {
    const int current = grid::CurrentRowOf(cursor_);
    if (current == current_) return;
    // Cells read current_ when they are painted; the record indicator's two
    // rows are redrawn with the burst.
    current_ = current;
    selectedRow_ = current;
    if (current >= 0) scrollRow_ = current;
    RequestShow();
}

void TableGrid::NoteChangedRow(int row) {
    if (row < 0 || allChanged_) return;
    if (std::find(changedRows_.begin(), changedRows_.end(), row) != changedRows_.end()) return;
    if (changedRows_.size() < kMaxNotedRows) {
        changedRows_.push_back(row);
    } else {
        allChanged_ = true;
        changedRows_.clear();
    }
    RequestShow();
}

void TableGrid::RequestShow() {
    if (showPending_) return;
    showPending_ = true;
    ++counts_.showsPosted;
    PostMessageW(hwnd_, kShowFollowedRow, 0, 0);
}

void TableGrid::RedrawNotedRows() {
    if (allChanged_) {
        // Columns then widen to the rows shown, as after any scroll.
        allChanged_ = false;
        ++counts_.fullRedraws;
        InvalidateRect(hwnd_, nullptr, TRUE);
        markedRow_ = current_;
        appendedRow_ = -1;
        return;
    }
    std::vector<int> rows = changedRows_;
    // Only the two record indicators change on a move.
    if (markedRow_ != current_) {
        for (int row : {markedRow_, current_})
            if (row >= 0 && std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
        markedRow_ = current_;
    }
    for (int row : rows)
        if (row != appendedRow_) RedrawRows(row, row);
    for (int row : changedRows_) WidenColumns(row, row);
    changedRows_.clear();
    appendedRow_ = -1;
}

void TableGrid::ShowFollowedRow() {
    showPending_ = false;
    RedrawNotedRows();
    if (shownRow_ != selectedRow_ && shownRow_ >= 0 && shownRow_ < rows_)
        ListView_SetItemState(hwnd_, shownRow_, 0, LVIS_SELECTED | LVIS_FOCUSED);
    shownRow_ = selectedRow_ >= 0 && selectedRow_ < rows_ ? selectedRow_ : -1;
    if (shownRow_ >= 0)
        ListView_SetItemState(hwnd_, shownRow_, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    // The last row followed, also when the cursor has since gone past the end.
    if (scrollRow_ < 0 || scrollRow_ >= rows_) return;
    ListView_EnsureVisible(hwnd_, scrollRow_, FALSE);
    // The rows now shown may hold longer values than those sampled.
    const int first = ListView_GetTopIndex(hwnd_);
    WidenColumns(first, first + ListView_GetCountPerPage(hwnd_));
}

void TableGrid::WidenColumns(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, rows_ - 1);
    if (first > last || titles_.empty()) return;
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    for (std::size_t c = 0; c < titles_.size(); ++c) {
        int wanted = 0;
        for (int r = first; r <= last; ++r) {
            const std::wstring text = CellText(r, static_cast<int>(c + 1));
            SIZE size{0, 0};
            if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            wanted = std::max(wanted, static_cast<int>(size.cx) + kCellPadding);
        }
        // Only grows, so that a column the user narrowed stays narrow until
        // a wider value arrives.
        const int column = static_cast<int>(c + 1);
        if (wanted > ListView_GetColumnWidth(hwnd_, column)) ListView_SetColumnWidth(hwnd_, column, wanted);
    }
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
}

int TableGrid::ColumnWidth(int column) const { return ListView_GetColumnWidth(hwnd_, column); }

std::wstring TableGrid::CellText(int row, int column) const {
    if (column == 0) return row == current_ ? WideOrMarked(grid::RecordIndicator(cursor_.GetState())) : L"";
    return WideOrMarked(grid::CellText(cursor_, row, column - 1));
}

bool TableGrid::Notify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != hwnd_) return false;
    result = 0;
    if (header.code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header)).item;
        if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
            const std::wstring text = CellText(item.iItem, item.iSubItem);
            wcsncpy(item.pszText, text.c_str(), static_cast<std::size_t>(item.cchTextMax) - 1);
            item.pszText[item.cchTextMax - 1] = L'\0';
        }
    }
    return true;
}

LRESULT CALLBACK TableGrid::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR self) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, Subclass, kSubclassId);
        reinterpret_cast<TableGrid*>(self)->hwnd_ = nullptr;
    } else if (message == kShowFollowedRow) {
        try {
            reinterpret_cast<TableGrid*>(self)->ShowFollowedRow();
        } catch (...) {
            ReportException(std::current_exception());
        }
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace ue
