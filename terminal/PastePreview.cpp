#include "PastePreview.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "cp932.h"
#include "qtext.h"

namespace {

QString ui(const char* utf8) { return toQ(cp932::sj(utf8)); }

// Digits in groups of three, as sizes are read everywhere.
QString count(std::size_t n) { return QLocale(QLocale::English).toString(qulonglong(n)); }

} // namespace

PastePreview::PastePreview(const QString& text, std::size_t bytes, std::size_t lines, QWidget* parent)
    : QDialog(parent), text_(text) {
    setWindowTitle(ui("貼り付け"));
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* send = buttons->addButton(ui("送信"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(ui("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    const QString size = ui("%1 バイト、%2 行").arg(count(bytes), count(lines));
    if (bytes > kEditLimit) {
        // Nothing to read in an editor at this size; an accidental Enter must not send it.
        auto* label = new QLabel(ui("%1 のテキストを貼り付けて送信しますか?\n大きいため内容は表示しません。").arg(size), this);
        layout->addWidget(label);
        cancel->setDefault(true);
        cancel->setFocus();
    } else {
        auto* label = new QLabel(ui("送信するテキスト (%1)。送信前に書き換えられます。Ctrl+Enter で送信します。").arg(size), this);
        editor_ = new QPlainTextEdit(text, this);
        editor_->setAccessibleName(ui("送信するテキスト"));
        editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
        editor_->installEventFilter(this);
        label->setBuddy(editor_);
        layout->addWidget(label);
        layout->addWidget(editor_);
        send->setDefault(true);
        resize(640, 400);
        editor_->setFocus();
    }
    layout->addWidget(buttons);
}

QString PastePreview::text() const { return editor_ ? editor_->toPlainText() : text_; }

bool PastePreview::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & Qt::ControlModifier)) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
