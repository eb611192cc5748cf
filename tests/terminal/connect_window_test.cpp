// "接続先..." in the window, offscreen against loopback hosts: the real dialog driven as a
// user would, the question before a connected session is left for another host, the
// history it offers and keeps, and the hint of the idle window.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ConnectDialog.h"
#include "IniFile.h"
#include "OutputView.h"
#include "cp932.h"
#include "mainform.h"
#include "qtext.h"
#include "scratch.h"
#include "test_host.h"
#include "../finder/files.h"  // whole-file reads

namespace fs = std::filesystem;
using cp932::sj;

namespace {

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

// A settings folder of the test's own; ini, when given, is its qterm.ini.
struct Settings {
    TempDir dir;
    EnvVar xdg{"XDG_CONFIG_HOME", dir.path.string()};
    fs::path ini() const { return dir.path / "qterm" / "qterm.ini"; }
    explicit Settings(const std::string& text = {}) {
        if (text.empty())
            return;
        fs::create_directories(ini().parent_path());
        std::ofstream(ini()) << text;
    }
    std::string history(int key) const {
        return IniFile(ini().string()).read("history", std::to_string(key), "");
    }
};

ConnectDialog* openDialog() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<ConnectDialog*>(top); d && d->isVisible())
            return d;
    return nullptr;
}

// Answers the dialog once it opens: act fills it in, then OK (or Cancel) is clicked.
void answerDialog(const std::function<void(ConnectDialog&)>& act, bool ok = true) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act, ok] {
        ConnectDialog* d = openDialog();
        if (!d)
            return;
        poll->stop();
        poll->deleteLater();
        act(*d);
        d->buttons()->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    poll->start(10);
}

// Types one key into the text area and waits for the host to have it.
bool typedReaches(TqTermMain& w, TestHost& host, Qt::Key key, const std::string& expected) {
    QTest::keyClick(w.Memo1, key);
    return host.receive(expected.size()) == expected;
}

} // namespace

