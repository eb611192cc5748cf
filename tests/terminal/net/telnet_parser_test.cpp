#include "TelnetParser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace telnet;

namespace {

std::string hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty())
            out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v)
        s.push_back(static_cast<char>(b));
    return s;
}

// Records what the parser asks for, in order, and answers subnegotiations the way the
// telnet component does: with the TERMINAL-TYPE reply when there is one.
struct Recorder : ParserSink {
    std::string terminal = "dumb";
    std::vector<std::string> log;
    void telnetCommand(TTelnetCommand s) override { log.push_back("cmd " + std::to_string(int(s))); }
    void sendReply(std::string r) override { log.push_back(hex(r)); }
    void subnegotiation(const std::string& data) override {
        std::string r = terminalTypeReply(terminal, data);
        if (!r.empty())
            sendReply(r);
    }
};

struct Outcome {
    std::string text;
    std::vector<std::string> log;
    State state;
    bool sawIac;
};

Outcome feed(const std::vector<std::string>& chunks, std::string terminal = "dumb") {
    Recorder rec;
    rec.terminal = terminal;
    State st = State::Data;
    Outcome r{};
    for (const auto& c : chunks) {
        ParseResult p = parse(st, c, rec);
        r.text += p.text;
        r.sawIac = r.sawIac || p.sawIac;
    }
    r.log = rec.log;
    r.state = st;
    return r;
}

const std::string kTtReply = "FF FA 18 00 64 75 6D 62 FF F0";  // IAC SB TT IS "dumb" IAC SE

struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::string text;
    std::vector<std::string> log;
};

} // namespace

TEST(TelnetParser, TableOfStreams) {
    const std::vector<Case> cases = {
        {"plain text passes byte for byte", {std::string("ab\r\n\0c\x80\xfe", 8)}, std::string("ab\r\n\0c\x80\xfe", 8), {}},
        {"IAC IAC is one data byte 255", {bytes({'a', 255, 255, 'b'})}, bytes({'a', 255, 'b'}), {}},
        {"DO TERMINAL-TYPE", {bytes({255, 253, 24})}, "", {"FF FB 18"}},
        {"TERMINAL-TYPE SEND", {bytes({255, 250, 24, 1, 255, 240})}, "", {kTtReply}},
        {"SEND under another option gets the same reply", {bytes({255, 250, 32, 1, 255, 240})}, "", {kTtReply}},
        {"two data bytes get no reply", {bytes({255, 250, 24, 0, 1, 255, 240})}, "", {}},
        {"WILL SGA refused", {bytes({255, 251, 3})}, "", {"FF FE 03"}},
        {"DO NAWS refused", {bytes({255, 253, 31})}, "", {"FF FC 1F"}},
        {"same request twice answered twice", {bytes({255, 253, 31, 255, 253, 31})}, "", {"FF FC 1F", "FF FC 1F"}},
        {"WILL ECHO: notice before the reply", {bytes({255, 251, 1})}, "", {"cmd 0", "FF FD 01"}},
        {"WONT ECHO", {bytes({255, 252, 1})}, "", {"cmd 1", "FF FE 01"}},
        {"DO ECHO accepted", {bytes({255, 253, 1})}, "", {"cmd 1", "FF FB 01"}},
        {"DONT ECHO", {bytes({255, 254, 1})}, "", {"cmd 2", "FF FC 01"}},
        {"WILL EOR accepted", {bytes({255, 251, 25})}, "", {"FF FD 19"}},
        {"WONT x, DONT x", {bytes({255, 252, 7, 255, 254, 24})}, "", {"FF FE 07", "FF FC 18"}},
        {"NOP and GA vanish", {bytes({'a', 255, 241, 'b', 255, 249, 'c'})}, "abc", {}},
        {"SE and EOR outside SB vanish", {bytes({'a', 255, 240, 255, 239, 'b'})}, "ab", {}},
        {"reply comes at its option byte, text around it kept", {bytes({'x', 255, 253, 24, 'y'})}, "xy", {"FF FB 18"}},
        {"IAC SB IAC drops the next byte", {bytes({255, 250, 255, 'z', 'q'})}, "q", {}},
        {"IAC inside SB data is doubled IAC", {bytes({255, 250, 24, 255, 255, 255, 240})}, "", {}},
        {"SB ... IAC SB starts the next subnegotiation", {bytes({255, 250, 24, 1, 255, 250, 24, 1, 255, 240})}, "", {kTtReply, kTtReply}},
        {"junk command inside SB ends it unanswered", {bytes({255, 250, 24, 1, 255, 'k', 'm'})}, "m", {}},
        {"SB 24 / 1 IAC SE across chunks still answered", {bytes({255, 250, 24}), bytes({1, 255, 240})}, "", {kTtReply}},
        {"SB 24 1 / IAC SE across chunks: scratch lost, no reply", {bytes({255, 250, 24, 1}), bytes({255, 240})}, "", {}},
        {"SB 24 1 IAC / SE across chunks: no reply", {bytes({255, 250, 24, 1, 255}), bytes({240, 'a'})}, "a", {}},
        {"chunk ending in IAC: next byte is the command", {bytes({'a', 255}), bytes({253, 24, 'b'})}, "ab", {"FF FB 18"}},
    };
    for (const Case& c : cases) {
        Outcome r = feed(c.chunks);
        EXPECT_EQ(hex(r.text), hex(c.text)) << c.name;
        EXPECT_EQ(r.log, c.log) << c.name;
        EXPECT_EQ(r.state, State::Data) << c.name;
    }
}

