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

std::wstring WideOrMarked(const std::string& text) {
    try {
        return Wide(text, "cell");
    } catch (...) {
        return L"?";
    }
}

}  // namespace

TableGrid::TableGrid(TableCursor& cursor, HWND parent, const layout::Control& entry, int id)
    : cursor_(cursor), follower_(cursor, *this) {
    hwnd_ = CreateControl(parent, WC_LISTVIEWW, entry,
                          WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                          id);
    font_ = SongFont(entry.fontPixels);
    ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT |
                                                 LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP);
    SetWindowSubclass(hwnd_, Subclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    follower_.Attach();
}

TableGrid::~TableGrid() {
    follower_.Detach();
    if (hwnd_ != nullptr) {
        RemoveWindowSubclass(hwnd_, Subclass, kSubclassId);
        DestroyWindow(hwnd_);
    }
}

void TableGrid::ResetDone(bool newColumns) {
    const std::vector<std::string>& titles = follower_.Titles();
    if (newColumns || Header_GetItemCount(ListView_GetHeader(hwnd_)) == 0) {
        while (ListView_DeleteColumn(hwnd_, 0)) {
        }
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
        for (std::size_t i = 0; i < titles.size(); ++i) {
            std::wstring title = WideOrMarked(titles[i]);
            column.pszText = title.data();
            column.cx = TextExtent(font_, title.c_str(), static_cast<int>(title.size())).cx + kCellPadding;
            ListView_InsertColumn(hwnd_, static_cast<int>(i + 1), &column);
        }
    }
    shownRow_ = -1;
    SetRowCount(follower_.Rows(), 0);
    ++counts_.fullRedraws;
    InvalidateRect(hwnd_, nullptr, TRUE);
    WidenColumns(0, std::min(follower_.Rows(), grid::kSampledRows) - 1);
}

void TableGrid::SetRowCount(int rows, DWORD flags) {
    ++counts_.countsSet;
    ListView_SetItemCountEx(hwnd_, rows, flags);
}

void TableGrid::RedrawRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, follower_.Rows() - 1);
    if (first > last) return;
    counts_.rowsRedrawn += last - first + 1;
    ListView_RedrawItems(hwnd_, first, last);
}

void TableGrid::RowAdded(int) {
    // The new row is painted as it comes into view; the rest stay.
    SetRowCount(follower_.Rows(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void TableGrid::RowRemoved(int row) {
    if (shownRow_ == row) shownRow_ = -1;
    // Where the row was is cleared; the rows above stay. The list view
    // still holds the row until its count is set.
    RECT gone{};
    const bool onScreen = ListView_GetItemRect(hwnd_, row, &gone, LVIR_BOUNDS) != FALSE;
    SetRowCount(follower_.Rows(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    if (onScreen) InvalidateRect(hwnd_, &gone, TRUE);
}

void TableGrid::ShowLater() {
    ++counts_.showsPosted;
    PostMessageW(hwnd_, kShowFollowedRow, 0, 0);
}

void TableGrid::ShowFollowedRow() {
    const grid::Follower::Redraw redraw = follower_.TakeRedraw();
    if (redraw.all) {
        // Columns then widen to the rows shown, as after any scroll.
        ++counts_.fullRedraws;
        InvalidateRect(hwnd_, nullptr, TRUE);
    } else {
        for (int row : redraw.rows) RedrawRows(row, row);
        for (int row : redraw.widen) WidenColumns(row, row);
    }
    const grid::Follower::Show show = follower_.TakeShow();
    const int rows = follower_.Rows();
    if (shownRow_ != show.select && shownRow_ >= 0 && shownRow_ < rows)
        ListView_SetItemState(hwnd_, shownRow_, 0, LVIS_SELECTED | LVIS_FOCUSED);
    shownRow_ = show.select;
    if (shownRow_ >= 0)
        ListView_SetItemState(hwnd_, shownRow_, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    // The last row followed, also when the cursor has since gone past the end.
    if (show.scrollTo < 0) return;
    ListView_EnsureVisible(hwnd_, show.scrollTo, FALSE);
    // The rows now shown may hold longer values than those sampled.
    const int first = ListView_GetTopIndex(hwnd_);
    WidenColumns(first, first + ListView_GetCountPerPage(hwnd_));
}

void TableGrid::WidenColumns(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, follower_.Rows() - 1);
    const std::size_t columns = follower_.Titles().size();
    if (first > last || columns == 0) return;
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    for (std::size_t c = 0; c < columns; ++c) {
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
    if (column == 0) return WideOrMarked(follower_.Indicator(row));
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
        // The window went with its parent: the cursor's changes are no
        // longer the grid's business.
        reinterpret_cast<TableGrid*>(self)->follower_.Detach();
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
