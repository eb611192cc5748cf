#include "CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLine, HostAndPort) {
    struct Case {
        std::vector<std::string> args;
        std::string host;
        int port;
    };
    const Case cases[] = {
        {{}, "", 23},
        {{"192.168.1.10"}, "192.168.1.10", 23},
        {{"host", "2323"}, "host", 2323},
        {{"host", "0"}, "host", 1},
        {{"host", "-5"}, "host", 1},
        {{"host", "99999"}, "host", 65535},
        {{"host", "abc"}, "host", 23},
        {{"host", "12abc"}, "host", 23},
        {{"host", "99999999999"}, "host", 23},  // not an integer of the field's range
        {{"host", ""}, "host", 23},
        {{"host", " 80 "}, "host", 80},
        {{"", "2323"}, "", 23},  // a port after an empty host is ignored
        {{"host", "24", "extra"}, "host", 24},
    };
    for (const Case& c : cases) {
        QtermArgs a = parseQtermArgs(c.args);
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port) << (c.args.size() > 1 ? c.args[1] : "");
    }
}

// Options, in any place before or after host and port, with their values and errors.
TEST(CommandLine, Options) {
    using A = CommandLine::Action;
    struct Case {
        std::vector<std::string> args;
        A action;
        std::string host;
        int port;
        std::string log;
        bool stamps;
        Encoding enc;
        int timeout;
    };
    const Case cases[] = {
        {{}, A::Run, "", 23, "", false, Encoding::Cp932, 15},
        {{"--log", "s.log", "h", "24"}, A::Run, "h", 24, "s.log", false, Encoding::Cp932, 15},
        {{"h", "24", "--log=s.log", "--log-timestamps"}, A::Run, "h", 24, "s.log", true, Encoding::Cp932, 15},
        {{"--encoding", "utf-8", "h"}, A::Run, "h", 23, "", false, Encoding::Utf8, 15},
        {{"--encoding=EUC-JP", "h"}, A::Run, "h", 23, "", false, Encoding::EucJp, 15},
        {{"--encoding", "cp932", "h"}, A::Run, "h", 23, "", false, Encoding::Cp932, 15},
        {{"--connect-timeout", "3", "h"}, A::Run, "h", 23, "", false, Encoding::Cp932, 3},
        {{"h", "-5"}, A::Run, "h", 1, "", false, Encoding::Cp932, 15},  // a port, as before
        {{"--", "h", "--log"}, A::Run, "h", 23, "", false, Encoding::Cp932, 15},
        {{"--log", "--", "h"}, A::Run, "h", 23, "--", false, Encoding::Cp932, 15},  // a value is a value
        {{"--help"}, A::Help, "", 23, "", false, Encoding::Cp932, 15},
        {{"h", "--bogus", "--help"}, A::Help, "h", 23, "", false, Encoding::Cp932, 15},
        {{"--version", "h"}, A::Version, "h", 23, "", false, Encoding::Cp932, 15},
        {{"--bogus", "h"}, A::UsageError, "h", 23, "", false, Encoding::Cp932, 15},
        {{"-x"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--log"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--log="}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--log-timestamps=1"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--encoding", "latin1", "h"}, A::UsageError, "h", 23, "", false, Encoding::Cp932, 15},
        {{"--connect-timeout", "0"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--connect-timeout", "-1"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--connect-timeout", "1.5"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
        {{"--connect-timeout", "99999999999"}, A::UsageError, "", 23, "", false, Encoding::Cp932, 15},
    };
    for (const Case& c : cases) {
        std::string where;
        for (const auto& a : c.args)
            where += "[" + a + "]";
        const CommandLine cl = parseCommandLine(c.args);
        EXPECT_EQ(cl.action, c.action) << where;
        if (c.action == A::UsageError) {
            EXPECT_FALSE(cl.error.empty()) << where;
        }
        if (c.action == A::Run) {
            EXPECT_EQ(cl.error, "") << where;
        }
        EXPECT_EQ(cl.args.host, c.host) << where;
        EXPECT_EQ(cl.args.port, c.port) << where;
        EXPECT_EQ(cl.args.logFile, c.log) << where;
        EXPECT_EQ(cl.args.logTimestamps, c.stamps) << where;
        EXPECT_EQ(cl.args.encoding, c.enc) << where;
        EXPECT_EQ(cl.args.connectTimeoutSeconds, c.timeout) << where;
    }
}

// --reconnect is a switch: it takes no value, and anywhere on the line it means the same.
TEST(CommandLine, Reconnect) {
    using A = CommandLine::Action;
    struct Case {
        std::vector<std::string> args;
        A action;
        bool reconnect;
    };
    const Case cases[] = {
        {{"h"}, A::Run, false},
        {{"--reconnect", "h"}, A::Run, true},
        {{"h", "24", "--reconnect"}, A::Run, true},
        {{"--reconnect=1", "h"}, A::UsageError, false},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parseCommandLine(c.args);
        EXPECT_EQ(cl.action, c.action) << c.args[0];
        EXPECT_EQ(cl.args.reconnect, c.reconnect) << c.args[0];
        EXPECT_EQ(cl.args.host, "h") << c.args[0];
    }
}

// The usage names every option; the error says which argument is wrong.
TEST(CommandLine, UsageAndErrors) {
    const std::string usage = usageText();
    for (const char* opt : {"--help", "--version", "--log FILE", "--log-timestamps", "--encoding", "cp932",
                            "utf-8", "euc-jp", "--connect-timeout SECONDS", "--reconnect", "HOST [PORT]"})
        EXPECT_NE(usage.find(opt), std::string::npos) << opt;
    EXPECT_EQ(usage.back(), '\n');
    EXPECT_NE(parseCommandLine({"--bogus"}).error.find("--bogus"), std::string::npos);
    EXPECT_NE(parseCommandLine({"--encoding", "latin1"}).error.find("latin1"), std::string::npos);
    EXPECT_EQ(versionText().rfind("qterm ", 0), 0u);
    EXPECT_EQ(versionText().back(), '\n');
}

// --script and --batch: a script needs a host, and only a script runs without a window.
TEST(CommandLine, ScriptOptions) {
    struct Case {
        std::vector<std::string> args;
        std::string script;
        bool batch;
        std::string error;  // empty: runs
    };
    const Case cases[] = {
        {{"--script", "b.qts", "h"}, "b.qts", false, ""},
        {{"h", "--batch", "--script=b.qts"}, "b.qts", true, ""},
        {{"--batch", "h"}, "", true, "--batch needs --script FILE"},
        {{"--script", "b.qts"}, "b.qts", false, "--script needs a HOST"},
        {{"--script=", "h"}, "", false, "--script needs a file name"},
        {{"--batch=1", "--script", "b.qts", "h"}, "b.qts", false, "--batch takes no value"},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parseCommandLine(c.args);
        EXPECT_EQ(cl.error, c.error) << c.args[0];
        EXPECT_EQ(cl.action, c.error.empty() ? CommandLine::Action::Run : CommandLine::Action::UsageError);
        EXPECT_EQ(cl.args.scriptFile, c.script) << c.args[0];
        EXPECT_EQ(cl.args.batch, c.batch) << c.args[0];
    }
    const std::string usage = usageText();
    for (const char* opt : {"--script FILE", "--batch"})
        EXPECT_NE(usage.find(opt), std::string::npos) << opt;
}

// --no-log-timestamps turns the stamps off whatever the settings say; of it and
// --log-timestamps the later one counts.
TEST(CommandLine, NoLogTimestamps) {
    struct Case {
        std::vector<std::string> args;
        bool stamps, noStamps;
    };
    const Case cases[] = {
        {{"h"}, false, false},
        {{"--no-log-timestamps", "h"}, false, true},
        {{"--log-timestamps", "--no-log-timestamps"}, false, true},
        {{"--no-log-timestamps", "--log-timestamps"}, true, false},
    };
    for (const Case& c : cases) {
        const CommandLine cl = parseCommandLine(c.args);
        EXPECT_EQ(cl.action, CommandLine::Action::Run);
        EXPECT_EQ(cl.args.logTimestamps, c.stamps) << c.args[0];
        EXPECT_EQ(cl.args.noLogTimestamps, c.noStamps) << c.args[0];
    }
    EXPECT_EQ(parseCommandLine({"--no-log-timestamps=1"}).action, CommandLine::Action::UsageError);
}
