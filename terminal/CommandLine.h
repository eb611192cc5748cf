#pragma once
// qterm [host [port]]: what the command line asks for.
#include <string>
#include <vector>

struct QtermArgs {
    std::string host;  // empty: start idle, connect only by hand
    int port = 23;
};

// The port text as the port field takes it: an integer (23 when the text is not one),
// clamped to 1..65535.
int portFromText(const std::string& text);

// args are the arguments after the program name. A port after an empty host is ignored.
QtermArgs parseQtermArgs(const std::vector<std::string>& args);
