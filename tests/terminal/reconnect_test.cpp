// qterm --reconnect, the whole program in this process: a host that goes away and comes back
// on the same port, by a close or by a reset, is reached again with the scrollback kept and one
// log file for both sessions; closing the window while it waits or tries ends the program at
// once; without the option the host's end still closes the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../waituntil.h"
#include "LoopbackServer.h"
#include "OutputView.h"
#include "program_run.h"
#include "scratch.h"

using namespace std::chrono_literals;

namespace {

std::string fileText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool shows(TqTermMain& w, const char* text) { return w.Memo1->toPlainText().contains(text); }
bool statusStarts(TqTermMain& w, const char* text) { return w.statusText().startsWith(text); }

// The event loop runs meanwhile; the limit only ends a test that went wrong.
constexpr int kLimitMs = 20000;

// The first session: it says its lines and ends when the test says so, in order or by a reset.
struct FirstSession {
    std::promise<void> end;
    std::unique_ptr<LoopbackServer> host;
    explicit FirstSession(bool reset) {
        std::shared_future<void> ended = end.get_future().share();
        host = std::make_unique<LoopbackServer>([ended, reset](int fd) {
            SendAll(fd, "first session\r\nprompt> ");
            ended.wait();
            if (reset)
                SetResetOnClose(fd);
        });
    }
    int port() const { return host->Port(); }
    // The host goes: nothing listens on its port any more.
    void goAway() {
        end.set_value();
        host.reset();
    }
};

// The host back on the same port: it greets and records what it is sent.
struct SecondSession {
    std::promise<std::string> typed;
    std::future<std::string> heard = typed.get_future();
    std::unique_ptr<LoopbackServer> host;
    void comeBack(int port) {
        host = std::make_unique<LoopbackServer>(
            [this](int fd) {
                SendAll(fd, "second session\r\n");
                typed.set_value(ReadExactly(fd, 1));
                ReadUntilClosed(fd);
            },
            1, nullptr, port);
    }
};

} // namespace

// A close with the option on the command line: the wait of 1 s, a refused attempt, the wait
// of 2 s, then the host is back. A reset with the option in qterm.ini, taken up at once from
// the menu. Either way the first session's text stays in the view, a key reaches the new host,
// and the one log file holds both sessions with one marker line between them.
TEST(QtermReconnect, HostThatComesBackIsReachedAgain) {
    struct Case {
        const char* name;
        bool reset;
        bool fromIni;
    };
    const Case cases[] = {{"close", false, false}, {"reset", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        EnvVar tz("TZ", "UTC");
        EnvVar config("XDG_CONFIG_HOME", dir.path.string());
        if (c.fromIni) {
            std::filesystem::create_directories(dir.path / "qterm");
            std::ofstream(dir.path / "qterm" / "qterm.ini") << "[session]\nreconnect=1\n";
        }
        const std::string log = dir.file("session.log");
        FirstSession first(c.reset);
        SecondSession second;
        const int port = first.port();
        std::vector<std::string> args = {"--log", log, "127.0.0.1", std::to_string(port)};
        if (!c.fromIni)
            args.insert(args.begin(), "--reconnect");
        bool hiddenWhileConnected = false, shownWhileWaiting = false;
        QString view;
        RunOutcome r = runWithBoxes(args, [&](TqTermMain& w) {
            ASSERT_TRUE(w.reconnects());
            EXPECT_EQ(w.PopupMenu1->actions().indexOf(w.Reconnect1), w.PopupMenu1->actions().indexOf(w.Copy1) - 1);
            w.logClock = [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1796549400)); };
            ASSERT_TRUE(waitUntil([&] { return shows(w, "prompt> "); }, kLimitMs));
            hiddenWhileConnected = !w.Reconnect1->isVisible();
            first.goAway();
            ASSERT_TRUE(waitUntil([&] { return statusStarts(w, "Reconnecting in 1 s, at "); }, kLimitMs))
                << w.statusText().toStdString();
            shownWhileWaiting = w.Reconnect1->isVisible() && w.Reconnect1->isEnabled();
            EXPECT_TRUE(w.isVisible());
            if (c.reset) {
                second.comeBack(port);
                w.Reconnect1->trigger();
            } else {
                ASSERT_TRUE(waitUntil([&] { return statusStarts(w, "Reconnecting in 2 s, at "); }, kLimitMs))
                    << w.statusText().toStdString();
                second.comeBack(port);
            }
            ASSERT_TRUE(waitUntil([&] { return shows(w, "second session"); }, kLimitMs));
            EXPECT_EQ(w.statusText(), "Connected");
            EXPECT_FALSE(w.Reconnect1->isVisible());
            QTest::keyClick(w.Memo1, Qt::Key_X);
            EXPECT_TRUE(waitUntil([&] { return second.heard.wait_for(0s) == std::future_status::ready; }, kLimitMs));
            view = w.Memo1->toPlainText();
            w.close();
        });
        EXPECT_TRUE(hiddenWhileConnected);
        EXPECT_TRUE(shownWhileWaiting);
        EXPECT_TRUE(view.startsWith("first session\nprompt> \nsecond session")) << view.toStdString();
        ASSERT_EQ(second.heard.wait_for(0s), std::future_status::ready);
        EXPECT_EQ(second.heard.get(), "x");
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.boxes.empty());
        EXPECT_EQ(fileText(log), "first session\nprompt> \n--- qterm: reconnected to 127.0.0.1:" + std::to_string(port) +
                                     " at 2026-12-06 09:30:00 ---\nsecond session\n");
    }
}

