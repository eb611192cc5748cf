#include "OutputView.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>

namespace {

int rowsOf(std::string_view text) { return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Characters the document would take as block breaks of its own; only LF may make one.
void keepBlocksToLf(QString& text) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == 0xFDD0 || u == 0xFDD1)
            c = QChar::ReplacementCharacter;
    }
}

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

    lines_.setEncoding(Encoding::Cp932);
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { flush(); });
    sinceRefresh_.start();
}

void OutputView::append(std::string_view chunk) {
    lines_.append(chunk);
    pending_ = true;
    if (refreshTimer_->isActive())
        return;
    const qint64 since = sinceRefresh_.elapsed();
    if (since >= kRefreshMs)
        flush();
    else
        refreshTimer_->start(static_cast<int>(kRefreshMs - since));
}

void OutputView::flush() {
    if (!pending_)
        return;
    pending_ = false;
    show(lines_.takeUpdate());
    sinceRefresh_.restart();
}

void OutputView::show(LineAssembly::Update update) {
    const auto& all = lines_.lines();
    if (all.empty())
        return;
    QTextDocument* doc = document();
    QTextCursor cur(doc);
    cur.beginEditBlock();
    // Positions, not cursor moves: moving by blocks lays out every block it passes.
    auto removeBlocks = [&](int from, int to) {
        cur.setPosition(doc->findBlockByNumber(from).position());
        if (to >= doc->blockCount())
            cur.setPosition(doc->characterCount() - 1, QTextCursor::KeepAnchor);
        else
            cur.setPosition(doc->findBlockByNumber(to).position(), QTextCursor::KeepAnchor);
        cur.removeSelectedText();
    };

    int dropRows = 0;
    for (std::size_t i = 0; i < update.dropped && !rows_.empty(); ++i) {
        dropRows += rows_.front();
        rows_.pop_front();
    }
    if (dropRows > 0)
        removeBlocks(0, dropRows);

    const std::size_t first = update.firstChanged;
    std::string text;
    if (update.kept > 0 && rows_.size() == first + 1 && update.kept <= all[first].size()) {
        // The line the view shows last has grown: cut its oldest rows if the scrollback
        // dropped them, and append only the new text.
        if (update.cutRows > 0) {
            const int start = doc->blockCount() - rows_.back();
            removeBlocks(start, start + static_cast<int>(update.cutRows));
            rows_.back() -= static_cast<int>(update.cutRows);
        }
        const std::string_view added = std::string_view(all[first]).substr(update.kept);
        rows_.back() += rowsOf(added) - 1;
        text.assign(added);
        cur.setPosition(doc->characterCount() - 1);
    } else {
        // Show line `first` anew, in place of what the view has from there on.
        int rows = 0;
        while (rows_.size() > first) {
            rows += rows_.back();
            rows_.pop_back();
        }
        if (rows_.empty()) {
            cur.select(QTextCursor::Document);
        } else if (rows == 0) {
            cur.setPosition(doc->characterCount() - 1);  // a line the view never had
            text += '\n';
        } else {
            cur.setPosition(doc->findBlockByNumber(doc->blockCount() - rows).position());
            cur.setPosition(doc->characterCount() - 1, QTextCursor::KeepAnchor);
        }
        text += all[first];
        rows_.push_back(rowsOf(all[first]));
    }
    for (std::size_t i = first + 1; i < all.size(); ++i) {
        text += '\n';
        text += all[i];
        rows_.push_back(rowsOf(all[i]));
    }
    QString q = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    keepBlocksToLf(q);
    cur.insertText(q);
    cur.endEditBlock();

    // While the user holds a selection (to copy it) the view stays where it is; it
    // follows the output again once the selection is gone.
    if (textCursor().hasSelection())
        return;
    QTextCursor caret(doc);
    caret.setPosition(doc->characterCount() - 1);
    setTextCursor(caret);
    ensureCursorVisible();
}
