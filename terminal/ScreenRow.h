#pragma once
// The row the host is writing: the text of the current line after its last lone LF,
// with the host's write position on it, counted in columns. Text written before the end
// of the row overwrites what stands there; a character that is overwritten in part (one
// column of a wide character, of a tab) leaves blanks in the rest of its columns.
//
// The row's text lives in the line itself (UTF-8, with its attribute runs). While the
// host only appends, text goes straight there. Once it moves back into the row or erases
// it, the row is held column by column and the line's text is brought up to date by
// render(), from the first column that changed, so a long row costs only its changed
// part. Plain C++, no Qt types.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CharWidth.h"
#include "Sgr.h"

class ScreenRow {
public:
    static constexpr std::size_t kTabStop = 8;
    // A move right stops here unless the row is longer: a host cannot make a short row
    // pad itself out without bound.
    static constexpr std::size_t kRightLimit = 1024;

    // A new, empty row at the end of `line`, whose attributes are `runs`. Both must stay
    // where they are while the row is written.
    void start(std::string& line, Runs& runs);
    void setRule(WidthRule rule) { rule_ = rule; }

    void print(std::string_view utf8, Attr a);  // printable text, whole characters
    void tab(Attr a);                           // to the next multiple of 8 columns
    void left(std::size_t n);                   // BS, CSI D: never before the row's start
    void right(std::size_t n);                  // CSI C
    void eraseRight();                          // CSI K: from the write position on
    void eraseLeft();                           // CSI 1 K: up to the write position, included
    void eraseAll();                            // CSI 2 K

    // Byte offset in the line from which its text no longer shows the row, or npos.
    std::size_t staleFrom() const;
    // Brings the line's text and runs up to date.
    void render();
    // The line lost its first `cut` bytes (the scrollback bound); the line's text must
    // be up to date. A cut inside the row takes its columns with it.
    void cutFront(std::size_t cut);

    std::size_t rowStart() const { return start_; }
    std::size_t column() const { return col_; }
    std::size_t columns() const { return editing_ ? cells_.size() : cols_; }
    // UTF-16 code units of the row's text behind the write position (0 at its end).
    std::size_t unitsAfterCaret() const;

private:
    struct Cell {
        char32_t ch;     // kTail: a further column of the character before it
        Attr attr;
        std::uint16_t marks;  // 0, or 1 + index of the combining marks that follow ch
    };

    void edit();  // from now on column by column
    void put(char32_t ch, int width, Attr a);
    void write(char32_t ch, std::size_t width, Attr a);
    void padTo(std::size_t col);
    void touch(std::size_t col);
    void blank(std::size_t from, std::size_t to);
    void release(Cell& c);
    void addMark(Cell& c, char32_t mark);
    std::size_t headOf(std::size_t col) const;
    std::size_t renderedBytes(const Cell& c) const;
    std::size_t advance(std::string_view utf8, std::size_t col) const;

    std::string* line_ = nullptr;
    Runs* runs_ = nullptr;
    std::size_t start_ = 0;  // where the row starts in the line
    WidthRule rule_ = WidthRule::Japanese;
    std::size_t col_ = 0;     // the write position; past the end, text is padded with blanks
    std::size_t cols_ = 0;    // the row's columns, while appended to only
    bool editing_ = false;
    std::vector<Cell> cells_;
    std::vector<std::string> marks_;
    std::vector<std::uint16_t> freeMarks_;
    std::size_t clean_ = 0;       // cells still shown right by the line's text...
    std::size_t cleanBytes_ = 0;  // ...which take this many bytes of it
};
