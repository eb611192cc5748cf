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
