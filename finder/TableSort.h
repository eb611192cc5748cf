#pragma once
// The device table's rules: compacting and sorting at the end of a run, and which
// launch buttons the selected row allows. Plain C++ on DeviceGrid.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "DeviceGrid.h"

// Negative, zero or positive as a sorts before, with or after b.
using TextCompare = std::function<int(const std::string& a, const std::string& b)>;

// Case-insensitive comparison in the user's locale on the decoded text.
TextCompare localeCompare();

// The sort key column for the text of the sort-key box: 1, 2 or 5, or 0 when the
// text names none of the keys (the table then keeps its arrival order).
int sortColumnFor(std::string_view comboText);

// Data rows (1..RowCount-1) reordered by the text of one column; whole rows move.
// In-place quicksort with the middle row as pivot; equal keys have no defined order.
void Sort(DeviceGrid& grid, int column, const TextCompare& compare);

// Fewer than two named rows: nothing changes. Otherwise the empty rows are dropped,
// the rest sorted and numbered " 1", " 2", ..., and the table filled up to 11 rows.
void ListSort(DeviceGrid& grid, int column, const TextCompare& compare);

// What the button rule does to the two launch buttons; nothing means "not touched".
struct ButtonStates {
    std::optional<bool> web, utility;
};

// searchEnabled: the search button is enabled (no run, no open panel).
// utilityExists is asked only when its answer can matter.
ButtonStates ListCheck(bool searchEnabled, std::string_view selectedIp, bool checkTicked,
                       const std::function<bool()>& utilityExists);
