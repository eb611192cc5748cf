#include "OutputView.h"

#include <QApplication>
#include <QColor>
#include <QEvent>
#include <QFontMetricsF>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include "CharWidth.h"
#include "ScreenRow.h"

namespace {


// Characters the document would take as block breaks of its own; only LF may make one.
void keepBlocksToLf(QString& text) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == 0xFDD0 || u == 0xFDD1)
            c = QChar::ReplacementCharacter;
    }
}

QColor colourOf(Rgb c) { return QColor(c.r, c.g, c.b); }

} // namespace

OutputView::OutputView(QWidget* parent, std::size_t byteLimit, std::size_t lineLimit)
    : QPlainTextEdit(parent), lines_(byteLimit, lineLimit) {
    setReadOnly(true);
    // Keys without a character keep moving the caret; typed text never lands here.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    // Read-only text edits turn input methods off; typed Japanese text must still arrive.
    setAttribute(Qt::WA_InputMethodEnabled, true);
    setTabStops();

    ringBell = [] { QApplication::beep(); };
    bellClock = [] {
        using namespace std::chrono;
        return static_cast<qint64>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };

    lines_.setEncoding(Encoding::Cp932);
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });
    sinceRefresh_.start();
}

void OutputView::append(std::string_view chunk) {
    lines_.append(chunk);
    if (lines_.bells() != bellsSeen_) {
        bellsSeen_ = lines_.bells();
        const qint64 now = bellClock();
        if (lastBell_ < 0 || now - lastBell_ >= kBellMs) {
            lastBell_ = now;
            ringBell();
        }
    }
    pending_ = true;
    if (refreshTimer_->isActive())
        return;
    const qint64 since = sinceRefresh_.elapsed();
    if (since >= kRefreshMs)
        refresh();
    else
        refreshTimer_->start(static_cast<int>(kRefreshMs - since));
}

void OutputView::flush() {
    if (!pending_)
        return;
    refreshTimer_->stop();
    pending_ = false;
    present(lines_.takeUpdate(), std::string::npos);
    sinceRefresh_.restart();
}

// One refresh's share; what is left waits for the next refresh, so input and repaints
// come between, and text the scrollback drops meanwhile is never shown at all.
void OutputView::refresh() {
    if (!pending_)
        return;
    pending_ = !present(lines_.takeUpdate(), kRefreshBytes);
    sinceRefresh_.restart();
    if (pending_)
        refreshTimer_->start(kRefreshMs);
}

QTextCharFormat OutputView::formatOf(Attr a) {
    QTextCharFormat f;
    const int fg = attr::foreground(a), bg = attr::background(a);
    const QColor fore = colourOf(fg < 0 ? kDefaultForeground : kPalette[fg]);
    const QColor back = colourOf(bg < 0 ? kDefaultBackground : kPalette[bg]);
    if (a & attr::kReverse) {
        f.setForeground(back);
        f.setBackground(fore);
    } else {
        if (fg >= 0)
            f.setForeground(fore);
        if (bg >= 0)
            f.setBackground(back);
    }
    if (a & attr::kBold)
        f.setFontWeight(QFont::Bold);
    if (a & attr::kUnderline)
        f.setFontUnderline(true);
    return f;
}

const QTextCharFormat& OutputView::cachedFormat(Attr a) {
    auto f = formats_.find(a);
    if (f == formats_.end())
        f = formats_.insert(a, formatOf(a));
    return *f;
}

// Appends line `line` from byte `from` up to `to` to the text to insert, with a block
// break where the cutter starts a new piece of a long row. Its attributes become format
// ranges of the blocks they go into: `block` and `units` say where the text stands, and
// move on with it. The text itself goes in plain, with one insert for all, so a coloured
// stream costs hardly more than a plain one.
void OutputView::addLine(std::string& text, std::size_t line, std::size_t from, std::size_t to, int& block, int& units) {
    const std::string_view all = std::string_view(lines_.lines()[line]).substr(0, to);
    cuts_.clear();
    cutter_.cut(all.substr(from), from, cuts_);
    const Runs& runs = lines_.runs(line);
    const bool plain = runs.empty() || runs.back().end <= from;
    std::size_t at = from;
    for (std::size_t k = 0; k <= cuts_.size(); ++k) {
        const std::size_t end = k < cuts_.size() ? cuts_[k] : all.size();
        const std::string_view seg = all.substr(at, end - at);
        text.append(seg);
        if (plain) {
            const auto breaks = static_cast<int>(std::count(seg.begin(), seg.end(), '\n'));
            block += breaks;
            if (breaks > 0)
                units = 0;
        } else {
            addFormats(line, at, end, block, units);
        }
        if (k < cuts_.size()) {
            text += '\n';
            pieceBlocks_.push_back(++block);
            units = 0;
        }
        at = end;
    }
}

