#pragma once
// qlxsearch --scan --watch SECONDS: the scan's run again and again, one line for each
// change as it is seen.
#include <string>

class ScanSession;

// Starts a run every `seconds` (from the start of one to the start of the next) until
// SIGINT or SIGTERM, which end it once the run in progress is done. Exit status: 0 after
// such a signal or when the reader of a pipe has gone; 2 on a socket error or output that
// cannot be written, with one line on stderr. A run that finds port 9010 held by another
// program is left out (said once) and is no miss for any appliance.
int runWatch(ScanSession& session, int seconds, int sortColumn, const std::string& format);
