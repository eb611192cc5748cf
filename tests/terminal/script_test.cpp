// The script's reading and checking, and its run against a recorded session with a clock
// the test moves by hand.
#include "Script.h"
#include "ScriptRunner.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using Kind = ScriptCommand::Kind;
using Piece = ScriptCommand::Piece;

TEST(ScriptParse, Commands) {
    struct Case {
        std::string line;
        Kind kind;
        std::vector<Piece> text;
        std::string name;
        long long ms;
    };
    const Case cases[] = {
        {"expect login:", Kind::Expect, {{false, "login:"}}, "", 0},
        {"  expect  Password:  ", Kind::Expect, {{false, "Password:"}}, "", 0},  // blanks around
        {"expect $ timeout=2.5", Kind::Expect, {{false, "$"}}, "", 2500},
        {"expect timeout=3", Kind::Expect, {{false, "timeout=3"}}, "", 0},  // the text itself
        {"expect a timeout\\x3d1", Kind::Expect, {{false, "a timeout"}, {true, "="}, {false, "1"}}, "", 0},
        {"expect # prompt", Kind::Expect, {{false, "# prompt"}}, "", 0},  // '#' within a line is text
        {"send a\\r\\n\\t\\\\b", Kind::Send, {{false, "a\r\n\t\\b"}}, "", 0},
        {"send \\x03\\xfF", Kind::Send, {{true, "\x03\xff"}}, "", 0},
        {"send \\x20x\\x20", Kind::Send, {{true, " "}, {false, "x"}, {true, " "}}, "", 0},
        {"send 日本語", Kind::Send, {{false, "日本語"}}, "", 0},
        {"sendln show config", Kind::SendLn, {{false, "show config"}}, "", 0},
        {"sendln", Kind::SendLn, {}, "", 0},  // the Enter key alone
        {"sendenv APPLIANCE_PW", Kind::SendEnv, {}, "APPLIANCE_PW", 0},
        {"sleep 250", Kind::Sleep, {}, "", 250},
        {"sleep 0", Kind::Sleep, {}, "", 0},
        {"timeout 30", Kind::Timeout, {}, "", 30000},
        {"timeout 0.25", Kind::Timeout, {}, "", 250},
        {"log /tmp/a b.log", Kind::Log, {}, "/tmp/a b.log", 0},
        {"disconnect\r", Kind::Disconnect, {}, "", 0},  // a CR LF file
    };
    for (const Case& c : cases) {
        const ScriptParse p = parseScript(c.line + "\n", "t.qts");
        ASSERT_FALSE(p.error) << c.line << ": " << p.error->reason;
        ASSERT_EQ(p.script.commands.size(), 1u) << c.line;
        const ScriptCommand& got = p.script.commands[0];
        EXPECT_EQ(got.kind, c.kind) << c.line;
        EXPECT_EQ(got.text, c.text) << c.line;
        EXPECT_EQ(got.name, c.name) << c.line;
        EXPECT_EQ(got.ms, c.ms) << c.line;
        EXPECT_EQ(got.line, 1) << c.line;
    }
}

// The first fault stops the reading and names its line; nothing after it counts.
TEST(ScriptParse, Errors) {
    struct Case {
        std::string text;
        int line;
        std::string reason;
    };
    const Case cases[] = {
        {"expekt login:", 1, "unknown command expekt"},
        {"# comment\n\nexpect", 3, "expect needs a text"},
        {"send", 1, "send needs a text"},
        {"expect x timeout=0", 1, "timeout= needs seconds above 0, at most 86400: 0"},
        {"expect x timeout=1.2345", 1, "timeout= needs seconds above 0, at most 86400: 1.2345"},
        {"expect x timeout=", 1, "timeout= needs seconds above 0, at most 86400: "},
        {"send a\\qb", 1, "unknown escape \\q"},
        {"send a\\x4", 1, "\\x needs two hex digits"},
        {"send a\\xg0", 1, "\\x needs two hex digits"},
        {"send a\\", 1, "a lone \\ at the end of the text (write \\\\ for a backslash)"},
        {"sendenv", 1, "sendenv needs a variable name"},
        {"sendenv 1PW", 1, "not a variable name: 1PW"},
        {"sendenv PW X", 1, "not a variable name: PW X"},
        {"sleep -1", 1, "sleep needs whole milliseconds, at most 86400000: -1"},
        {"sleep 1.5", 1, "sleep needs whole milliseconds, at most 86400000: 1.5"},
        {"sleep 86400001", 1, "sleep needs whole milliseconds, at most 86400000: 86400001"},
        {"sleep 99999999999999999999", 1, "sleep needs whole milliseconds, at most 86400000: 99999999999999999999"},
        {"timeout", 1, "timeout needs seconds above 0, at most 86400: "},
        {"timeout 0", 1, "timeout needs seconds above 0, at most 86400: 0"},
        {"timeout 86401", 1, "timeout needs seconds above 0, at most 86400: 86401"},
        {"log", 1, "log needs a file name"},
        {"disconnect now", 1, "disconnect takes nothing after it"},
        {"disconnect\n# fine\nsendln x", 3, "nothing can follow the disconnect of line 1"},
        {"send ok\nsend \xff\xfe", 2, "not UTF-8 text"},
    };
    for (const Case& c : cases) {
        const ScriptParse p = parseScript(c.text, "t.qts");
        ASSERT_TRUE(p.error) << c.text;
        EXPECT_EQ(p.error->line, c.line) << c.text;
        EXPECT_EQ(p.error->reason, c.reason) << c.text;
    }
    EXPECT_EQ(scriptMessage("b.qts", 4, "unknown command x"), "b.qts:4: unknown command x");
    EXPECT_EQ(scriptMessage("b.qts", 0, "cannot read"), "b.qts: cannot read");
}

