#include "ScreenRow.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char32_t kTail = 0x110000;  // beyond Unicode
constexpr std::size_t npos = std::string::npos;

std::size_t utf8Bytes(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

void putUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isAscii(std::string_view s) {
    std::size_t i = 0;
    for (std::uint64_t w; i + 8 <= s.size(); i += 8) {
        std::memcpy(&w, s.data() + i, 8);
        if (w & 0x8080808080808080u)
            return false;
    }
    for (; i < s.size(); ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80)
            return false;
    return true;
}

std::size_t nextStop(std::size_t col) { return (col / ScreenRow::kTabStop + 1) * ScreenRow::kTabStop; }

} // namespace

void ScreenRow::start(std::string& line, Runs& runs) {
    line_ = &line;
    runs_ = &runs;
    start_ = line.size();
    col_ = cols_ = 0;
    editing_ = false;
    cells_.clear();
    marks_.clear();
    freeMarks_.clear();
    clean_ = cleanBytes_ = 0;
}

// The column after `utf8` written from `col` on, as it is appended: a combining mark with
// nothing before it to combine with takes a column of its own.
std::size_t ScreenRow::advance(std::string_view utf8, std::size_t col) const {
    if (isAscii(utf8)) {
        if (utf8.find('\t') == std::string_view::npos)
            return col + utf8.size();
        for (std::size_t i = 0; i < utf8.size(); ++i)
            col = utf8[i] == '\t' ? nextStop(col) : col + 1;
        return col;
    }
    for (std::size_t i = 0; i < utf8.size();) {
        const Utf8Char c = firstChar(utf8.substr(i));
        i += c.bytes;
        if (c.code == '\t')
            col = nextStop(col);
        else
            col += std::max(columnsOf(c.code, rule_), col == 0 ? 1 : 0);
    }
    return col;
}

void ScreenRow::print(std::string_view utf8, Attr a) {
    if (!editing_) {
        if (col_ > cols_)
            line_->append(col_ - cols_, ' ');
        const std::size_t from = line_->size();
        line_->append(utf8);
        appendRun(*runs_, from, line_->size(), a);
        cols_ = col_ = advance(utf8, std::max(col_, cols_));
        return;
    }
    for (std::size_t i = 0; i < utf8.size();) {
        const Utf8Char c = firstChar(utf8.substr(i));
        i += c.bytes;
        put(c.code, columnsOf(c.code, rule_), a);
    }
}

void ScreenRow::tab(Attr a) {
    const std::size_t next = nextStop(col_);
    if (col_ < columns()) {  // within the text a tab only moves
        col_ = next;
        return;
    }
    if (!editing_) {
        print("\t", a);
        return;
    }
    padTo(col_);
    write('\t', next - col_, a);
}

void ScreenRow::left(std::size_t n) {
    col_ = n >= col_ ? 0 : col_ - n;
    if (!editing_ && col_ < cols_)
        edit();
}

void ScreenRow::right(std::size_t n) {
    const std::size_t limit = std::max(columns(), kRightLimit);
    if (col_ < limit)
        col_ = std::min(col_ + n, limit);
}

void ScreenRow::eraseRight() {
    if (col_ >= columns())
        return;
    touch(col_);
    if (cells_[col_].ch == kTail) {
        const std::size_t h = headOf(col_);
        touch(h);
        blank(h, col_);
    }
    for (std::size_t k = col_; k < cells_.size(); ++k)
        release(cells_[k]);
    cells_.resize(col_);
}

void ScreenRow::eraseLeft() {
    if (col_ + 1 >= columns()) {
        eraseAll();
        return;
    }
    touch(0);
    std::size_t e = col_ + 1;
    for (std::size_t k = e; k < cells_.size() && cells_[k].ch == kTail; ++k)
        cells_[k] = Cell{' ', cells_[k].attr, 0};
    for (std::size_t k = 0; k < e; ++k) {
        release(cells_[k]);
        cells_[k] = Cell{' ', attr::kPlain, 0};
    }
}

void ScreenRow::eraseAll() {
    if (!editing_) {
        editing_ = true;  // nothing of the old text is left to hold column by column
        cells_.clear();
    }
    touch(0);
    cells_.clear();
    marks_.clear();
    freeMarks_.clear();
}

void ScreenRow::edit() {
    editing_ = true;
    cells_.clear();
    marks_.clear();
    freeMarks_.clear();
    const std::string_view text = std::string_view(*line_).substr(start_);
    const Runs& runs = *runs_;
    std::size_t r = static_cast<std::size_t>(
        std::upper_bound(runs.begin(), runs.end(), start_, [](std::size_t at, const Run& x) { return at < x.end; }) -
        runs.begin());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = firstChar(text.substr(i));
        const std::size_t at = start_ + i;
        i += c.bytes;
        while (r < runs.size() && runs[r].end <= at)
            ++r;
        const Attr a = r < runs.size() ? runs[r].attr : attr::kPlain;
        const std::size_t col = cells_.size();
        int width = c.code == '\t' ? static_cast<int>(nextStop(col) - col) : columnsOf(c.code, rule_);
        if (width == 0 && col > 0) {
            addMark(cells_[headOf(col - 1)], c.code);
            continue;
        }
        width = std::max(width, 1);
        cells_.push_back(Cell{c.code, a, 0});
        cells_.resize(col + static_cast<std::size_t>(width), Cell{kTail, a, 0});
    }
    clean_ = cells_.size();
    cleanBytes_ = text.size();
}

