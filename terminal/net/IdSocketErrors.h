// The socket error codes the messages show are those of Windows Sockets; this maps the
// platform's errno values and resolver results onto them and gives each code its text.
#pragma once

#include <string>

// Windows Sockets codes used by name in the layer.
enum : int {
  WSAEINTR = 10004,
  WSAEWOULDBLOCK = 10035,
  WSAEADDRINUSE = 10048,
  WSAECONNRESET = 10054,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// errno values without a Windows Sockets counterpart keep their own number above this base,
// so they can never be mistaken for a code of the table.
constexpr int kUnmappedErrnoBase = 20000;

// The Windows Sockets code for an errno value.
int WinsockCodeFromErrno(int err);

// The Windows Sockets code for a getaddrinfo() result (EAI_*); EAI_SYSTEM reads errno.
int WinsockCodeFromResolver(int eai, int err);

// The table text of a code, empty for codes not in the table (the host lookup codes included).
const char* SocketErrorTableText(int code);

// "Socket Error # <code>\r\n<table text>".
std::string SocketErrorText(int code);
