#pragma once
// Memo1: the terminal's screen. A read-only plain-text view of the received lines. Each
// chunk is decoded once, as it arrives, and the view then only appends what is new; a
// lone LF shows as a break within its line (one row of the view per break).
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <deque>
#include <string_view>

#include "LineAssembly.h"
#include "TextCodec.h"

class QTimer;

class OutputView : public QPlainTextEdit {
public:
    explicit OutputView(QWidget* parent = nullptr, std::size_t byteLimit = LineAssembly::kDefaultByteLimit,
                        std::size_t lineLimit = LineAssembly::kDefaultLineLimit);

    // Takes one received chunk. While text streams in, the view catches up at most every
    // kRefreshMs, so a fast host costs a few view updates a second instead of one per chunk;
    // text after a quiet spell (an echo, a prompt) shows at once.
    void append(std::string_view chunk);
    // Shows everything received so far now, and follows the output: the caret goes to
    // the end of the current line and is scrolled into view.
    void flush();
    // True while received text waits for the next refresh.
    bool pending() const { return pending_; }

    // How received bytes are decoded, from the next byte on (code page 932 by default).
    void setEncoding(Encoding e) { lines_.setEncoding(e); }
    Encoding encoding() const { return *lines_.encoding(); }

    // The received lines, decoded; their observer sees every completed line.
    LineAssembly& lines() { return lines_; }

    // Lines shown, as the user sees them (for tests and assistive tools).
    int shownLines() const { return static_cast<int>(rows_.size()); }

private:
    void show(LineAssembly::Update update);

    static constexpr int kRefreshMs = 20;
    LineAssembly lines_;
    std::deque<int> rows_;  // rows of each line shown: one block of the document per row
    bool pending_ = false;
    QTimer* refreshTimer_;
    QElapsedTimer sinceRefresh_;
};