void ScreenRow::put(char32_t ch, int width, Attr a) {
    padTo(col_);
    if (width == 0) {
        if (col_ > 0) {
            const std::size_t h = headOf(col_ - 1);
            touch(h);
            addMark(cells_[h], ch);
            return;
        }
        width = 1;
    }
    write(ch, static_cast<std::size_t>(width), a);
}

void ScreenRow::write(char32_t ch, std::size_t width, Attr a) {
    const std::size_t end = col_ + width;
    touch(col_);
    const std::size_t size = cells_.size();
    if (col_ < size && cells_[col_].ch == kTail) {
        const std::size_t h = headOf(col_);
        touch(h);
        blank(h, col_);
    }
    if (end < size && cells_[end].ch == kTail) {
        std::size_t e = end;
        while (e < size && cells_[e].ch == kTail)
            ++e;
        blank(end, e);
    }
    for (std::size_t k = col_; k < std::min(end, size); ++k)
        release(cells_[k]);
    if (end > size)
        cells_.resize(end);
    cells_[col_] = Cell{ch, a, 0};
    for (std::size_t k = col_ + 1; k < end; ++k)
        cells_[k] = Cell{kTail, a, 0};
    col_ = end;
}

void ScreenRow::padTo(std::size_t col) {
    if (col > cells_.size())
        cells_.resize(col, Cell{' ', attr::kPlain, 0});
}

// Cells from `col` on are about to change: the text from there on is stale.
void ScreenRow::touch(std::size_t col) {
    while (clean_ > col) {
        --clean_;
        cleanBytes_ -= renderedBytes(cells_[clean_]);
    }
}

void ScreenRow::blank(std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
        release(cells_[k]);
        cells_[k] = Cell{' ', cells_[k].attr, 0};
    }
}

void ScreenRow::release(Cell& c) {
    if (c.marks == 0)
        return;
    marks_[c.marks - 1u].clear();
    freeMarks_.push_back(static_cast<std::uint16_t>(c.marks - 1u));
    c.marks = 0;
}

void ScreenRow::addMark(Cell& c, char32_t mark) {
    if (c.marks == 0) {
        if (!freeMarks_.empty()) {
            c.marks = static_cast<std::uint16_t>(freeMarks_.back() + 1u);
            freeMarks_.pop_back();
        } else if (marks_.size() < 0xFFFF) {
            marks_.emplace_back();
            c.marks = static_cast<std::uint16_t>(marks_.size());
        } else {
            return;  // a row with more marked characters than this shows the rest without
        }
    }
    putUtf8(marks_[c.marks - 1u], mark);
}

std::size_t ScreenRow::headOf(std::size_t col) const {
    while (col > 0 && cells_[col].ch == kTail)
        --col;
    return col;
}

std::size_t ScreenRow::renderedBytes(const Cell& c) const {
    if (c.ch == kTail)
        return 0;
    return utf8Bytes(c.ch) + (c.marks ? marks_[c.marks - 1u].size() : 0);
}

std::size_t ScreenRow::staleFrom() const {
    if (!editing_ || (clean_ == cells_.size() && start_ + cleanBytes_ == line_->size()))
        return npos;
    return start_ + cleanBytes_;
}

void ScreenRow::render() {
    if (staleFrom() == npos)
        return;
    std::string& line = *line_;
    line.resize(start_ + cleanBytes_);
    truncateRuns(*runs_, line.size());
    for (std::size_t k = clean_; k < cells_.size(); ++k) {
        const Cell& c = cells_[k];
        if (c.ch == kTail)
            continue;
        const std::size_t from = line.size();
        putUtf8(line, c.ch);
        if (c.marks)
            line += marks_[c.marks - 1u];
        appendRun(*runs_, from, line.size(), c.attr);
    }
    clean_ = cells_.size();
    cleanBytes_ = line.size() - start_;
}

void ScreenRow::cutFront(std::size_t cut) {
    if (cut <= start_) {
        start_ -= cut;
        return;
    }
    start_ = 0;
    const std::size_t before = columns();
    if (editing_) {
        edit();
    } else {
        cols_ = advance(*line_, 0);
    }
    const std::size_t lost = before - std::min(before, columns());
    col_ -= std::min(col_, lost);
}

std::size_t ScreenRow::unitsAfterCaret() const {
    if (!editing_)
        return 0;
    std::size_t units = 0;
    for (std::size_t k = col_; k < cells_.size(); ++k) {
        const Cell& c = cells_[k];
        if (c.ch == kTail)
            continue;
        units += c.ch >= 0x10000 ? 2 : 1;
        if (c.marks)
            units += utf16Length(marks_[c.marks - 1u]);
    }
    return units;
}
