#pragma once
// The whole qterm program, for main() and for tests that drive it with its event loop.
#include <functional>

class TqTermMain;

// Runs qterm with its command line and returns the exit status: 0 when the connection was
// closed (by either side) or never made by hand; 1 when the start-up connect failed, an error
// ended the connection, or an error box was shown; 2 for a bad command line.
// started, when given, runs once the window is shown, before the event loop starts.
int runQterm(int argc, char** argv, const std::function<void(TqTermMain&)>& started = {});
