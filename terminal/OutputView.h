#pragma once
// Memo1: the terminal's screen. A read-only view of the received lines that paints what
// the line assembly decided: each line's text with its attributes (colours, bold,
// underline, reverse) as format ranges of the rows they stand in; the text itself is
// plain, so Copy takes it as shown. Each chunk is decoded once, as it arrives,
// and the view then only appends what is new, or rewrites the end of the current line
// that the host overwrote; a lone LF shows as a break within its line (one row of the
// view per break). A fresh page from the host starts at the top of the view.
// A row longer than a block's share of columns (PieceCutter) goes into several blocks
// that the view wraps as one row; Copy and find take them as the one line they are.
// Each refresh shows at most kRefreshBytes of new text, the rest the next one.
#include <QElapsedTimer>
#include <QHash>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextLayout>
#include <vector>
#include <deque>
#include <functional>
#include <string_view>

#include "DisplayPieces.h"
#include "LineAssembly.h"
#include "TextCodec.h"

class QMimeData;
class QTextBlock;
class QTimer;

class OutputView : public QPlainTextEdit {
public:
    explicit OutputView(QWidget* parent = nullptr, std::size_t byteLimit = LineAssembly::kDefaultByteLimit,
                        std::size_t lineLimit = LineAssembly::kDefaultLineLimit);

    // Takes one received chunk. While text streams in, the view catches up at most every
    // kRefreshMs, so a fast host costs a few view updates a second instead of one per chunk;
    // text after a quiet spell (an echo, a prompt) shows at once. A BEL in it rings the
    // bell, at most once every kBellMs.
    void append(std::string_view chunk);
    // Shows everything received so far now, and follows the output: the caret goes to
    // the host's write position on the current line and is scrolled into view.
    void flush();
    // True while received text waits for the next refresh.
    bool pending() const { return pending_; }

    // The text between two positions of the document, or the selection, as the lines
    // hold it: a row's display blocks are joined without a break.
    QString logicalText(int from, int to) const;
    QString selectedText() const;
    // The shown text as one string (rows joined by LF), and the document position of
    // each of its UTF-16 units, for find.
    QString shownText() const { return logicalText(0, document()->characterCount() - 1); }
    int documentPosition(int logical) const;
    int logicalPosition(int position) const;
    // True for a block that goes on with the row of the block before it.
    static bool continuesRow(const QTextBlock& b);

    // How received bytes are decoded, from the next byte on (code page 932 by default).
    void setEncoding(Encoding e) {
        lines_.setEncoding(e);
        cutter_.setRule(e == Encoding::Utf8 ? WidthRule::Unicode : WidthRule::Japanese);
    }
    Encoding encoding() const { return *lines_.encoding(); }

    // The received lines, decoded; their observer sees every completed line.
    LineAssembly& lines() { return lines_; }

    // Lines shown, as the user sees them (for tests and assistive tools).
    int shownLines() const { return static_cast<int>(rows_.size()); }

    // The bell and its clock (milliseconds, steady), for tests to replace.
    static constexpr int kBellMs = 200;
    std::function<void()> ringBell;
    std::function<qint64()> bellClock;

    // The character format text of these attributes is shown in.
    static QTextCharFormat formatOf(Attr a);

    static constexpr int kRefreshMs = 20;
    // New text one refresh shows at most.
    static constexpr std::size_t kRefreshBytes = 256 * 1024;
    // The columns of a display block (PieceCutter::kColumns), for tests to make small.
    void setPieceColumns(std::size_t columns) { cutter_.setLimit(columns); }

protected:
    void changeEvent(QEvent* e) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void refresh();
    // Shows the update, at most `budget` bytes of new text; false when some waits.
    bool present(LineAssembly::Update update, std::size_t budget);
    void addLine(std::string& text, std::size_t line, std::size_t from, std::size_t to, int& block, int& units);
    void addFormats(std::size_t line, std::size_t from, std::size_t to, int& block, int& units);
    void markPieces(int firstBlock);
    int backFromEnd(int units) const;
    void applyFormats(int reset, int keptUnits);
    const QTextCharFormat& cachedFormat(Attr a);
    void follow();
    void setTabStops();

    LineAssembly lines_;
    std::deque<int> rows_;  // blocks of each line shown: one per row, or per piece of a long row
    PieceCutter cutter_;
    std::vector<std::size_t> cuts_;
    std::vector<int> pieceBlocks_;  // blocks being inserted that continue the row before them
    bool heldBack_ = false;         // the last refresh left text for the next one
    bool pending_ = false;
    QTimer* refreshTimer_;
    QElapsedTimer sinceRefresh_;
    struct RowFormats {
        int block;
        QList<QTextLayout::FormatRange> ranges;
    };
    std::vector<RowFormats> formatRows_;  // the attributes of the text being inserted
    QHash<Attr, QTextCharFormat> formats_;
    qint64 lastBell_ = -1;
    std::size_t bellsSeen_ = 0;
    std::size_t pagesSeen_ = 0;
    int pageTopBlock_ = -1;  // the first row of a fresh page that still fits the view
};