TEST(TelnetParser, EmptyTerminalBecomesDumb) {
    std::string terminal;
    EXPECT_EQ(hex(terminalTypeReply(terminal, "\x01")), kTtReply);
    EXPECT_EQ(terminal, "dumb");
    std::string vt = "vt100";
    EXPECT_EQ(terminalTypeReply(vt, "\x01"), bytes({255, 250, 24, 0}) + "vt100" + bytes({255, 240}));
    EXPECT_EQ(terminalTypeReply(vt, std::string("\x00\x01", 2)), "");
    EXPECT_EQ(terminalTypeReply(vt, ""), "");
}

TEST(TelnetParser, SawIacMarksTelnetServer) {
    EXPECT_FALSE(feed({"hello\r\n"}).sawIac);
    EXPECT_TRUE(feed({bytes({255, 255})}).sawIac);
    EXPECT_TRUE(feed({bytes({255, 241})}).sawIac);
}

// Every command of the table, cut at every byte position into two chunks, parses as if
// it had come whole (except where the scratch buffer of a subnegotiation is lost).
TEST(TelnetParser, CommandSplitAtEveryPosition) {
    const std::vector<std::string> streams = {
        "ab" + bytes({255, 251, 1}) + "cd",
        "ab" + bytes({255, 253, 24, 255, 253, 31}) + "cd",
        "a" + bytes({255, 255, 255, 241}) + "b",
        "x" + bytes({255, 250, 255, 7}) + "y",
    };
    for (const std::string& s : streams) {
        Outcome whole = feed({s});
        for (size_t cut = 0; cut <= s.size(); ++cut) {
            Outcome split = feed({s.substr(0, cut), s.substr(cut)});
            EXPECT_EQ(hex(split.text), hex(whole.text)) << hex(s) << " cut " << cut;
            EXPECT_EQ(split.log, whole.log) << hex(s) << " cut " << cut;
        }
    }
    // TERMINAL-TYPE SEND: answered when the cut falls before the data byte, not after it.
    const std::string sb = bytes({255, 250, 24, 1, 255, 240});
    for (size_t cut = 0; cut <= sb.size(); ++cut) {
        Outcome split = feed({sb.substr(0, cut), sb.substr(cut)});
        bool answered = cut <= 3 || cut == sb.size();
        EXPECT_EQ(split.log, answered ? std::vector<std::string>{kTtReply} : std::vector<std::string>{})
            << "cut " << cut;
    }
}

TEST(TelnetParser, ReplyThatFailsStopsTheChunk) {
    struct Failing : Recorder {
        void sendReply(std::string) override { throw std::runtime_error("Connection Closed Gracefully."); }
    } sink;
    State st = State::Data;
    EXPECT_THROW(parse(st, bytes({'a', 255, 253, 31, 'b'}), sink), std::runtime_error);
    EXPECT_EQ(st, State::Data);
}

TEST(TelnetParser, CarriageReturnRule) {
    EXPECT_EQ(charBytes('\r', false), "\r\n");
    EXPECT_EQ(charBytes('\r', true), "\r");
    EXPECT_EQ(charBytes('a', false), "a");
    EXPECT_EQ(charBytes(255, true), bytes({255}));
    EXPECT_EQ(charBytes('\n', false), "\n");
    EXPECT_EQ(charBytes(0, true), std::string(1, '\0'));
}

// Random streams: no crash, and every data byte that is not part of a command comes
// out, whatever the cuts. The stream is built so that the expected text is known.
TEST(TelnetParser, RandomStreamsKeepEveryDataByte) {
    std::mt19937 rng(12345);
    const std::vector<std::string> commands = {
        bytes({255, 255}), bytes({255, 251, 1}), bytes({255, 253, 24}), bytes({255, 254, 3}),
        bytes({255, 241}), bytes({255, 250, 24, 1, 255, 240}), bytes({255, 250, 31, 0, 80, 255, 255, 255, 240}),
    };
    for (int round = 0; round < 300; ++round) {
        std::string stream, expected;
        int parts = 1 + rng() % 40;
        for (int i = 0; i < parts; ++i) {
            if (rng() % 3 == 0) {
                const std::string& c = commands[rng() % commands.size()];
                stream += c;
                if (c == bytes({255, 255}))
                    expected += c.substr(1);
            } else {
                int len = rng() % 20;
                for (int k = 0; k < len; ++k) {
                    char b = static_cast<char>(rng() % 255);  // never IAC
                    stream += b;
                    expected += b;
                }
            }
        }
        Recorder rec;
        State st = State::Data;
        std::string text;
        size_t pos = 0;
        while (pos < stream.size()) {
            size_t n = 1 + rng() % 16;
            text += parse(st, std::string_view(stream).substr(pos, n), rec).text;
            pos += n;
        }
        // Subnegotiations may lose their reply when cut, but never data bytes.
        EXPECT_EQ(hex(text), hex(expected)) << "round " << round;
        // Pure noise, with IAC in it: must not crash and keep the state machine sane.
        std::string noise(1 + rng() % 64, '\0');
        for (char& c : noise)
            c = static_cast<char>(rng() % 256);
        parse(st, noise, rec);
    }
}
