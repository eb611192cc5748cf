#pragma once
// qterm [options] [host [port]]: what the command line asks for.
#include <string>
#include <vector>

#include "TextCodec.h"

struct QtermArgs {
    std::string host;  // empty: start idle, connect only by hand
    int port = 23;
    std::string logFile;         // --log: the session's text goes here (appended)
    bool logTimestamps = false;  // --log-timestamps
    bool noLogTimestamps = false;  // --no-log-timestamps: off, whatever qterm.ini says
    Encoding encoding = Encoding::Cp932;
    int connectTimeoutSeconds = 15;
    bool reconnect = false;  // --reconnect: a session the host ends is taken up again
    std::string scriptFile;  // --script: run this script in the session
    bool batch = false;      // --batch: the script's session without a window
};

// What main() does with the command line.
struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    QtermArgs args;
    std::string error;  // for UsageError: one line saying what is wrong
};

// The port text as the port field takes it: an integer (23 when the text is not one),
// clamped to 1..65535.
int portFromText(const std::string& text);

// args are the arguments after the program name. Options may stand before or after the
// host and port; "--" ends them. A port after an empty host is ignored, further plain
// arguments too.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The host and port and the options' values; a bad option is left at its default.
QtermArgs parseQtermArgs(const std::vector<std::string>& args);

// The usage listing every option, ending in a line break.
std::string usageText();
// The line after a usage error's own: "Try 'qterm --help'.", ending in a line break.
std::string tryHelpText();
// "qterm " and the version, ending in a line break.
std::string versionText();

// The encodings a session can speak, in menu order: the option's name and the menu's label.
struct EncodingInfo {
    Encoding enc;
    const char* name;   // the option's value: encodingName(enc)
    const char* label;  // "cp932", "UTF-8", "EUC-JP"
};
const std::vector<EncodingInfo>& encodings();

// The option's name, in any case; false when unknown.
bool encodingFromName(const std::string& name, Encoding& out);
