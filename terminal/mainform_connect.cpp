// "接続先...": choosing the host from the window, the hosts connected to before, and the
// hint in the idle window. Kept apart from the connection logic of mainform.cpp.
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>

#include <cstdio>
#include <cstdlib>

#include "IniFile.h"
#include "OutputView.h"
#include "cp932.h"
#include "guardedapp.h"
#include "mainform.h"
#include "qtext.h"

namespace {

QString ui(const char* utf8) { return toQ(cp932::sj(utf8)); }

} // namespace

void TqTermMain::setUpConnectTo() {
    settingsPath_ = qtermSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    std::string text;
    if (!settingsPath_.empty() && IniFile(settingsPath_).load(text) == IniFile::Load::Read)
        history_ = HostHistory::fromIni(text);

    askConnectTo = [this](const std::vector<HostPort>& history,
                          const ConnectChoice& current) -> std::optional<ConnectChoice> {
        ConnectDialog dialog(history, current, this);
        if (ask(dialog) != QDialog::Accepted)
            return std::nullopt;
        return dialog.choice();
    };
    confirmSwitchHost = [this](const QString& host) {
        QMessageBox box(QMessageBox::Question, ui("接続先"),
                        ui("%1 との接続を切断して、新しい接続先に接続しますか?").arg(host),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return ask(box) == QMessageBox::Yes;
    };

    // First of the window's own items, right after the separator below "&Disconnect".
    ConnectTo1 = new QAction(ui("接続先..."), this);
    ConnectTo1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    ConnectTo1->setShortcutContext(Qt::WidgetShortcut);  // the key itself: featureKey
    const QList<QAction*> items = PopupMenu1->actions();
    const qsizetype after = items.indexOf(Disconnect1) + 2;  // past its separator
    if (after < items.size()) {
        PopupMenu1->insertAction(items[after], ConnectTo1);
        PopupMenu1->insertSeparator(items[after]);
    } else {
        PopupMenu1->addAction(ConnectTo1);
    }
    connect(ConnectTo1, &QAction::triggered, this, [this] { reportingErrors([this] { ConnectTo1Click(); }); });

    if (args_.host.empty()) {
        Memo1->setPlaceholderText(ui("右クリックメニューの「接続先...」(Ctrl+Shift+N) で接続先を指定してください。"));
        QPalette pal = Memo1->palette();
        pal.setColor(QPalette::PlaceholderText, Qt::gray);
        Memo1->setPalette(pal);
    }
}

void TqTermMain::ConnectTo1Click() {
    const ConnectChoice current{{fromQ(edtServer->text()), spnedtPort->value()}, encoding_};
    const std::optional<ConnectChoice> choice = askConnectTo(history_.entries(), current);
    if (!choice)
        return;
    if (IdTelnetDemo.IsConnected()) {
        if (!confirmSwitchHost(toQ(hostPortText({IdTelnetDemo.Host, IdTelnetDemo.Port}))))
            return;
        // The window stays for the next host; a reader still ending the old session is
        // told apart by the count.
        ++session_;
        switchingHost_ = true;
        endSession();
        try {
            IdTelnetDemo.CloseConnection();
        } catch (...) {
            switchingHost_ = false;
            throw;
        }
        switchingHost_ = false;
    }
    if (choice->encoding != encoding_)
        setEncoding(choice->encoding);
    edtServer->setText(toQ(choice->target.host));
    spnedtPort->setValue(choice->target.port);
    connectFromFields();
}

void TqTermMain::recordHost() {
    Memo1->setPlaceholderText(QString());
    const HostPort target{IdTelnetDemo.Host, IdTelnetDemo.Port};
    if (target.host.empty())
        return;
    history_.add(target);
    if (settingsPath_.empty())
        return;
    // One save at a time; the one before is long done by the next connect.
    if (historySave_.joinable())
        historySave_.join();
    historySave_ = std::thread([path = settingsPath_, target] {
        if (!recordHostInHistory(path, target))
            std::fprintf(stderr, "qterm: %s cannot be written; the connection history is not saved\n", path.c_str());
    });
}