// Closing the window while it waits for the next attempt, or while an attempt hangs at a
// host whose queue is full, ends the program as a close by the user does. The connect limit
// is far beyond the test's own: a close that waited for the attempt would not end in time.
TEST(QtermReconnect, ClosingWhileWaitingOrTryingEndsAtOnce) {
    for (bool trying : {false, true}) {
        SCOPED_TRACE(trying ? "trying" : "waiting");
        FirstSession first(false);
        const int port = first.port();
        std::unique_ptr<UnansweredListener> silent;
        std::chrono::steady_clock::time_point closedAt;
        RunOutcome r = runWithBoxes({"--reconnect", "--connect-timeout", "600", "127.0.0.1", std::to_string(port)},
                                    [&](TqTermMain& w) {
                                        ASSERT_TRUE(waitUntil([&] { return shows(w, "prompt> "); }, kLimitMs));
                                        first.goAway();
                                        if (trying)
                                            silent = std::make_unique<UnansweredListener>(port);
                                        ASSERT_TRUE(waitUntil([&] { return statusStarts(w, "Reconnecting in 1 s"); },
                                                              kLimitMs));
                                        if (trying) {
                                            ASSERT_TRUE(waitUntil([&] { return w.statusText() == "Connect"; }, kLimitMs));
                                        }
                                        closedAt = std::chrono::steady_clock::now();
                                        w.close();
                                    });
        std::printf("closed while %s: the program ended %.1f ms after the close\n", trying ? "trying" : "waiting",
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - closedAt).count());
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.boxes.empty());
    }
}

// Without the option the host's end closes the window as it always has: a close ends with
// status 0, a reset with 1, and the log holds the one session.
TEST(QtermReconnect, WithoutTheOptionTheHostsEndClosesTheWindow) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        TempDir dir;
        EnvVar config("XDG_CONFIG_HOME", dir.path.string());
        const std::string log = dir.file("session.log");
        // The telnet request's answer shows that qterm has read the text before the reset.
        LoopbackServer host([reset](int fd) {
            SendAll(fd, "only session\r\n\xff\xfb\x01");
            ReadExactly(fd, 3);
            if (reset)
                SetResetOnClose(fd);
        });
        RunOutcome r = runWithBoxes({"--log", log, "127.0.0.1", std::to_string(host.Port())}, [](TqTermMain&) {});
        EXPECT_EQ(r.status, reset ? 1 : 0);
        EXPECT_TRUE(r.boxes.empty());
        EXPECT_EQ(fileText(log), "only session\n");
    }
}

// "接続先..." while a lost session waits to be taken up: the chosen host is connected, and
// the old one is given up, so no later attempt of its timetable takes the window back there.
TEST(QtermReconnect, AnotherHostChosenWhileWaitingGivesTheOldOneUp) {
    FirstSession first(false);
    SecondSession other;
    other.comeBack(0);
    const int otherPort = other.host->Port();
    bool asked = false;
    std::string status;
    RunOutcome r = runWithBoxes({"--reconnect", "127.0.0.1", std::to_string(first.port())}, [&](TqTermMain& w) {
        ASSERT_TRUE(waitUntil([&] { return shows(w, "prompt> "); }, kLimitMs));
        first.goAway();
        ASSERT_TRUE(waitUntil([&] { return statusStarts(w, "Reconnecting in 1 s"); }, kLimitMs));
        w.askConnectTo = [&](const std::vector<HostPort>&, const ConnectChoice& current) {
            ConnectChoice c = current;
            c.target = {"127.0.0.1", otherPort};
            return std::optional<ConnectChoice>(c);
        };
        w.confirmSwitchHost = [&](const QString&) { return asked = true; };
        w.ConnectTo1->trigger();
        ASSERT_TRUE(waitUntil([&] { return shows(w, "second session"); }, kLimitMs));
        // Past the old timetable's first and second attempts: none of them may come.
        waitUntil([] { return false; }, 3500);
        status = w.statusText().toStdString();
        EXPECT_FALSE(w.Reconnect1->isVisible());
        QTest::keyClick(w.Memo1, Qt::Key_X);
        EXPECT_TRUE(waitUntil([&] { return other.heard.wait_for(0s) == std::future_status::ready; }, kLimitMs));
        w.close();
    });
    EXPECT_FALSE(asked) << "nothing was connected to ask about";
    EXPECT_EQ(status, "Connected");
    ASSERT_EQ(other.heard.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(other.heard.get(), "x");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.boxes.empty());
}
