#include "TableSort.h"

#include <utility>
#include <vector>

#include "cp932.h"

int sortColumnFor(std::string_view comboText) {
    // Compared in this order, as exact text.
    static const std::pair<const char*, int> keys[] = {
        {"機器名称", 1}, {"IPアドレス", 2}, {"稼働時間", 5}};
    for (const auto& [utf8, column] : keys)
        if (comboText == cp932::fromUtf8(utf8)) return column;
    return 0;
}

namespace {

using Row = std::vector<std::string>;

void quickSort(std::vector<Row>& rows, int lo, int hi, int column, const TextCompare& compare) {
    int i = lo, j = hi;
    const std::string pivot = rows[(lo + hi) / 2][column];
    do {
        while (compare(rows[i][column], pivot) < 0) ++i;
        while (compare(rows[j][column], pivot) > 0) --j;
        if (i <= j) {
            std::swap(rows[i], rows[j]);
            ++i;
            --j;
        }
    } while (i <= j);
    if (lo < j) quickSort(rows, lo, j, column, compare);
    if (i < hi) quickSort(rows, i, hi, column, compare);
}

}  // namespace

void Sort(DeviceGrid& grid, int column, const TextCompare& compare) {
    const int last = grid.rowCount() - 1;
    if (last < 2) return;
    std::vector<Row> rows;
    for (int r = 1; r <= last; ++r) {
        Row row;
        for (int c = 0; c < DeviceGrid::kColumns; ++c) row.push_back(grid.cell(c, r));
        rows.push_back(std::move(row));
    }
    quickSort(rows, 0, static_cast<int>(rows.size()) - 1, column, compare);
    for (int r = 1; r <= last; ++r)
        for (int c = 0; c < DeviceGrid::kColumns; ++c) grid.setCell(c, r, rows[r - 1][c]);
}

void ListSort(DeviceGrid& grid, int column, const TextCompare& compare) {
    int named = 0;
    for (int r = 1; r < grid.rowCount(); ++r)
        if (!grid.cell(1, r).empty()) ++named;
    if (named <= 1) return;
    // The filled rows are rows 1..named (the decoder fills them in order), so this
    // cuts off only empty rows.
    grid.setRowCount(named + 1);
    Sort(grid, column, compare);
    for (int r = 1; r < grid.rowCount(); ++r) grid.setCell(0, r, " " + std::to_string(r));
    if (grid.rowCount() < 11) grid.setRowCount(11);
}

ButtonStates ListCheck(bool searchEnabled, std::string_view selectedIp, bool checkTicked,
                       const std::function<bool()>& utilityExists) {
    if (!searchEnabled) return {};
    if (selectedIp.empty()) return {false, false};
    ButtonStates s{true, std::nullopt};
    if (checkTicked && utilityExists && utilityExists()) s.utility = true;
    return s;
}
