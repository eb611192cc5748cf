// The terminal window offscreen against scripted servers on loopback.
#include <gtest/gtest.h>

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <atomic>
#include <future>
#include <memory>

#include "LoopbackServer.h"
#include "OutputView.h"
#include "guardedapp.h"
#include "mainform.h"

using namespace std::chrono_literals;

namespace {

// Errors the application would show in its error box.
struct ErrorBox {
    std::vector<std::string> shown;
    ErrorBox() {
        app()->setErrorSink([this](const std::string& m) { shown.push_back(m); });
    }
    ~ErrorBox() { app()->setErrorSink([](const std::string& m) { ADD_FAILURE() << "error box: " << m; }); }
    static GuardedApplication* app() { return static_cast<GuardedApplication*>(QCoreApplication::instance()); }
};

std::vector<std::string> args(std::initializer_list<std::string> a) { return a; }

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

template <class T>
bool ready(std::future<T>& f) {
    return waitFor([&] { return f.wait_for(0s) == std::future_status::ready; });
}

// A server that keeps the connection open until the test is done with it.
struct HeldServer {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::unique_ptr<LoopbackServer> server;
    explicit HeldServer(std::function<void(int)> before = nullptr) {
        server = std::make_unique<LoopbackServer>([this, before](int fd) {
            if (before)
                before(fd);
            released.wait();
        });
    }
    ~HeldServer() {
        release.set_value();
        server.reset();
    }
    std::string port() const { return std::to_string(server->Port()); }
};

} // namespace

TEST(QtermWindow, StartUpConnectsBeforeShowing) {
    ErrorBox box;
    HeldServer server;
    TqTermMain w(args({"127.0.0.1", server.port()}));
    EXPECT_EQ(w.windowTitle(), "qTerm");
    EXPECT_EQ(w.spnedtPort->value(), server.server->Port());
    EXPECT_TRUE(w.edtServer->isHidden());
    EXPECT_TRUE(w.spnedtPort->isHidden());
    EXPECT_EQ(w.statusText(), "");
    ASSERT_TRUE(w.FormShow());
    EXPECT_FALSE(w.isVisible());  // connected before the window appears
    EXPECT_EQ(w.statusText(), "Connected");
    EXPECT_TRUE(w.telnet().IsConnected());
    EXPECT_EQ(w.telnet().Port, server.server->Port());
    EXPECT_EQ(w.telnet().RecvBufferSize(), 8192);
    EXPECT_EQ(w.telnet().Terminal, "dumb");
    // The two items come first; the menu's later items follow a separator.
    ASSERT_GE(w.PopupMenu1->actions().size(), 2);
    EXPECT_EQ(w.PopupMenu1->actions()[0]->text(), "&Connect");
    EXPECT_EQ(w.PopupMenu1->actions()[1]->text(), "&Disconnect");
    if (w.PopupMenu1->actions().size() > 2) {
        EXPECT_TRUE(w.PopupMenu1->actions()[2]->isSeparator());
    }
}

TEST(QtermWindow, PortArguments) {
    struct Case {
        std::vector<std::string> a;
        int port;
        QString host;
    };
    const Case cases[] = {
        {{"h", "0"}, 1, "h"},
        {{"h", "99999"}, 65535, "h"},
        {{"h", "abc"}, 23, "h"},
        {{"h"}, 23, "h"},
        {{"", "2323"}, 23, ""},
    };
    for (const Case& c : cases) {
        TqTermMain w(c.a);
        EXPECT_EQ(w.spnedtPort->value(), c.port);
        EXPECT_EQ(w.edtServer->text(), c.host);
    }
}

