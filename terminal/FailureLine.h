#pragma once
// The line qterm writes to stderr when a connection cannot be made or is lost while nobody
// sees a message: "qterm: HOST port PORT: MESSAGE", the message on one line and ended as in
// the error box ("Socket Error # 10054\r\nConnection reset by peer." becomes
// "Socket Error # 10054 Connection reset by peer.").
#include <string>

std::string failureLine(const std::string& host, int port, const std::string& message);
