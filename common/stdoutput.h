#pragma once
// What a program prints for the shell (usage, version, a scan's list) is written whole
// and flushed here, so a full disk or a closed stdout is seen instead of reported as
// success.
#include <string_view>

namespace stdoutput {

// Writes text to stdout and flushes it. False when any of it could not be written;
// errno then says why.
bool write(std::string_view text);

// One line on stderr, "PROGRAM: cannot write to standard output: REASON"; returns the
// exit status for it, 2.
int failed(const char* program, int err);

// write(), else failed(): 0 or 2.
int print(const char* program, std::string_view text);

// Call first in main. A standard stream the program was started without (">&-") is held
// by /dev/null opened for reading only: otherwise the next descriptor the program opens
// (a socket, a file) would take its number, and the output would be written into that,
// not refused. Writes to it now fail, as to the closed stream.
void holdClosedStreams();

}  // namespace stdoutput
