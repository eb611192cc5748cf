#include "Script.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Kind = ScriptCommand::Kind;

// What each command takes after its word.
enum class Arg { Text, TextOrNothing, Name, Path, Millis, Seconds, Nothing };
struct CommandRow {
    const char* word;
    Kind kind;
    Arg arg;
};
constexpr CommandRow kCommands[] = {
    {"expect", Kind::Expect, Arg::Text},       {"send", Kind::Send, Arg::Text},
    {"sendln", Kind::SendLn, Arg::TextOrNothing}, {"sendenv", Kind::SendEnv, Arg::Name},
    {"sleep", Kind::Sleep, Arg::Millis},       {"timeout", Kind::Timeout, Arg::Seconds},
    {"log", Kind::Log, Arg::Path},             {"disconnect", Kind::Disconnect, Arg::Nothing},
};

// A day: longer waits are typing mistakes, and the sums stay far from overflowing.
constexpr long long kMaxMs = 24LL * 3600 * 1000;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size() || (n == 2 && b < 0xC2) || (n == 4 && b > 0xF4))
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The pieces of a TEXT, or what is wrong with its escapes.
std::optional<std::string> unescape(std::string_view s, std::vector<ScriptCommand::Piece>& out) {
    auto add = [&](bool raw, char c) {
        if (out.empty() || out.back().raw != raw)
            out.push_back({raw, {}});
        out.back().bytes.push_back(c);
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            add(false, s[i]);
            continue;
        }
        if (++i == s.size())
            return "a lone \\ at the end of the text (write \\\\ for a backslash)";
        switch (s[i]) {
        case 'r': add(false, '\r'); break;
        case 'n': add(false, '\n'); break;
        case 't': add(false, '\t'); break;
        case '\\': add(false, '\\'); break;
        case 'x': {
            const int hi = i + 1 < s.size() ? hexValue(s[i + 1]) : -1;
            const int lo = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return "\\x needs two hex digits";
            add(true, static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default: return std::string("unknown escape \\") + s[i];
        }
    }
    return std::nullopt;
}

// Whole milliseconds, or seconds with up to three decimals; nothing when not a number in range.
std::optional<long long> number(std::string_view s, bool seconds) {
    long long whole = 0, frac = 0;
    int fracDigits = 0;
    bool point = false, digits = false;
    for (char c : s) {
        if (c == '.' && seconds && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return std::nullopt;
        digits = true;
        if (point) {
            if (++fracDigits > 3)
                return std::nullopt;
            frac = frac * 10 + (c - '0');
        } else if ((whole = whole * 10 + (c - '0')) > kMaxMs) {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    if (!seconds)
        return whole;
    while (fracDigits++ < 3)
        frac *= 10;
    const long long ms = whole * 1000 + frac;
    return ms <= kMaxMs ? std::optional<long long>(ms) : std::nullopt;
}

bool validName(std::string_view s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9'))
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// One command line (neither blank nor a comment) into c; what is wrong, or nothing.
std::optional<std::string> parseLine(std::string_view line, ScriptCommand& c) {
    const std::size_t end = std::find_if(line.begin(), line.end(), isBlank) - line.begin();
    const std::string_view word = line.substr(0, end);
    std::string_view rest = trimmed(line.substr(end));
    const auto row = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](const CommandRow& r) { return word == r.word; });
    if (row == std::end(kCommands))
        return "unknown command " + std::string(word);
    c.kind = row->kind;
    const std::string w(word);
    switch (row->arg) {
    case Arg::Text:
    case Arg::TextOrNothing: {
        if (c.kind == Kind::Expect) {
            // The last word after the text may be the expect's own limit.
            const std::size_t blank = rest.find_last_of(" \t");
            const std::string_view last = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
            if (last.rfind("timeout=", 0) == 0) {
                const auto ms = number(last.substr(8), true);
                if (!ms || *ms == 0)
                    return "timeout= needs seconds above 0, at most 86400: " + std::string(last.substr(8));
                c.ms = *ms;
                rest = trimmed(rest.substr(0, blank));
            }
        }
        if (rest.empty() && row->arg == Arg::Text)
            return w + " needs a text";
        if (auto wrong = unescape(rest, c.text))
            return *wrong;
        c.written = rest;
        return std::nullopt;
    }
    case Arg::Name:
        if (!validName(rest))
            return rest.empty() ? w + " needs a variable name" : "not a variable name: " + std::string(rest);
        c.name = rest;
        return std::nullopt;
    case Arg::Path:
        if (rest.empty())
            return w + " needs a file name";
        c.name = rest;
        return std::nullopt;
    case Arg::Millis:
    case Arg::Seconds: {
        const bool seconds = row->arg == Arg::Seconds;
        const auto ms = number(rest, seconds);
        if (!ms || (seconds && *ms == 0))
            return seconds ? w + " needs seconds above 0, at most 86400: " + std::string(rest)
                           : w + " needs whole milliseconds, at most 86400000: " + std::string(rest);
        c.ms = *ms;
        return std::nullopt;
    }
    case Arg::Nothing:
        if (!rest.empty())
            return w + " takes nothing after it";
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::string ScriptCommand::joined() const {
    std::string all;
    for (const Piece& p : text)
        all += p.bytes;
    return all;
}

ScriptParse parseScript(std::string_view text, const std::string& file) {
    ScriptParse out;
    out.script.file = file;
    int lineNo = 0;
    int disconnectAt = 0;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t nl = text.find('\n', from);
        if (nl == std::string_view::npos)
            nl = text.size();
        const std::string_view raw = text.substr(from, nl - from);
        from = nl + 1;
        ++lineNo;
        auto fail = [&](std::string reason) {
            out.error = ScriptError{lineNo, std::move(reason)};
            return out;
        };
        if (!validUtf8(raw))
            return fail("not UTF-8 text");
        const std::string_view line = trimmed(raw);
        if (line.empty() || line[0] == '#')
            continue;
        // The session has ended there; a command after it could never run.
        if (disconnectAt != 0)
            return fail("nothing can follow the disconnect of line " + std::to_string(disconnectAt));
        ScriptCommand c;
        c.line = lineNo;
        if (auto wrong = parseLine(line, c))
            return fail(*wrong);
        if (c.kind == Kind::Disconnect)
            disconnectAt = lineNo;
        out.script.commands.push_back(std::move(c));
    }
    return out;
}

ScriptParse readScript(const std::string& path) {
    std::string text;
    int err = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
    } else {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                text.append(buf, std::size_t(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                err = errno;
                break;
            }
        }
        ::close(fd);
    }
    if (err != 0) {
        ScriptParse out;
        out.script.file = path;
        out.error = ScriptError{0, std::string("cannot read the script: ") + std::strerror(err)};
        return out;
    }
    return parseScript(text, path);
}

std::string scriptMessage(const std::string& file, int line, const std::string& reason) {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + reason : file + ": " + reason;
}