// Started without a host the window waits with a hint to the menu item, opens no dialog of
// its own, and offers the item with its key among its Japanese items.
TEST(QtermConnectTo, IdleWindowPointsToTheMenuItem) {
    Settings settings;
    TqTermMain w(std::vector<std::string>{});
    ASSERT_TRUE(w.FormShow());
    w.show();
    QTest::qWait(50);
    EXPECT_EQ(openDialog(), nullptr);
    EXPECT_TRUE(w.Memo1->placeholderText().contains(toQ(sj("「接続先...」"))));
    EXPECT_EQ(w.statusText(), "");
    EXPECT_EQ(w.ConnectTo1->text(), toQ(sj("接続先...")));
    EXPECT_EQ(w.ConnectTo1->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    const QList<QAction*> items = w.PopupMenu1->actions();
    const qsizetype at = items.indexOf(w.ConnectTo1);
    ASSERT_GT(at, items.indexOf(w.Disconnect1));
    EXPECT_TRUE(items[at - 1]->isSeparator());

    TestHost host;
    TqTermMain connected(std::vector<std::string>{"127.0.0.1", host.port()});
    EXPECT_TRUE(connected.Memo1->placeholderText().isEmpty());
}

// Ctrl+Shift+N, the dialog filled in and OK: the hidden fields take host and port, the
// session speaks the chosen encoding, typed keys reach the host, and the host is the first
// of the history. A cancelled dialog does nothing.
TEST(QtermConnectTo, DialogConnectsToTheHostChosen) {
    ErrorBoxes boxes;
    Settings settings;
    TestHost host;
    {
        TqTermMain w(std::vector<std::string>{});
        ASSERT_TRUE(w.FormShow());
        w.show();
        answerDialog([](ConnectDialog& d) { d.hostField()->setEditText("127.0.0.1"); }, false);
        QTest::keyClick(w.Memo1, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_FALSE(w.telnet().IsConnected());
        EXPECT_EQ(w.statusText(), "");

        answerDialog([&](ConnectDialog& d) {
            EXPECT_EQ(d.portField()->value(), 23);
            EXPECT_EQ(d.portField()->minimum(), 1);
            EXPECT_EQ(d.portField()->maximum(), 65535);
            EXPECT_EQ(d.hostField()->count(), 0);
            EXPECT_FALSE(d.buttons()->button(QDialogButtonBox::Ok)->isEnabled());  // no host yet
            d.hostField()->setEditText("127.0.0.1");
            d.portField()->setValue(std::stoi(host.port()));
            d.encodingField()->setCurrentIndex(d.encodingField()->findText("UTF-8"));
        });
        QTest::keyClick(w.Memo1, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_TRUE(waitFor([&] { return w.statusText() == "Connected"; }));
        EXPECT_EQ(w.edtServer->text(), "127.0.0.1");
        EXPECT_EQ(w.spnedtPort->value(), std::stoi(host.port()));
        EXPECT_EQ(w.encoding(), Encoding::Utf8);
        EXPECT_TRUE(w.Memo1->placeholderText().isEmpty());
        EXPECT_TRUE(typedReaches(w, host, Qt::Key_A, "a"));
        host.send("hello\r\n");
        EXPECT_TRUE(waitFor([&] { return w.Memo1->toPlainText() == "hello\n"; }));
        ASSERT_EQ(w.hostHistory().entries().size(), 1u);
    }
    EXPECT_EQ(settings.history(1), "127.0.0.1:" + host.port());
    EXPECT_EQ(settings.history(2), "");
    EXPECT_TRUE(boxes.shown.empty());
}

// While connected the window asks first. No: the session goes on. Yes: it ends, the window
// stays, and the next host takes the keys; the history has both, the newer first.
TEST(QtermConnectTo, ConnectedSessionIsLeftOnlyAfterYes) {
    ErrorBoxes boxes;
    Settings settings;
    TestHost first, second;
    {
        TqTermMain w(std::vector<std::string>{"127.0.0.1", first.port()});
        std::vector<QString> asked;
        bool answer = false;
        w.confirmSwitchHost = [&](const QString& host) {
            asked.push_back(host);
            return answer;
        };
        w.askConnectTo = [&](const std::vector<HostPort>&, const ConnectChoice& current) {
            EXPECT_EQ(current.target, (HostPort{"127.0.0.1", std::stoi(first.port())}));
            return std::optional<ConnectChoice>({{"127.0.0.1", std::stoi(second.port())}, Encoding::Cp932});
        };
        ASSERT_TRUE(w.FormShow());
        w.show();
        ASSERT_TRUE(typedReaches(w, first, Qt::Key_A, "a"));

        w.ConnectTo1->trigger();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0], QString::fromStdString("127.0.0.1:" + first.port()));
        EXPECT_TRUE(w.telnet().IsConnected());
        ASSERT_TRUE(typedReaches(w, first, Qt::Key_B, "ab"));

        answer = true;
        w.ConnectTo1->trigger();
        ASSERT_EQ(asked.size(), 2u);
        ASSERT_TRUE(waitFor([&] { return w.statusText() == "Connected"; }));
        EXPECT_EQ(w.spnedtPort->value(), std::stoi(second.port()));
        EXPECT_TRUE(typedReaches(w, second, Qt::Key_C, "c"));
        QTest::qWait(50);  // the first host's end of the old session must not close the window
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(first.received(), "ab");
    }
    EXPECT_EQ(settings.history(1), "127.0.0.1:" + second.port());
    EXPECT_EQ(settings.history(2), "127.0.0.1:" + first.port());
    EXPECT_TRUE(boxes.shown.empty());
}

// The drop-down offers the file's entries newest first, without the bad ones; picking one
// puts its port in the port field. A host typed as host:port gives both.
TEST(QtermConnectTo, DialogOffersTheHistory) {
    Settings settings("[history]\n1=newest.example:2323\n2=bad entry:23\n3=10.0.0.5:23\n4=:23\n5=x:0\n"
                      "6=NEWEST.example:2323\n7=old.example:99999\n");
    TqTermMain w(std::vector<std::string>{});
    ASSERT_TRUE(w.FormShow());
    std::vector<HostPort> offered;
    std::optional<ConnectChoice> picked, typed;
    w.askConnectTo = [&](const std::vector<HostPort>& history, const ConnectChoice& current) {
        offered = history;
        ConnectDialog d(history, current);
        d.hostField()->setCurrentIndex(1);
        emit d.hostField()->activated(1);
        picked = d.choice();
        d.hostField()->setEditText("typed.example:8023");
        typed = d.choice();
        return std::optional<ConnectChoice>();
    };
    w.ConnectTo1->trigger();
    const std::vector<HostPort> expected = {{"newest.example", 2323}, {"10.0.0.5", 23}};
    EXPECT_EQ(offered, expected);
    ASSERT_TRUE(picked && typed);
    EXPECT_EQ(picked->target, (HostPort{"10.0.0.5", 23}));
    EXPECT_EQ(typed->target, (HostPort{"typed.example", 8023}));
    EXPECT_FALSE(w.telnet().IsConnected());
}

// A history that cannot be saved is said on stderr, once per connect; the session goes on.
TEST(QtermConnectTo, UnsavedHistoryIsReported) {
    Settings settings;
    fs::create_directories(settings.ini());  // a folder where the file should be
    TestHost host;
    char errPath[] = "/tmp/qterm-stderr-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    ASSERT_GE(errFd, 0);
    const int saved = ::dup(2);
    ::dup2(errFd, 2);
    {
        TqTermMain w(std::vector<std::string>{"127.0.0.1", host.port()});
        EXPECT_TRUE(w.FormShow());
        EXPECT_TRUE(typedReaches(w, host, Qt::Key_A, "a"));
    }
    ::dup2(saved, 2);
    ::close(saved);
    ::close(errFd);
    const std::string err = bytesOf(errPath);
    ::unlink(errPath);
    EXPECT_NE(err.find("qterm: " + settings.ini().string() +
                       " cannot be written; the connection history is not saved\n"),
              std::string::npos)
        << err;
}
