#include "Dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

#include "cp932.h"
#include "qtext.h"

namespace {

QString shown(const std::string& text) {
    QString q = toQ(text);
    q.replace(QChar('\r'), QChar('\n'));
    return q;
}

class QtDialogs : public Dialogs {
public:
    void information(const std::string& title, const std::string& text) override {
        QMessageBox box(QMessageBox::Information, toQ(title), shown(text), QMessageBox::Ok);
        box.exec();
    }
    void warning(const std::string& title, const std::string& text) override {
        QMessageBox box(QMessageBox::Warning, toQ(title), shown(text), QMessageBox::Ok);
        box.exec();
    }
    bool prompt(const std::string& title, const std::string& label, std::string& text) override {
        QInputDialog dialog;
        dialog.setWindowTitle(toQ(title));
        dialog.setLabelText(toQ(label));
        dialog.setTextValue(QString());
        dialog.setOkButtonText("OK");
        dialog.setCancelButtonText(toQ(cp932::fromUtf8("キャンセル")));
        if (dialog.exec() != QDialog::Accepted)
            return false;
        text = fromQ(dialog.textValue());
        return true;
    }
};

}  // namespace

std::unique_ptr<Dialogs> qtDialogs() { return std::make_unique<QtDialogs>(); }
