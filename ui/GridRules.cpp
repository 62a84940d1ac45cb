#include "ui/GridRules.h"

namespace ue::grid {

std::vector<std::string> ColumnTitles(const TableCursor& cursor) {
    std::vector<std::string> titles;
    if (!cursor.IsOpen()) return titles;
    for (const ColumnInfo& column : cursor.Columns()) titles.push_back(column.name);
    return titles;
}

int CurrentRowOf(const TableCursor& cursor) {
    if (!cursor.IsOpen()) return -1;
    const std::size_t row = cursor.CurrentRow();
    return row < cursor.RowCount() ? static_cast<int>(row) : -1;
}

const char* RecordIndicator(TableCursor::State state) {
    switch (state) {
        case TableCursor::State::Editing: return "I";
        case TableCursor::State::Appending: return "*";
        case TableCursor::State::Browsing: return "\xE2\x96\xB6";  // ▶
        case TableCursor::State::Closed: break;
    }
    return "";
}

std::string CellText(const TableCursor& cursor, int row, int column) {
    if (!cursor.IsOpen() || row < 0 || column < 0) return {};
    const auto r = static_cast<std::size_t>(row);
    const auto c = static_cast<std::size_t>(column);
    if (r >= cursor.RowCount() || c >= cursor.Columns().size()) return {};
    return cursor.Cell(r, c).ToDisplayText();
}

}  // namespace ue::grid
