#pragma once
// Where the view breaks a long row into display blocks. A row of many thousand columns
// laid out as one wrapped paragraph costs the whole paragraph again each time it grows;
// in blocks of at most `columns` columns each refresh lays out only the blocks it
// touched. The blocks are a matter of display only: the line stays one line for the log,
// Copy and find. A character is never split between blocks, a wide one that would
// overrun a block starts the next, and a combining mark stays with its character.
// Plain C++, no Qt types.
#include <cstddef>
#include <string_view>
#include <vector>

#include "CharWidth.h"

class PieceCutter {
public:
    static constexpr std::size_t kColumns = 4096;

    explicit PieceCutter(std::size_t columns = kColumns) : limit_(columns < 2 ? 2 : columns) {}
    void setRule(WidthRule rule) { rule_ = rule; }
    std::size_t limit() const { return limit_; }
    void setLimit(std::size_t columns) { limit_ = columns < 2 ? 2 : columns; }

    // The text to cut next goes on a block that already holds `columns` columns.
    void resume(std::size_t columns) { col_ = columns; }
    std::size_t column() const { return col_; }

    // Appends to `cuts`, in order, `base` plus each offset in `utf8` (whole characters)
    // before which a new block starts. An LF ends its row: the text behind it starts on a
    // block of its own anyway.
    void cut(std::string_view utf8, std::size_t base, std::vector<std::size_t>& cuts);

    // Columns of text as the cutter counts them (a tab as the columns to its stop).
    std::size_t columnsOf(std::string_view utf8);

private:
    std::size_t limit_;
    WidthRule rule_ = WidthRule::Japanese;
    std::size_t col_ = 0;
};
