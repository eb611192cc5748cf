// Any byte stream through the telnet parser, cut into chunks where the input says. The text
// does not depend on the cuts, equals the stream with its commands removed, and every reply
// is the negotiation table's answer (or the terminal-type answer to SEND).
#include <vector>

#include "TelnetParser.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

using namespace telnet;

struct Recorder : ParserSink {
    std::vector<std::string> replies;  // 3-byte negotiation answers
    std::vector<std::string> subs;     // subnegotiation data
    std::vector<TTelnetCommand> notices;
    void telnetCommand(TTelnetCommand s) override { notices.push_back(s); }
    void sendReply(std::string r) override { replies.push_back(std::move(r)); }
    void subnegotiation(const std::string& d) override { subs.push_back(d); }
};

struct Expected {
    std::string text;
    std::vector<std::string> requests;  // IAC verb option, as received
};

// The stream read whole, by position: what is data and which requests it holds.
Expected strip(std::string_view s) {
    Expected e;
    auto at = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : -1; };
    std::size_t i = 0;
    while (i < s.size()) {
        if (at(i) != IAC) { e.text += s[i++]; continue; }
        const int c = at(i + 1);
        if (c == -1) break;
        if (c == IAC) { e.text += s[i + 1]; i += 2; continue; }
        if (c >= WILL) {
            if (i + 2 < s.size()) e.requests.emplace_back(s.substr(i, 3));
            i += 3;
            continue;
        }
        if (c != SB) { i += 2; continue; }
        // Subnegotiation: option byte (IAC there drops one more byte), then data up to
        // IAC SE, IAC SB (a new one) or IAC and any other byte; IAC IAC is data.
        i += 2;
        for (;;) {
            if (at(i) == IAC) { i += 2; break; }
            if (at(i) == -1) break;
            ++i;
            while (at(i) != -1 && !(at(i) == IAC && at(i + 1) != IAC)) i += at(i) == IAC ? 2 : 1;
            if (at(i) == -1) break;
            if (at(i + 1) == SB) { i += 2; continue; }
            i += 2;
            break;
        }
    }
    return e;
}

unsigned char answerTo(unsigned char verb, unsigned char option) {
    if (verb == WILL && (option == OptEcho || option == OptEndOfRecord)) return DO;
    if (verb == DO && (option == OptEcho || option == OptTerminalType)) return WILL;
    return verb == WILL || verb == WONT ? DONT : WONT;
}

std::string run(std::string_view stream, const std::vector<std::size_t>& cuts, Recorder& rec) {
    State state = State::Data;
    std::string text;
    std::size_t pos = 0, k = 0;
    while (pos < stream.size()) {
        std::size_t len = cuts.empty() ? stream.size() : cuts[k++ % cuts.size()];
        std::string_view chunk = stream.substr(pos, len);
        text += parse(state, chunk, rec).text;
        pos += chunk.size();
    }
    return text;
}

}  // namespace

// Input: a count byte, that many chunk lengths (mod 64, repeated in turn), then the stream.
std::string telnet(std::string_view bytes) {
    Input in(bytes);
    std::vector<std::size_t> cuts;
    for (int n = in.byte() % 9; n > 0; --n) cuts.push_back(in.byte() % 64);
    if (!cuts.empty() && cuts.back() == 0) cuts.back() = 1;  // the stream always moves on
    const std::string_view stream = in.rest();
    const Expected want = strip(stream);

    Recorder whole, cut, single;
    const std::string a = run(stream, {}, whole);
    const std::string b = run(stream, cuts, cut);
    const std::string c = run(stream, {1}, single);
    if (a != want.text) return "text " + shown(a) + " is not the data of " + shown(stream);
    if (b != a || c != a) return "the text depends on the cuts for " + shown(stream);

    for (const Recorder* r : {&whole, &cut, &single}) {
        if (r->replies.size() != want.requests.size()) return "not one reply per request in " + shown(stream);
        for (std::size_t i = 0; i < r->replies.size(); ++i) {
            const std::string& req = want.requests[i];
            const auto verb = static_cast<unsigned char>(req[1]), option = static_cast<unsigned char>(req[2]);
            const std::string answer{static_cast<char>(IAC), static_cast<char>(answerTo(verb, option)),
                                     static_cast<char>(option)};
            if (r->replies[i] != answer) return "reply " + shown(r->replies[i]) + " to " + shown(req);
        }
        std::size_t echoRequests = 0;
        for (const std::string& req : want.requests)
            echoRequests += static_cast<unsigned char>(req[2]) == OptEcho;
        if (r->notices.size() != echoRequests) return "echo notices do not match the requests in " + shown(stream);
    }
    // Subnegotiations cut apart lose the first part's data; read whole they answer SEND once each.
    std::string terminal;
    const std::string dumb = std::string("\xFF\xFA\x18\x00", 4) + "dumb\xFF\xF0";
    for (const std::string& d : whole.subs) {
        std::string r = terminalTypeReply(terminal, d);
        if (!r.empty() && r != dumb) return "terminal-type reply " + shown(r);
        if (r.empty() != (d != "\x01")) return "terminal-type answer wrong for " + shown(d);
    }
    return "";
}

}  // namespace fuzzprops
