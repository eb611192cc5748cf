#pragma once
// The telnet command parser (RFC 854) as a pure function: it strips commands from the
// server's byte stream and says which replies to send. No sockets, no threads, so it can
// be driven byte by byte in tests and fuzzed.
#include <cstdint>
#include <string>
#include <string_view>

namespace telnet {

// Protocol bytes by their RFC 854 names.
enum : unsigned char {
    SE = 240, NOP = 241, GA = 249, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255,
};
// Options with their own answer; every other option is refused.
enum : unsigned char { OptEcho = 1, OptTerminalType = 24, OptEndOfRecord = 25 };
// TERMINAL-TYPE qualifiers (RFC 1091).
enum : unsigned char { TtIs = 0, TtSend = 1 };

// Where the parser stands; it survives from one chunk to the next.
enum class State : std::uint8_t {
    Data, Command, Will, Wont, Do, Dont, SbOption, SbDrop, SbData, SbCommand,
};

// Echo negotiation notice, given before the matching reply goes out.
enum class TTelnetCommand { ServerWillEcho = 0, ClientShouldEcho = 1, ClientMustNotEcho = 2 };

// What the parser asks of its owner while it runs, in stream order. A reply that throws
// stops the parse at that byte: the rest of the chunk is not delivered.
class ParserSink {
public:
    virtual ~ParserSink() = default;
    virtual void telnetCommand(TTelnetCommand status) = 0;
    virtual void sendReply(std::string reply) = 0;
    // The data bytes of one subnegotiation (option byte not included).
    virtual void subnegotiation(const std::string& data) = 0;
};

struct ParseResult {
    std::string text;     // the chunk's bytes with every command removed
    bool sawIac = false;  // the stream held at least one IAC: the peer is a telnet server
};

// One pass over a chunk. `state` is read and updated; the subnegotiation buffer starts
// empty on every call, so only the data bytes of this chunk count.
ParseResult parse(State& state, std::string_view chunk, ParserSink& sink);

// The answer to a subnegotiation: a TERMINAL-TYPE IS reply when the data is exactly SEND,
// else empty. An empty `terminal` becomes "dumb" (and stays so).
std::string terminalTypeReply(std::string& terminal, std::string_view data);

// The bytes one typed character goes out as. CR is CR LF until the peer has shown itself
// a telnet server, then a single CR; no byte is ever doubled.
std::string charBytes(unsigned char ch, bool serverIsTelnet);

} // namespace telnet