// The format ranges of line `line`'s bytes [from, to), which stand in one piece.
void OutputView::addFormats(std::size_t line, std::size_t from, std::size_t to, int& block, int& units) {
    const std::string_view all = std::string_view(lines_.lines()[line]).substr(0, to);
    const Runs& runs = lines_.runs(line);
    auto piece = [&](std::string_view seg, Attr a) {
        for (std::size_t lf; !seg.empty(); seg.remove_prefix(lf + 1)) {
            lf = seg.find('\n');
            const std::string_view part = seg.substr(0, lf);
            const int n = static_cast<int>(utf16Length(part));
            if (a != attr::kPlain && n > 0) {
                if (formatRows_.empty() || formatRows_.back().block != block)
                    formatRows_.push_back({block, {}});
                formatRows_.back().ranges.push_back({units, n, cachedFormat(a)});
            }
            units += n;
            if (lf == std::string_view::npos)
                break;
            ++block;
            units = 0;
        }
    };
    auto r = std::upper_bound(runs.begin(), runs.end(), from, [](std::size_t at, const Run& x) { return at < x.end; });
    std::size_t at = from;
    for (; r != runs.end() && at < all.size(); ++r) {
        const std::size_t end = std::min<std::size_t>(r->end, all.size());
        piece(all.substr(at, end - at), r->attr);
        at = end;
    }
    piece(all.substr(at), attr::kPlain);
}

// After the insert: the rows that got text of their own attributes show them. Row
// `reset` (where the insert began) keeps its ranges before `keptUnits` and no others.
void OutputView::applyFormats(int reset, int keptUnits) {
    QTextDocument* doc = document();
    std::size_t next = 0;
    if (reset >= 0) {
        QTextLayout* layout = doc->findBlockByNumber(reset).layout();
        QList<QTextLayout::FormatRange> ranges;
        for (const auto& r : layout->formats()) {
            if (r.start >= keptUnits)
                continue;
            ranges.push_back(r);
            ranges.back().length = std::min(r.length, keptUnits - r.start);
        }
        if (!formatRows_.empty() && formatRows_[0].block == reset) {
            ranges.append(formatRows_[0].ranges);
            next = 1;
        }
        if (!ranges.isEmpty() || !layout->formats().isEmpty())
            layout->setFormats(ranges);
    }
    // The rows come in order: walk the blocks rather than look each one up.
    QTextBlock b;
    int at = -1;  // b's number
    for (; next < formatRows_.size(); ++next) {
        const int want = formatRows_[next].block;
        if (!b.isValid() || want - at > 64) {
            b = doc->findBlockByNumber(want);
            at = want;
        }
        for (; b.isValid() && at < want; ++at)
            b = b.next();
        if (b.isValid())
            b.layout()->setFormats(formatRows_[next].ranges);
    }
    formatRows_.clear();
}

namespace {
constexpr int kRowBlock = 0;    // a block that starts a row
constexpr int kPieceBlock = 1;  // a block that goes on with the row of the block before it
} // namespace

// Every block from `firstBlock` on says whether it starts a row or goes on with one.
void OutputView::markPieces(int firstBlock) {
    auto piece = pieceBlocks_.begin();
    for (QTextBlock b = document()->findBlockByNumber(firstBlock); b.isValid(); b = b.next()) {
        const int n = b.blockNumber();
        while (piece != pieceBlocks_.end() && *piece < n)
            ++piece;
        b.setUserState(piece != pieceBlocks_.end() && *piece == n ? kPieceBlock : kRowBlock);
    }
    pieceBlocks_.clear();
}

// The document position `units` UTF-16 units of the last row before the end of the
// text, the block breaks between its pieces not counted.
int OutputView::backFromEnd(int units) const {
    QTextBlock b = document()->lastBlock();
    for (;;) {
        const int len = b.length() - 1;
        if (units <= len || b.userState() != kPieceBlock || !b.previous().isValid())
            return b.position() + std::max(0, len - units);
        units -= len;
        b = b.previous();
    }
}