TEST(ScriptParse, UnreadableFileAndMissingVariables) {
    const ScriptParse p = readScript("/nonexistent/b.qts");
    ASSERT_TRUE(p.error);
    EXPECT_EQ(scriptMessage("/nonexistent/b.qts", p.error->line, p.error->reason),
              "/nonexistent/b.qts: cannot read the script: No such file or directory");

    const ScriptParse s = parseScript("sendenv USER_NAME\nsendenv PW\n", "t.qts");
    const std::map<std::string, std::string> env = {{"USER_NAME", "admin"}};
    auto get = [&](const std::string& n) { return env.count(n) ? env.at(n).c_str() : nullptr; };
    const auto missing = missingVariable(s.script, get);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->line, 2);
    EXPECT_EQ(missing->reason, "environment variable PW is not set");
}

// ---- the run ----

using namespace std::chrono_literals;
using TimePoint = ScriptRunner::TimePoint;

// Records what the script did; encoding marks text so raw bytes can be told apart.
struct FakeSession : ScriptRunner::Session {
    std::string sent;
    std::string enterBytes = "\r\n";
    std::vector<std::string> logs;
    std::string logRefusal;
    int disconnects = 0;
    void send(std::string bytes) override { sent += bytes; }
    std::string encode(std::string_view utf8) override { return "<" + std::string(utf8) + ">"; }
    std::string enter() override { return enterBytes; }
    std::string startLog(const std::string& path) override {
        logs.push_back(path);
        return logRefusal;
    }
    void disconnect() override { ++disconnects; }
};

struct ScriptedRun {
    FakeSession session;
    std::map<std::string, std::string> env;
    ScriptRunner runner;
    TimePoint now{};

    explicit ScriptedRun(const std::string& text)
        : runner(parse(text), session, [this](const std::string& n) {
              return env.count(n) ? std::optional<std::string>(env.at(n)) : std::nullopt;
          }) {}
    static Script parse(const std::string& text) {
        ScriptParse p = parseScript(text, "t.qts");
        EXPECT_FALSE(p.error) << p.error->reason;
        return p.script;
    }
    void start() { runner.start(now); }
    void rows(std::string_view r, std::string_view current = {}) { runner.received(r, current, now); }
    void current(std::string_view c) { runner.received({}, c, now); }
    void at(std::chrono::milliseconds t) {
        now = TimePoint{} + t;
        runner.wake(now);
    }
    bool running() const { return runner.state() == ScriptRunner::State::Running; }
};

TEST(ScriptRun, SendsWithEscapesTheEnterKeyAndVariables) {
    ScriptedRun r("send a\\x03\\r\nsendln show\nsendln\nsendenv PW\n");
    r.env["PW"] = "s3cret";
    r.start();
    EXPECT_EQ(r.session.sent, "<a>\x03<\r><show>\r\n\r\n<s3cret>\r\n");
    EXPECT_EQ(r.runner.state(), ScriptRunner::State::Done);
}

// A prompt is matched while its row is still being written; what a match used up is not
// matched again, not even once its row is complete.
TEST(ScriptRun, ExpectCountsOnlyTextAfterTheLastMatch) {
    ScriptedRun r("expect login:\nsendln admin\nexpect login:\nsendln again\n");
    r.start();
    r.current("login");
    EXPECT_EQ(r.session.sent, "");
    r.current("login: ");
    EXPECT_EQ(r.session.sent, "<admin>\r\n");
    r.rows("login: admin\n", "");
    EXPECT_TRUE(r.running());
    r.rows("Login incorrect\n", "log");
    EXPECT_TRUE(r.running());
    r.current("login:");
    EXPECT_EQ(r.session.sent, "<admin>\r\n<again>\r\n");
    EXPECT_EQ(r.runner.state(), ScriptRunner::State::Done);
}

