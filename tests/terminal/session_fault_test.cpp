// The terminal window against hosts that fail the way real ones do: a reset in the middle of
// a stream, a half-close, a host that never says anything, one that floods and never reads.
// Nothing may hang, nothing received before the fault may be missing from the view, and the
// window (and what the program's exit status is made from) must tell what happened.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QStatusBar>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QTextBlock>
#include <QTextDocument>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "OutputView.h"
#include "guardedapp.h"
#include "mainform.h"
#include "../waituntil.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Errors the application would show in its error box; none is expected here.
struct NoErrorBox {
    NoErrorBox() { app()->setErrorSink([](const std::string& m) { ADD_FAILURE() << "error box: " << m; }); }
    static GuardedApplication* app() { return static_cast<GuardedApplication*>(QCoreApplication::instance()); }
};

// Waits until everything sent on fd has been taken by the peer's kernel.
void AwaitSent(int fd) {
    for (int i = 0; i < 1000; ++i) {
        int queued = 0;
        if (::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued == 0)
            return;
        std::this_thread::sleep_for(5ms);
    }
}

// Lines "line NNNNNNN", padded with dots to width bytes before their CR LF.
std::string numberedLines(int first, int count, std::size_t width = 12) {
    std::string s;
    char number[32];
    for (int i = first; i < first + count; ++i) {
        std::snprintf(number, sizeof number, "line %07d", i);
        std::string line = number;
        line.resize(std::max(width, line.size()), '.');
        s += line + "\r\n";
    }
    return s;
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

} // namespace

