#pragma once
// The line qterm adds on stderr when a connect fails, beside the fixed "server not
// responding": "qterm: HOST:PORT: REASON", the reason in Japanese with the English in
// parentheses ("接続が拒否されました (Connection refused)"). UTF-8, as the shell shows it.
#include <string>

// host is CP932 bytes; socketCode a Windows Sockets error code.
std::string connectFailureLine(const std::string& host, int port, int socketCode);
