#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "version.h"

namespace {

std::optional<int> positiveInt(const std::string& text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1)
        return std::nullopt;
    return value;
}

// Options with a value take it from "--name=value" or from the next argument.
enum class Opt { Help, Version, Log, LogTimestamps, NoLogTimestamps, Encoding, ConnectTimeout, Reconnect, Script, Batch };
struct OptionRow {
    const char* name;
    Opt opt;
    bool takesValue;
};
constexpr OptionRow kOptions[] = {
    {"--help", Opt::Help, false},
    {"--version", Opt::Version, false},
    {"--log", Opt::Log, true},
    {"--log-timestamps", Opt::LogTimestamps, false},
    {"--no-log-timestamps", Opt::NoLogTimestamps, false},
    {"--encoding", Opt::Encoding, true},
    {"--connect-timeout", Opt::ConnectTimeout, true},
    {"--reconnect", Opt::Reconnect, false},
    {"--script", Opt::Script, true},
    {"--batch", Opt::Batch, false},
};

// An empty result: the value is taken. Otherwise what is wrong with it.
std::string applyValue(Opt opt, const std::string& value, QtermArgs& a) {
    switch (opt) {
    case Opt::Log:
        if (value.empty())
            return "--log needs a file name";
        a.logFile = value;
        return {};
    case Opt::Encoding:
        if (!encodingFromName(value, a.encoding))
            return "unknown encoding for --encoding: " + value;
        return {};
    case Opt::ConnectTimeout:
        // The limit is kept in milliseconds as an int.
        if (auto s = positiveInt(value); s && *s <= 2147483) {
            a.connectTimeoutSeconds = *s;
            return {};
        }
        return "--connect-timeout needs a whole number of seconds from 1 to 2147483: " + value;
    case Opt::Script:
        if (value.empty())
            return "--script needs a file name";
        a.scriptFile = value;
        return {};
    default:
        return {};
    }
}

} // namespace

int portFromText(const std::string& text) {
    // Leading and trailing blanks are tolerated, as the integer conversion of the field does.
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos)
        return 23;
    const char* first = text.data() + b;
    const char* last = text.data() + e + 1;
    if (*first == '+' && last - first > 1)
        ++first;
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last)
        return 23;
    return value < 1 ? 1 : value > 65535 ? 65535 : value;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine c;
    std::vector<std::string> plain;
    bool optionsEnded = false;
    bool help = false, version = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // A host never starts with "-"; a port may ("-5" is port 1), so only the first
        // plain argument's place takes single-dash words as options.
        const bool looksLikeOption = arg.size() > 1 && arg[0] == '-' &&
                                     (arg[1] == '-' || plain.empty());
        if (optionsEnded || !looksLikeOption) {
            plain.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto row = std::find_if(std::begin(kOptions), std::end(kOptions),
                                       [&](const OptionRow& s) { return name == s.name; });
        std::string wrong;
        if (row == std::end(kOptions)) {
            wrong = "unknown option " + name;
        } else if (!row->takesValue) {
            if (eq != std::string::npos) {
                wrong = name + " takes no value";
            } else {
                help |= row->opt == Opt::Help;
                version |= row->opt == Opt::Version;
                c.args.reconnect |= row->opt == Opt::Reconnect;
                // The later of the two timestamp options wins.
                if (row->opt == Opt::LogTimestamps || row->opt == Opt::NoLogTimestamps) {
                    c.args.logTimestamps = row->opt == Opt::LogTimestamps;
                    c.args.noLogTimestamps = !c.args.logTimestamps;
                }
                c.args.batch |= row->opt == Opt::Batch;
            }
        } else if (eq != std::string::npos) {
            wrong = applyValue(row->opt, arg.substr(eq + 1), c.args);
        } else if (i + 1 < args.size()) {
            wrong = applyValue(row->opt, args[++i], c.args);
        } else {
            wrong = name + " needs a value";
        }
        if (!wrong.empty() && c.error.empty())
            c.error = wrong;
    }
    if (!plain.empty() && !plain[0].empty()) {
        c.args.host = plain[0];
        if (plain.size() > 1 && !plain[1].empty())
            c.args.port = portFromText(plain[1]);
    }
    // A script runs in a session, and only a script runs without a window.
    if (c.error.empty() && c.args.batch && c.args.scriptFile.empty())
        c.error = "--batch needs --script FILE";
    if (c.error.empty() && !c.args.scriptFile.empty() && c.args.host.empty())
        c.error = "--script needs a HOST";
    c.action = help                ? CommandLine::Action::Help
               : version           ? CommandLine::Action::Version
               : !c.error.empty()  ? CommandLine::Action::UsageError
                                   : CommandLine::Action::Run;
    return c;
}

QtermArgs parseQtermArgs(const std::vector<std::string>& args) { return parseCommandLine(args).args; }

std::string usageText() {
    return "Usage: qterm [options] [HOST [PORT]]\n"
           "       qterm --script FILE [--batch] [options] HOST [PORT]\n"
           "Opens a telnet connection to HOST (a name or dotted IPv4 address) on PORT\n"
           "(default 23) in a terminal window. Without HOST the window waits: choose the host\n"
           "with \"接続先...\" (Ctrl+Shift+N) in its right-click menu.\n"
           "\n"
           "Options:\n"
           "  --log FILE                  append the session's text to FILE (UTF-8)\n"
           "  --log-timestamps            start every logged line with its local time\n"
           "  --no-log-timestamps         no time stamps, even when qterm.ini turns them on\n"
           "  --encoding NAME             the host's character encoding: cp932 (default),\n"
           "                              utf-8 or euc-jp\n"
           "  --connect-timeout SECONDS   give up connecting after SECONDS (default 15)\n"
           "  --reconnect                 when the host ends the session, keep the window\n"
           "                              and connect again after 1, 2, 4 ... 30 s\n"
           "  --script FILE               run the script FILE in the session (expect, send,\n"
           "                              sendln, sendenv, sleep, timeout, log, disconnect)\n"
           "  --batch                     with --script: no window; the shown text goes to\n"
           "                              standard output, the script's end disconnects\n"
           "  --help                      show this text and exit\n"
           "  --version                   show the version and exit\n"
           "\n"
           "Settings: $XDG_CONFIG_HOME/qterm/qterm.ini (else ~/.config/qterm/qterm.ini),\n"
           "section [log]: dir=DIR logs every session to DIR/HOST_PORT_YYYYMMDD-HHMMSS.log,\n"
           "timestamps=1 turns the time stamps on; section [session]: reconnect=1 as\n"
           "--reconnect. Section [history]: the last 10 hosts connected to, keys 1\n"
           "(newest) to 10, each HOST:PORT.\n";
}

std::string tryHelpText() { return "Try 'qterm --help'.\n"; }

std::string versionText() { return std::string("qterm ") + QLX_VERSION + "\n"; }

const std::vector<EncodingInfo>& encodings() {
    static const std::vector<EncodingInfo> all = {
        {Encoding::Cp932, encodingName(Encoding::Cp932), "cp932"},
        {Encoding::Utf8, encodingName(Encoding::Utf8), "UTF-8"},
        {Encoding::EucJp, encodingName(Encoding::EucJp), "EUC-JP"},
    };
    return all;
}

// The codec knows the names; the option takes them in any case.
bool encodingFromName(const std::string& name, Encoding& out) {
    std::string lower = name;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::optional<Encoding> e = encodingByName(lower);
    if (e)
        out = *e;
    return e.has_value();
}
