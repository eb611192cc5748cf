#pragma once
// qterm --script FILE: the script, one command a line, read and checked whole before any
// connect. Blank lines and lines starting with '#' say nothing.
//
//   expect TEXT [timeout=S]   wait until TEXT appears in the shown text
//   send TEXT                 send TEXT in the session's encoding, nothing added
//   sendln TEXT               send TEXT, then the Enter key
//   sendenv NAME              send environment variable NAME's value, then the Enter key
//   sleep MS | timeout S | log FILE | disconnect
//
// TEXT knows the escapes \r \n \t \\ and \xHH (the byte HH as it is); blanks around it are
// not part of it (\x20 is a space at either end). Seconds may have up to three decimals.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ScriptCommand {
    enum class Kind { Expect, Send, SendLn, SendEnv, Sleep, Timeout, Log, Disconnect };
    // One piece of a TEXT: UTF-8 text to encode for the host, or bytes from \xHH to send
    // as they are.
    struct Piece {
        bool raw = false;
        std::string bytes;
        bool operator==(const Piece&) const = default;
    };

    Kind kind = Kind::Disconnect;
    int line = 0;
    std::vector<Piece> text;   // expect, send, sendln
    std::string written;       // the TEXT as the script wrote it, for messages
    std::string name;          // sendenv: the variable; log: the file
    long long ms = 0;          // sleep; timeout; expect: its own limit, 0 for none

    // The TEXT's bytes with every piece as it is (for matching shown UTF-8 text).
    std::string joined() const;
};

struct Script {
    std::string file;
    std::vector<ScriptCommand> commands;
};

struct ScriptError {
    int line = 0;  // 0: the file as a whole
    std::string reason;
};

struct ScriptParse {
    Script script;
    std::optional<ScriptError> error;  // the first fault found; script is then incomplete
};

// Reads a script's text (UTF-8); file names it in messages.
ScriptParse parseScript(std::string_view text, const std::string& file);

// Reads the file; a file that cannot be read is an error of line 0.
ScriptParse readScript(const std::string& path);

// "FILE:LINE: REASON" (or "FILE: REASON" for line 0).
std::string scriptMessage(const std::string& file, int line, const std::string& reason);

// The first sendenv whose variable is not set, as an error; checked before connecting.
// getenv returns the value or nothing.
template <class GetEnv>
std::optional<ScriptError> missingVariable(const Script& s, GetEnv&& getenv) {
    for (const ScriptCommand& c : s.commands)
        if (c.kind == ScriptCommand::Kind::SendEnv && !getenv(c.name))
            return ScriptError{c.line, "environment variable " + c.name + " is not set"};
    return std::nullopt;
}
