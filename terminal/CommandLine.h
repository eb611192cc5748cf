#pragma once
// qterm [host [port]]: what the command line asks for.
#include <stdexcept>
#include <string>
#include <vector>

struct QtermArgs {
    std::string host;  // empty: start idle, connect only by hand
    int port = 23;
    int connectTimeoutSeconds = 15;  // --connect-timeout SECONDS
};

// A command line qterm cannot run with; what() says why.
struct QtermUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The port text as the port field takes it: an integer (23 when the text is not one),
// clamped to 1..65535.
int portFromText(const std::string& text);

// args are the arguments after the program name. A port after an empty host is ignored.
// "--connect-timeout SECONDS" (a positive integer) may stand anywhere; a bad or missing value
// raises QtermUsageError.
QtermArgs parseQtermArgs(const std::vector<std::string>& args);
