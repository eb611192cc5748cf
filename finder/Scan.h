#pragma once
// qlxsearch --scan: one search run without a window, the table on standard output; with
// --watch, a run again and again and each change as it is seen.
#include <string>

#include "FinderOptions.h"

// Exit status: 0 appliances answered, 1 none did, 2 an error (one line on stderr); the
// watch's are in Watch.h.
// `executable` locates the settings and model-name files, which are only read.
int runScan(int& argc, char** argv, const FinderOptions& options, const std::string& executable);
