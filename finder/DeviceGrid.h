#pragma once
// The device table's content: a header row and data rows of six CP932 texts.
// Plain data so that the decoder, the sort and the tests need no widgets; the
// window shows it through a Qt model.
#include <string>
#include <vector>

class DeviceGrid {
public:
    static constexpr int kColumns = 6;

    explicit DeviceGrid(int rowCount = 11) { setRowCount(rowCount); }

    // Rows including the header row 0.
    int rowCount() const { return static_cast<int>(rows_.size()); }
    void setRowCount(int n) { rows_.resize(n < 1 ? 1 : n, Row(kColumns)); }

    const std::string& cell(int col, int row) const { return rows_.at(row).at(col); }
    void setCell(int col, int row, std::string text) { rows_.at(row).at(col) = std::move(text); }

private:
    using Row = std::vector<std::string>;
    std::vector<Row> rows_;
};
