#include "OutputView.h"

#include <QTextBlock>
#include <QTextCursor>

#include "qtext.h"

OutputView::OutputView(QWidget* parent) : QPlainTextEdit(parent) {
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
}

void OutputView::show(const LineAssembly& lines, LineAssembly::Update update) {
    const auto& all = lines.lines();
    const int count = static_cast<int>(all.size());
    const int first = static_cast<int>(update.firstChanged);

    // One conversion for every changed line: CR never occurs inside a line, so it can
    // join them; a lone LF inside a line is shown as a line break within that line.
    std::string joined;
    for (int i = first; i < count; ++i) {
        if (i > first)
            joined += '\r';
        joined += displayBytes(all[static_cast<std::size_t>(i)], i == count - 1);
    }
    QString text = toQ(joined);
    text.replace(QChar('\n'), QChar(QChar::LineSeparator));
    text.replace(QChar('\r'), QChar('\n'));

    QTextDocument* doc = document();
    QTextCursor cur(doc);
    cur.beginEditBlock();
    // Positions, not cursor moves: moving by blocks lays out every block it passes.
    if (update.dropped > 0 && shown_ > 0) {
        cur.setPosition(0);
        cur.setPosition(doc->findBlockByNumber(static_cast<int>(update.dropped)).position(),
                        QTextCursor::KeepAnchor);
        cur.removeSelectedText();
    }
    cur.setPosition(shown_ == 0 ? 0 : doc->findBlockByNumber(first).position());
    cur.setPosition(doc->characterCount() - 1, QTextCursor::KeepAnchor);
    cur.insertText(text);
    cur.endEditBlock();
    shown_ = count;

    QTextCursor caret(doc);
    caret.setPosition(doc->characterCount() - 1);
    setTextCursor(caret);
    ensureCursorVisible();
}