QString OutputView::logicalText(int from, int to) const {
    QString out;
    const QTextDocument* doc = document();
    for (QTextBlock b = doc->findBlock(from); b.isValid() && b.position() < to; b = b.next()) {
        const int pos = b.position(), len = b.length() - 1;
        const int s = std::max(from, pos), e = std::min(to, pos + len);
        if (e > s)
            out += b.text().mid(s - pos, e - s);
        if (to > pos + len && b.next().isValid() && b.next().userState() != kPieceBlock)
            out += QLatin1Char('\n');
    }
    // As the document gives plain text.
    for (QChar& c : out) {
        if (c == QChar::Nbsp)
            c = QLatin1Char(' ');
        else if (c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return out;
}

bool OutputView::continuesRow(const QTextBlock& b) { return b.userState() == kPieceBlock; }

QString OutputView::selectedText() const {
    const QTextCursor c = textCursor();
    return c.hasSelection() ? logicalText(c.selectionStart(), c.selectionEnd()) : QString();
}

int OutputView::documentPosition(int logical) const {
    const QTextDocument* doc = document();
    int seen = 0;  // logical units before block b
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const QTextBlock next = b.next();
        const int len = b.length() - 1;
        const int width = len + (next.isValid() && next.userState() != kPieceBlock ? 1 : 0);
        if (logical < seen + width || !next.isValid())
            return b.position() + std::min(logical - seen, len);
        seen += width;
    }
    return 0;
}

int OutputView::logicalPosition(int position) const {
    int breaks = 0;  // block breaks between pieces before the position
    for (QTextBlock b = document()->findBlock(position); b.isValid() && b.blockNumber() > 0; b = b.previous())
        breaks += continuesRow(b);
    return position - breaks;
}

QMimeData* OutputView::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(selectedText());
    return data;
}

