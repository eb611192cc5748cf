#include "FindBar.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextCursor>

#include <string_view>

#include "OutputView.h"
#include "TextFinder.h"
#include "cp932.h"
#include "qtext.h"

namespace {

QString ui(const char* utf8) { return toQ(cp932::sj(utf8)); }

std::u16string_view unitsOf(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

} // namespace

FindBar::FindBar(OutputView* view, QWidget* parent) : QToolBar(parent), view_(view) {
    setObjectName("FindBar1");
    setMovable(false);
    setFloatable(false);
    addWidget(new QLabel(ui("検索:"), this));
    field_ = new QLineEdit(this);
    field_->setObjectName("FindField");
    addWidget(field_);
    answer_ = new QLabel(this);
    addWidget(answer_);
    field_->installEventFilter(this);
    connect(field_, &QLineEdit::textEdited, answer_, &QLabel::clear);
    hide();
}

void FindBar::open() {
    show();
    field_->setFocus();
    field_->selectAll();
}

void FindBar::close() {
    hide();
    answer_->clear();
    view_->setFocus();
}

QString FindBar::answer() const { return answer_->text(); }

bool FindBar::find(bool backward) {
    view_->flush();  // all that has arrived
    const QString text = view_->shownText();
    const QTextCursor sel = view_->textCursor();
    std::size_t from = 0;
    if (sel.hasSelection())
        from = static_cast<std::size_t>(view_->logicalPosition(sel.selectionStart())) + (backward ? 0 : 1);
    else if (backward)
        from = static_cast<std::size_t>(text.size());
    const QString needle = field_->text();
    const auto found = findText(unitsOf(text), unitsOf(needle), from, backward);
    if (!found) {
        answer_->setText(needle.isEmpty() ? QString() : ui("見つかりません"));
        return false;
    }
    answer_->clear();
    QTextCursor c(view_->document());
    c.setPosition(view_->documentPosition(static_cast<int>(found->at)));
    c.setPosition(view_->documentPosition(static_cast<int>(found->at + found->length)), QTextCursor::KeepAnchor);
    view_->setTextCursor(c);
    view_->ensureCursorVisible();
    return true;
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        const auto* k = static_cast<QKeyEvent*>(event);
        const bool shift = k->modifiers() & Qt::ShiftModifier;
        switch (k->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: find(shift); return true;
        case Qt::Key_F3: find(shift); return true;
        case Qt::Key_Escape: close(); return true;
        default: break;
        }
    }
    return QToolBar::eventFilter(watched, event);
}
