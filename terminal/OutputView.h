#pragma once
// Memo1: the terminal's screen. A read-only plain-text view that mirrors the line
// assembly; it decodes each whole line from code page 932 when the line changes.
#include <QPlainTextEdit>

#include "LineAssembly.h"

class OutputView : public QPlainTextEdit {
public:
    explicit OutputView(QWidget* parent = nullptr);

    // Brings the view in line with `lines` after one chunk, then follows the output:
    // the caret goes to the end of the current line and is scrolled into view.
    void show(const LineAssembly& lines, LineAssembly::Update update);

    // Lines shown, as the user sees them (for tests and assistive tools).
    int shownLines() const { return shown_; }

private:
    int shown_ = 0;
};