bool OutputView::present(LineAssembly::Update update, std::size_t budget) {
    const auto& all = lines_.lines();
    if (all.empty())
        return true;
    QTextDocument* doc = document();
    QTextCursor cur(doc);
    cur.beginEditBlock();
    // Removes the text between two positions; the block it starts in keeps saying whether
    // it starts a row (the document keeps the state of the last block it merges).
    auto remove = [&](int from, int to) {
        const int state = doc->findBlock(from).userState();
        cur.setPosition(from);
        cur.setPosition(to, QTextCursor::KeepAnchor);
        cur.removeSelectedText();
        doc->findBlock(from).setUserState(state);
    };
    // Positions, not cursor moves: moving by blocks lays out every block it passes.
    auto removeBlocks = [&](int from, int to) {
        remove(doc->findBlockByNumber(from).position(), to >= doc->blockCount()
                                                            ? doc->characterCount() - 1
                                                            : doc->findBlockByNumber(to).position());
    };
    // How far line i is shown this time: whole, or up to what is left of the budget.
    auto shareOf = [&](std::size_t i, std::size_t from) {
        const std::string& line = all[i];
        if (line.size() - from <= budget) {
            budget -= line.size() - from;
            return line.size();
        }
        std::size_t end = from + budget;
        while (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
            ++end;
        budget = 0;
        return end;
    };

    int dropRows = 0;
    for (std::size_t i = 0; i < update.dropped && !rows_.empty(); ++i) {
        dropRows += rows_.front();
        rows_.pop_front();
    }
    if (dropRows > 0) {
        removeBlocks(0, dropRows);
        pageTopBlock_ = pageTopBlock_ >= dropRows ? pageTopBlock_ - dropRows : -1;
    }

    const std::size_t first = update.firstChanged;
    std::string text;
    int block = 0, units = 0, reset = -1, keptUnits = 0, marksFrom = 0;
    std::size_t shownTo = 0;
    if (update.kept > 0 && rows_.size() == first + 1 && update.kept <= all[first].size()) {
        // The line the view shows last has grown: cut its oldest rows if the scrollback
        // dropped them, take back what the host overwrote, and append only the new text.
        if (update.cutRows > 0) {
            const int start = doc->blockCount() - rows_.back();
            int to = start + 1;  // past the cut rows and their pieces
            QTextBlock b = doc->findBlockByNumber(to);
            for (std::size_t rows = 0; b.isValid(); b = b.next(), ++to)
                if (b.userState() != kPieceBlock && ++rows == update.cutRows)
                    break;
            removeBlocks(start, to);
            rows_.back() -= to - start;
        }
        if (update.cutUnits > 0) {
            // Text from the front of the row, across the breaks between its blocks.
            const int start = doc->blockCount() - rows_.back();
            QTextBlock b = doc->findBlockByNumber(start);
            int left = static_cast<int>(update.cutUnits), gone = 0;
            while (left > b.length() - 1 && b.next().isValid() && continuesRow(b.next())) {
                left -= b.length() - 1;
                b = b.next();
                ++gone;
            }
            remove(doc->findBlockByNumber(start).position(), b.position() + std::min(left, b.length() - 1));
            rows_.back() -= gone;
        }
        const int end = doc->characterCount() - 1;
        const int blocksBefore = doc->blockCount();
        remove(backFromEnd(static_cast<int>(update.erased)), end);
        rows_.back() -= blocksBefore - doc->blockCount();
        reset = block = doc->blockCount() - 1;
        keptUnits = units = doc->lastBlock().length() - 1;
        marksFrom = block + 1;
        cutter_.resume(cutter_.columnsOf(doc->lastBlock().text().toStdString()));
        shownTo = shareOf(first, update.kept);
        addLine(text, first, update.kept, shownTo, block, units);
        rows_.back() += block - reset;
    } else {
        // Show line `first` anew, in place of what the view has from there on.
        int rows = 0;
        while (rows_.size() > first) {
            rows += rows_.back();
            rows_.pop_back();
        }
        if (rows_.empty()) {
            cur.select(QTextCursor::Document);
            reset = 0;
        } else if (rows == 0) {
            cur.setPosition(doc->characterCount() - 1);  // a line the view never had
            text += '\n';
            block = doc->blockCount();
        } else {
            reset = block = doc->blockCount() - rows;
            cur.setPosition(doc->findBlockByNumber(block).position());
            cur.setPosition(doc->characterCount() - 1, QTextCursor::KeepAnchor);
        }
        cur.removeSelectedText();
        marksFrom = block;
        const int top = block;
        cutter_.resume(0);
        shownTo = shareOf(first, 0);
        addLine(text, first, 0, shownTo, block, units);
        rows_.push_back(block - top + 1);
    }
    std::size_t last = first;
    for (std::size_t i = first + 1; i < all.size() && shownTo == all[last].size() && budget > 0; ++i) {
        text += '\n';
        const int top = ++block;
        units = 0;
        cutter_.resume(0);
        last = i;
        shownTo = shareOf(i, 0);
        addLine(text, i, 0, shownTo, block, units);
        rows_.push_back(block - top + 1);
    }
    QString q = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    keepBlocksToLf(q);
    cur.insertText(q, QTextCharFormat());
    markPieces(marksFrom);
    applyFormats(reset, keptUnits);  // inside the edit: each row is laid out once, with its formats
    cur.endEditBlock();
    const bool whole = shownTo == all[last].size() && last + 1 == all.size();
    if (!whole) {
        if (shownTo == all[last].size())
            lines_.holdBack(last + 1, 0);
        else
            lines_.holdBack(last, shownTo);
    }
    heldBack_ = !whole;
    follow();
    return whole;
}

// While the user holds a selection (to copy it) the view stays where it is; it follows
// the output again once the selection is gone. A fresh page stands at the top of the
// view until its text fills the view.
void OutputView::follow() {
    if (textCursor().hasSelection())
        return;
    QTextDocument* doc = document();
    QTextCursor caret(doc);
    caret.setPosition(heldBack_ ? doc->characterCount() - 1 : backFromEnd(static_cast<int>(lines_.unitsAfterCaret())));
    setTextCursor(caret);
    if (lines_.pages() != pagesSeen_) {
        pagesSeen_ = lines_.pages();
        if (const auto top = lines_.pageTop()) {
            pageTopBlock_ = 0;
            for (std::size_t i = 0; i < *top && i < rows_.size(); ++i)
                pageTopBlock_ += rows_[i];
        }
    }
    if (pageTopBlock_ >= 0) {
        // Only this lets the view scroll past the end of the text.
        setCenterOnScroll(true);
        verticalScrollBar()->setValue(doc->findBlockByNumber(pageTopBlock_).firstLineNumber());
        if (cursorRect().bottom() < viewport()->height())
            return;
        pageTopBlock_ = -1;
        setCenterOnScroll(false);
    }
    ensureCursorVisible();
}

void OutputView::setTabStops() {
    setTabStopDistance(static_cast<qreal>(ScreenRow::kTabStop) * QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0')));
}

void OutputView::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange)
        setTabStops();
    QPlainTextEdit::changeEvent(e);
}
