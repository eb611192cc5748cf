#pragma once
// The preview before a paste is sent: the text in an editor, to be changed before it goes
// ("送信" or Ctrl+Enter sends, "キャンセル" sends nothing). A text too large to edit is
// shown as its size and line count only, and goes as it is.
#include <QDialog>

#include <cstddef>

class QPlainTextEdit;

class PastePreview : public QDialog {
public:
    static constexpr std::size_t kEditLimit = 1024 * 1024;

    // bytes and lines: the size of the text as it would be sent.
    PastePreview(const QString& text, std::size_t bytes, std::size_t lines, QWidget* parent = nullptr);
    // The text to send: as edited, or as given when it was too large to edit.
    QString text() const;
    QPlainTextEdit* editor() const { return editor_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString text_;
    QPlainTextEdit* editor_ = nullptr;
};
