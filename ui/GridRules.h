// What the read-only grids show of a table cursor, the same in every
// toolkit: one column per field titled with its name, the record indicator
// of the current row, and how many rows are looked at to size the columns.
#pragma once

#include <string>
#include <vector>

#include "records/TableCursor.h"

namespace ue::grid {

// Rows looked at to size the columns when a table is opened: a screenful
// and some. Rows beyond widen their columns when they change or are shown.
inline constexpr int kSampledRows = 32;
// Height of a row and width of the record-indicator column, in pixels at 96 dpi.
inline constexpr int kRowHeight = 18;
inline constexpr int kIndicatorWidth = 14;

// The field names in the table's field order; none while the cursor is closed.
std::vector<std::string> ColumnTitles(const TableCursor& cursor);

// The cursor's current row, or -1 when it is closed or past the last row.
int CurrentRowOf(const TableCursor& cursor);

// The mark of the current row (UTF-8): "▶" browsing, "I" editing, "*" a new
// row; empty for a closed cursor.
const char* RecordIndicator(TableCursor::State state);

// The display text of a cell; empty outside the table.
std::string CellText(const TableCursor& cursor, int row, int column);

}  // namespace ue::grid
