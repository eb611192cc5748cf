// qterm --script without --batch: the script runs in the open window, which then stays the
// user's; a failure is said on stderr and sets the exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "LoopbackServer.h"
#include "OutputView.h"
#include "login_host.h"
#include "program_run.h"
#include "scratch.h"

namespace {

struct WindowRun {
    RunOutcome outcome;
    int scriptStatus = -1;
    bool openAfter = false;       // the window and its connection, once the script ended
    bool connectedAfter = false;
    QString shown;
};

WindowRun runInWindow(const std::string& script, const std::string& port) {
    TempDir dir;
    std::ofstream(dir.file("s.qts")) << script;
    WindowRun r;
    r.outcome = runWithBoxes({"--script", dir.file("s.qts"), "127.0.0.1", port}, [&r](TqTermMain& w) {
        w.scriptEnded = [&r, &w](int status) {
            r.scriptStatus = status;
            r.openAfter = w.isVisible();
            r.connectedAfter = w.telnet().IsConnected();
            w.Memo1->flush();
            r.shown = w.Memo1->toPlainText();
            w.close();
        };
    });
    return r;
}

} // namespace

TEST(QtermScriptWindow, RunsTheScriptAndLeavesTheSessionOpen) {
    EnvVar password("APPLIANCE_PASSWORD", LoginHost::kPassword);
    LoginHost host;
    const WindowRun r = runInWindow("expect login:\nsendln admin\nexpect Password:\nsendenv APPLIANCE_PASSWORD\n"
                                    "expect AP-1$\nsendln show config\nexpect AP-1$\n",
                                    host.port());
    EXPECT_EQ(r.scriptStatus, 0);
    EXPECT_TRUE(r.openAfter);
    EXPECT_TRUE(r.connectedAfter);
    EXPECT_TRUE(r.shown.contains("vlan 10 name office")) << r.shown.toStdString();
    EXPECT_FALSE(r.shown.contains(LoginHost::kPassword));
    EXPECT_EQ(r.outcome.status, 0);
    EXPECT_TRUE(r.outcome.boxes.empty());
}

// A timed-out expect leaves the window to the user; the program's status is then 1.
TEST(QtermScriptWindow, TimedOutExpectSetsTheStatus) {
    LoopbackServer host([](int fd) {
        SendAll(fd, "Welcome\r\n");
        ReadUntilClosed(fd);
    });
    const WindowRun r = runInWindow("expect login: timeout=0.2\n", std::to_string(host.Port()));
    EXPECT_EQ(r.scriptStatus, 1);
    EXPECT_TRUE(r.openAfter);
    EXPECT_TRUE(r.shown.contains("Welcome"));
    EXPECT_EQ(r.outcome.status, 1);
}
