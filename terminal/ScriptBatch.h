#pragma once
// qterm --batch --script FILE HOST [PORT]: the script's session without a window or a
// display, on a Qt Core event loop the caller has made. The shown text goes to standard
// output in UTF-8, row by row as it is completed; the end of the script disconnects.
#include "CommandLine.h"
#include "Script.h"

// The exit status: 0 when the script ran to its end; 1 when an expect timed out, the host
// closed first or the connection broke; 2 for a failed connect, a log that could not be
// started or written, or standard output that could not be written. Each failure is one
// line on stderr. args.host is the host as given.
int runScriptBatch(const QtermArgs& args, const Script& script);