// Text across rows and chunks counts, text that arrived before the expect started too.
TEST(ScriptRun, ExpectAcrossRowsAndEarlierText) {
    ScriptedRun r("sleep 100\nexpect end\\nstart\nsend x\n");
    r.start();
    r.rows("the en");  // a cut piece of a long row: final all the same
    r.rows("d\n", "sta");
    r.at(100ms);
    EXPECT_TRUE(r.running());
    r.current("start");
    EXPECT_EQ(r.session.sent, "<x>");
}

// The limit is the expect's own, else the last timeout command's, else 10 s; the message
// names the line and the awaited text as written.
TEST(ScriptRun, ExpectTimesOut) {
    struct Case {
        std::string script;
        std::chrono::milliseconds limit;
        std::string failure;
    };
    const Case cases[] = {
        {"expect $", 10s, "t.qts:1: timed out after 10 s waiting for \"$\""},
        {"timeout 2.5\n\nexpect a\\tb", 2500ms, "t.qts:3: timed out after 2.5 s waiting for \"a\\tb\""},
        {"timeout 30\nexpect x timeout=1", 1s, "t.qts:2: timed out after 1 s waiting for \"x\""},
    };
    for (const Case& c : cases) {
        ScriptedRun r(c.script);
        r.start();
        ASSERT_TRUE(r.runner.wakeAt()) << c.script;
        EXPECT_EQ(*r.runner.wakeAt() - TimePoint{}, c.limit) << c.script;
        r.at(c.limit - 1ms);
        EXPECT_TRUE(r.running()) << c.script;
        r.at(c.limit);
        EXPECT_EQ(r.runner.state(), ScriptRunner::State::Failed) << c.script;
        EXPECT_EQ(r.runner.failStatus(), 1);
        EXPECT_EQ(r.runner.failure(), c.failure);
        EXPECT_FALSE(r.runner.wakeAt());
    }
}

TEST(ScriptRun, SleepWaitsForItsTime) {
    ScriptedRun r("send a\nsleep 500\nsend b\n");
    r.start();
    EXPECT_EQ(r.session.sent, "<a>");
    r.at(499ms);
    EXPECT_EQ(r.session.sent, "<a>");
    r.at(500ms);
    EXPECT_EQ(r.session.sent, "<a><b>");
}

// The host's close fails a script still running; the variable's value is in no message.
TEST(ScriptRun, HostClosingBeforeTheEnd) {
    struct Case {
        std::string script;
        std::string failure;  // empty: the script had ended
    };
    const Case cases[] = {
        {"sendenv PW\nexpect $", "t.qts:2: the host closed the connection while waiting for \"$\""},
        {"sendenv PW\nsleep 1000\nsend x", "t.qts:2: the host closed the connection before the script ended"},
        {"sendenv PW", ""},
    };
    for (const Case& c : cases) {
        ScriptedRun r(c.script);
        r.env["PW"] = "pw-value";
        r.start();
        r.runner.hostClosed();
        if (c.failure.empty()) {
            EXPECT_EQ(r.runner.state(), ScriptRunner::State::Done);
            continue;
        }
        EXPECT_EQ(r.runner.state(), ScriptRunner::State::Failed);
        EXPECT_EQ(r.runner.failStatus(), 1);
        EXPECT_EQ(r.runner.failure(), c.failure);
    }
    ScriptedRun byUser("expect $\n");
    byUser.start();
    byUser.runner.stopped();
    EXPECT_EQ(byUser.runner.failure(), "t.qts:1: the session ended while waiting for \"$\"");
}

TEST(ScriptRun, LogAndDisconnect) {
    ScriptedRun r("log a.log\ndisconnect\n");
    r.start();
    EXPECT_EQ(r.session.logs, std::vector<std::string>{"a.log"});
    EXPECT_EQ(r.session.disconnects, 1);
    EXPECT_EQ(r.runner.state(), ScriptRunner::State::Done);
    r.runner.hostClosed();  // the close the disconnect made
    EXPECT_EQ(r.runner.state(), ScriptRunner::State::Done);

    ScriptedRun refused("log /x/a.log\nsend x\n");
    refused.session.logRefusal = "No such file or directory";
    refused.start();
    EXPECT_EQ(refused.runner.failStatus(), 2);
    EXPECT_EQ(refused.runner.failure(), "t.qts:1: cannot log to /x/a.log: No such file or directory");
    EXPECT_EQ(refused.session.sent, "");
}

}  // namespace
