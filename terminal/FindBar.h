#pragma once
// The find bar under the text: a field, and the answer when there is no match. Enter or
// F3 finds the next match, Shift+F3 the previous one; the match is selected in the view.
// Escape closes the bar. Keys typed in it stay in it. The matching is findText's.
#include <QToolBar>

class OutputView;
class QLabel;
class QLineEdit;

class FindBar : public QToolBar {
public:
    FindBar(OutputView* view, QWidget* parent);

    // Shows the bar with the field focused and its text selected.
    void open();
    void close();
    // Selects the next (or previous) match; false, and says so, when there is none.
    bool find(bool backward = false);

    QLineEdit* field() const { return field_; }
    QString answer() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    OutputView* view_;
    QLineEdit* field_;
    QLabel* answer_;
};