// A reset after 2000 lines and a partial one: every line is in the view, the partial one
// too, and the window closes with the reset as the reason (exit status 1).
TEST(QtermSessionFault, ResetInTheMiddleOfAStream) {
    NoErrorBox box;
    const std::string stream = numberedLines(0, 2000) + "partial";
    std::promise<Clock::time_point> resetAt;
    std::promise<void> connected;
    LoopbackServer server([&](int fd) {
        connected.get_future().wait();  // a reset before the connect is done is another case
        for (std::size_t at = 0; at < stream.size(); at += 4096)
            SendAll(fd, stream.substr(at, 4096));
        AwaitSent(fd);
        SetResetOnClose(fd);
        resetAt.set_value(Clock::now());
    });
    TqTermMain w({"127.0.0.1", std::to_string(server.Port())});
    const bool up = w.FormShow();
    connected.set_value();
    ASSERT_TRUE(up);
    w.show();
    ASSERT_TRUE(waitUntil([&] { return !w.isVisible(); })) << "the window stayed open after the reset";
    const auto closedAt = Clock::now();
    const QString shown = w.Memo1->toPlainText();
    EXPECT_EQ(w.lostError(), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_FALSE(w.telnet().IsConnected());
    QString expected = QString::fromLatin1(stream.c_str()).replace("\r\n", "\n");
    EXPECT_EQ(shown, expected);
    std::printf("reset mid-stream: closed %.1f ms after the reset, %lld of %zu bytes kept\n",
                std::chrono::duration<double, std::milli>(closedAt - resetAt.get_future().get()).count(),
                static_cast<long long>(shown.size() + shown.count('\n')), stream.size());  // LF was CR LF
}

// The host shuts its sending side and keeps reading: that is the end of the session. The
// window closes as after a close (no reason, exit 0), its last words shown, and the host
// sees qterm's close instead of waiting for ever.
TEST(QtermSessionFault, HalfCloseEndsTheSessionCleanly) {
    NoErrorBox box;
    std::promise<double> hostSawClose;
    LoopbackServer server([&](int fd) {
        SendAll(fd, "last words\r\nno newline");
        ::shutdown(fd, SHUT_WR);
        const auto t = Clock::now();
        ReadUntilClosed(fd);
        hostSawClose.set_value(secondsSince(t));
    });
    TqTermMain w({"127.0.0.1", std::to_string(server.Port())});
    ASSERT_TRUE(w.FormShow());
    w.show();
    ASSERT_TRUE(waitUntil([&] { return !w.isVisible(); }));
    EXPECT_EQ(w.Memo1->toPlainText(), "last words\nno newline");
    EXPECT_EQ(w.lostError(), "");
    auto f = hostSawClose.get_future();
    ASSERT_TRUE(waitUntil([&] { return f.wait_for(0s) == std::future_status::ready; }));
    std::printf("half-close: the host saw qterm's close after %.1f ms\n", f.get() * 1000);
}

// A host that accepts and never sends: the window stays connected and keeps working (a key
// reaches the host), and the user's Disconnect still ends it at once.
TEST(QtermSessionFault, SilentHostKeepsTheWindowUsable) {
    NoErrorBox box;
    std::promise<std::string> got;
    LoopbackServer server([&](int fd) {
        std::string typed = ReadExactly(fd, 1);
        typed += ReadUntilClosed(fd);
        got.set_value(typed);
    });
    TqTermMain w({"127.0.0.1", std::to_string(server.Port())});
    ASSERT_TRUE(w.FormShow());
    w.show();
    QTest::qWait(500);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.statusText(), "Connected");
    QTest::keyClick(w.Memo1, Qt::Key_K);
    w.Disconnect1->trigger();
    EXPECT_FALSE(w.isVisible());
    auto f = got.get_future();
    ASSERT_TRUE(waitUntil([&] { return f.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(f.get(), "k");
    EXPECT_EQ(w.lostError(), "");
}

// 10 MB with telnet requests among the lines, from a host that never reads qterm's replies:
// the stream arrives whole and in order (its last lines are the view's last lines), the
// window stays connected, and the user can still disconnect.
TEST(QtermSessionFault, FloodFromAHostThatNeverReads) {
    NoErrorBox box;
    constexpr int kWidth = 78;  // a console's 80 columns, CR LF included
    const int lines = 10 * 1024 * 1024 / (kWidth + 2);
    std::promise<void> release;
    LoopbackServer server([&](int fd) {
        for (int first = 0; first < lines; first += 1000)
            SendAll(fd, "\xff\xfb\x01" + numberedLines(first, std::min(1000, lines - first), kWidth));  // WILL ECHO each time
        release.get_future().wait();  // still not reading
    });
    TqTermMain w({"127.0.0.1", std::to_string(server.Port())});
    ASSERT_TRUE(w.FormShow());
    w.show();
    const auto start = Clock::now();
    const QString last = QString::fromLatin1(numberedLines(lines - 1, 1, kWidth).c_str()).chopped(2);
    auto lastShownLine = [&] {
        QTextBlock b = w.Memo1->document()->lastBlock();  // the empty line after the last break
        return b.previous().text();
    };
    const bool whole = waitUntil([&] { return lastShownLine() == last; }, 60000);
    const double took = secondsSince(start);
    EXPECT_TRUE(whole) << "the last line never arrived";
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.telnet().IsConnected());
    w.Disconnect1->trigger();
    EXPECT_FALSE(w.isVisible());
    release.set_value();
    const double mb = lines * (kWidth + 2) / 1048576.0;
    std::printf("flood: %d lines (%.1f MB) shown in %.2f s (%.1f MB/s), %d lines kept in the view\n", lines, mb,
                took, mb / took, w.Memo1->shownLines());
}

// The status text is what assistive technology reads as the label's name.
TEST(QtermStatus, ReadableByAssistiveTechnology) {
    NoErrorBox box;
    LoopbackServer server([](int fd) { ReadUntilClosed(fd); });
    TqTermMain w({"127.0.0.1", std::to_string(server.Port())});
    QLabel* label = w.sbrStatus->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    ASSERT_TRUE(w.FormShow());
    w.show();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), "Connected");
    w.Disconnect1->trigger();
}