// Without a host the window stays idle; "&Connect" then tries the empty host on port 23,
// and its failure closes the window and reaches the error box.
TEST(QtermWindow, NoArgumentsStaysIdle) {
    ErrorBox box;
    TqTermMain w(args({"", "2323"}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    EXPECT_EQ(w.statusText(), "");
    EXPECT_FALSE(w.telnet().IsConnected());
    QTest::keyClicks(w.Memo1, "x\r");  // typing while idle sends nothing and inserts nothing
    EXPECT_EQ(w.Memo1->toPlainText(), "");
    QMetaObject::invokeMethod(w.Connect1, &QAction::trigger, Qt::QueuedConnection);
    ASSERT_TRUE(waitFor([&] { return !box.shown.empty(); }));
    EXPECT_EQ(box.shown, std::vector<std::string>{"server not responding"});
    EXPECT_EQ(w.telnet().Host, "");
    EXPECT_EQ(w.telnet().Port, 23);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.statusText(), "Connect");
}

TEST(QtermWindow, FailedStartUpClosesSilently) {
    ErrorBox box;
    for (std::string host : {std::string("127.0.0.1"), std::string("no-such-host.invalid")}) {
        TqTermMain w(args({host, std::to_string(UnusedPort())}));
        EXPECT_FALSE(w.FormShow()) << host;
        EXPECT_EQ(w.startError(), "server not responding");
        EXPECT_FALSE(w.isVisible());
        QTest::qWait(20);
    }
    EXPECT_TRUE(box.shown.empty());
}

TEST(QtermWindow, ConnectWhileConnectedKeepsTheConnection) {
    ErrorBox box;
    std::promise<std::string> typed;
    HeldServer server([&](int fd) { typed.set_value(ReadExactly(fd, 1)); });
    TqTermMain w(args({"127.0.0.1", server.port()}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    QMetaObject::invokeMethod(w.Connect1, &QAction::trigger, Qt::QueuedConnection);
    ASSERT_TRUE(waitFor([&] { return !box.shown.empty(); }));
    EXPECT_EQ(box.shown, std::vector<std::string>{"Already connected."});
    EXPECT_EQ(w.statusText(), "Connect");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.telnet().IsConnected());
    QTest::keyClick(w.Memo1, Qt::Key_Q);
    auto f = typed.get_future();
    ASSERT_TRUE(ready(f));
    EXPECT_EQ(f.get(), "q");
}

// Opening the context menu only shows it: the open connection is not touched.
TEST(QtermWindow, ContextMenuDoesNotReconnect) {
    ErrorBox box;
    HeldServer server;
    TqTermMain w(args({"127.0.0.1", server.port()}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(10, 10), w.Memo1->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(w.Memo1, &ev);
    ASSERT_TRUE(waitFor([&] { return w.PopupMenu1->isVisible(); }));
    w.PopupMenu1->hide();
    QTest::qWait(20);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.telnet().IsConnected());
    EXPECT_TRUE(box.shown.empty());
}

TEST(QtermWindow, DisconnectClosesTheWindow) {
    ErrorBox box;
    {
        TqTermMain idle(args({}));
        idle.show();
        idle.Disconnect1->trigger();
        EXPECT_FALSE(idle.isVisible());
    }
    HeldServer server;
    TqTermMain w(args({"127.0.0.1", server.port()}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    w.Disconnect1->trigger();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.telnet().IsConnected());
}

// The peer's close is noticed on the reader thread; the window closes on its own thread
// and, being the last window, ends the program.
TEST(QtermWindow, PeerCloseEndsTheProgram) {
    ErrorBox box;
    LoopbackServer server([](int fd) { SendAll(fd, "bye\r\n"); });
    TqTermMain w(args({"127.0.0.1", std::to_string(server.Port())}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    QTimer hang;  // a hang fails the test instead of blocking it
    hang.setSingleShot(true);
    QObject::connect(&hang, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    hang.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.Memo1->toPlainText(), "bye\n");
}

// Typed keys reach the server byte for byte and nothing is inserted into the view.
TEST(QtermWindow, TypedCharactersReachTheServer) {
    ErrorBox box;
    const std::string expected = std::string("ab\r\n\x08\x1b\x03\x1a", 8) + "\x93\xfa\x96\x7b" + "!";
    std::promise<std::string> got;
    HeldServer server([&](int fd) { got.set_value(ReadExactly(fd, expected.size())); });
    TqTermMain w(args({"127.0.0.1", server.port()}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    QTest::keyClicks(w.Memo1, "ab");
    QTest::keyClick(w.Memo1, Qt::Key_Return);
    QTest::keyClick(w.Memo1, Qt::Key_Tab);
    QTest::keyClick(w.Memo1, Qt::Key_Left);
    QTest::keyClick(w.Memo1, Qt::Key_F1);
    QTest::keyClick(w.Memo1, Qt::Key_Backspace);
    QTest::keyClick(w.Memo1, Qt::Key_Escape);
    QTest::keyClick(w.Memo1, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(w.Memo1, Qt::Key_Z, Qt::ControlModifier);
    QInputMethodEvent im;
    im.setCommitString(QString::fromUtf8("日本"));
    QCoreApplication::sendEvent(w.Memo1, &im);
    QTest::keyClick(w.Memo1, Qt::Key_Exclam, Qt::NoModifier);
    auto f = got.get_future();
    ASSERT_TRUE(ready(f));
    EXPECT_EQ(f.get(), expected);
    EXPECT_EQ(w.Memo1->toPlainText(), "");
}

// The host's text, line by line: the view decodes whole lines, hides NUL, shows a split
// double-byte character as one, and follows the output.
TEST(QtermWindow, ShowsReceivedLines) {
    ErrorBox box;
    std::promise<void> allSent;
    HeldServer server([&](int fd) {
        SendAll(fd, "line1\r\nab\x82");
        std::this_thread::sleep_for(50ms);  // the character's second byte comes later
        SendAll(fd, std::string("\xa0\r\nx\r\0y", 7));
        allSent.set_value();
    });
    TqTermMain w(args({"127.0.0.1", server.port()}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    const QString want = QString::fromUtf8("line1\nabあ\nx\ny");
    ASSERT_TRUE(waitFor([&] { return w.Memo1->toPlainText() == want; })) << w.Memo1->toPlainText().toStdString();
    EXPECT_TRUE(w.Memo1->textCursor().atEnd());
}

// A long stream keeps only the newest lines, whole, and the view matches them exactly
// however the chunks fell.
TEST(QtermWindow, ScrollbackKeepsNewestLines) {
    ErrorBox box;
    std::promise<void> allSent;
    HeldServer server([&](int fd) {
        std::string all;
        for (int i = 0; i < 20000; ++i)
            all += "L" + std::to_string(i) + "\r\n";
        SendAll(fd, all);
        allSent.set_value();
    });
    TqTermMain w(args({"127.0.0.1", server.port()}));
    ASSERT_TRUE(w.FormShow());
    w.show();
    QTextDocument* doc = w.Memo1->document();
    ASSERT_TRUE(waitFor([&] {
        return !w.outputPending() && doc->blockCount() > 1 &&
               doc->findBlockByNumber(doc->blockCount() - 2).text() == "L19999";
    }));
    const int kept = static_cast<int>(LineAssembly::kDefaultLineLimit);
    EXPECT_EQ(doc->blockCount(), kept);
    EXPECT_EQ(doc->firstBlock().text().toStdString(), "L" + std::to_string(20000 - kept + 1));
    EXPECT_EQ(doc->lastBlock().text(), "");
    EXPECT_EQ(w.Memo1->shownLines(), kept);
}
