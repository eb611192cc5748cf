#include "TelnetParser.h"

#include <optional>

namespace telnet {
namespace {

// One row per request with its own answer; any other option gets the verb's default.
struct Negotiation {
    unsigned char verb;
    unsigned char option;
    std::optional<TTelnetCommand> notice;
    unsigned char answer;
};

constexpr Negotiation kSpecial[] = {
    {WILL, OptEcho, TTelnetCommand::ServerWillEcho, DO},
    {WILL, OptEndOfRecord, std::nullopt, DO},
    {WONT, OptEcho, TTelnetCommand::ClientShouldEcho, DONT},
    {DO, OptEcho, TTelnetCommand::ClientShouldEcho, WILL},
    {DO, OptTerminalType, std::nullopt, WILL},
    {DONT, OptEcho, TTelnetCommand::ClientMustNotEcho, WONT},
};

// Refusal: WILL/WONT are met with DONT, DO/DONT with WONT.
unsigned char refusal(unsigned char verb) { return verb == WILL || verb == WONT ? DONT : WONT; }

void negotiate(unsigned char verb, unsigned char option, ParserSink& sink) {
    unsigned char answer = refusal(verb);
    for (const Negotiation& n : kSpecial) {
        if (n.verb == verb && n.option == option) {
            if (n.notice)
                sink.telnetCommand(*n.notice);
            answer = n.answer;
            break;
        }
    }
    sink.sendReply(std::string{static_cast<char>(IAC), static_cast<char>(answer),
                               static_cast<char>(option)});
}

unsigned char verbOf(State s) {
    switch (s) {
    case State::Will: return WILL;
    case State::Wont: return WONT;
    case State::Do: return DO;
    default: return DONT;
    }
}

} // namespace

ParseResult parse(State& state, std::string_view chunk, ParserSink& sink) {
    ParseResult out;
    out.text.reserve(chunk.size());
    std::string sb;
    for (char c : chunk) {
        const auto b = static_cast<unsigned char>(c);
        switch (state) {
        case State::Data:
            if (b == IAC) {
                out.sawIac = true;
                state = State::Command;
            } else {
                out.text.push_back(c);
            }
            break;
        case State::Command:
            switch (b) {
            case IAC: out.text.push_back(c); state = State::Data; break;
            case WILL: state = State::Will; break;
            case WONT: state = State::Wont; break;
            case DO: state = State::Do; break;
            case DONT: state = State::Dont; break;
            case SB: state = State::SbOption; break;
            default: state = State::Data; break;  // NOP, GA, SE, EOR...: dropped
            }
            break;
        case State::Will:
        case State::Wont:
        case State::Do:
        case State::Dont: {
            const unsigned char verb = verbOf(state);
            state = State::Data;  // before the reply: a failed send leaves a sane state
            negotiate(verb, b, sink);
            break;
        }
        case State::SbOption:
            if (b == IAC) {
                state = State::SbDrop;
            } else {
                sb.clear();
                state = State::SbData;
            }
            break;
        case State::SbDrop:
            state = State::Data;
            break;
        case State::SbData:
            if (b == IAC)
                state = State::SbCommand;
            else
                sb.push_back(c);
            break;
        case State::SbCommand:
            switch (b) {
            case SE: state = State::Data; sink.subnegotiation(sb); break;
            case SB: state = State::SbOption; sink.subnegotiation(sb); break;
            case IAC: sb.push_back(c); state = State::SbData; break;
            default: state = State::Data; break;
            }
            break;
        }
    }
    return out;
}

std::string terminalTypeReply(std::string& terminal, std::string_view data) {
    if (data != std::string_view("\x01", 1))
        return {};
    if (terminal.empty())
        terminal = "dumb";
    std::string reply{static_cast<char>(IAC), static_cast<char>(SB),
                      static_cast<char>(OptTerminalType), static_cast<char>(TtIs)};
    reply += terminal;
    reply += static_cast<char>(IAC);
    reply += static_cast<char>(SE);
    return reply;
}

std::string charBytes(unsigned char ch, bool serverIsTelnet) {
    if (ch == '\r')
        return serverIsTelnet ? std::string("\r") : std::string("\r\n");
    return std::string(1, static_cast<char>(ch));
}

} // namespace telnet
