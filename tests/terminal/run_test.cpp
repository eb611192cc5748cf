// The whole qterm program in this process, with its event loop and the real error box.
#include <gtest/gtest.h>

#include <QTest>

#include <future>

#include "FaultyStack.h"
#include "IdSocketErrors.h"
#include "LoopbackServer.h"
#include "OutputView.h"
#include "program_run.h"

// Started without a host, "&Connect" tries the empty host and fails: the window closes, and
// the error box still appears with the loop running; the program ends when it is dismissed,
// with status 1. Before, the quit already under way made the box return unseen, status 0.
TEST(QtermRun, FailedConnectFromTheMenuShowsTheBoxThenEnds) {
    RunOutcome r = runWithBoxes({}, [](TqTermMain& w) { w.Connect1->trigger(); });
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].title, "qterm");
    EXPECT_EQ(r.boxes[0].text, "server not responding.");
    EXPECT_EQ(r.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(r.boxes[0].windowOpen);
    EXPECT_EQ(r.status, 1);
}

// A typed key whose send fails in a way that drops the socket: the drop closes the window
// first, the box follows all the same, then the program ends with status 1.
TEST(QtermRun, FailedSendThatDropsTheSocketShowsTheBoxThenEnds) {
    FaultyStackScope faulty;
    std::promise<void> done;
    LoopbackServer server([&](int) { done.get_future().wait(); });
    RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [](TqTermMain& w) {
        FaultyStack::SendError = WSAESHUTDOWN;
        QTest::keyClick(w.Memo1, Qt::Key_A);
    });
    done.set_value();
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].title, "qterm");
    EXPECT_EQ(r.boxes[0].text, "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
    EXPECT_FALSE(r.boxes[0].windowOpen);
    EXPECT_EQ(r.status, 1);
}

// A failing send that leaves the connection open: the box shows over the open window, which
// stays open afterwards; a close by the user then still ends the program with status 1.
TEST(QtermRun, ErrorBoxOverTheOpenWindowKeepsItOpen) {
    FaultyStackScope faulty;
    std::promise<void> done;
    LoopbackServer server([&](int) { done.get_future().wait(); });
    bool openAfterBox = false;
    RunOutcome r = runWithBoxes({"127.0.0.1", std::to_string(server.Port())}, [&](TqTermMain& w) {
        FaultyStack::SendError = 10054;
        QTest::keyClick(w.Memo1, Qt::Key_A);
        QTimer::singleShot(300, &w, [&] {
            openAfterBox = w.isVisible() && w.telnet().IsConnected();
            w.close();
        });
    });
    done.set_value();
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_TRUE(r.boxes[0].windowOpen);
    EXPECT_TRUE(openAfterBox);
    EXPECT_EQ(r.status, 1);
}
