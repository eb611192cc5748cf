// The client side of a TCP connection: where to connect and the blocking connect itself.
#pragma once

#include <string>

#include "IdTCPConnection.h"

class TIdTCPClient : public TIdTCPConnection {
 public:
  // Server name or dotted IPv4 address, and port; set before each connect.
  std::string Host;
  int Port = 0;
  // Local address to bind before connecting; empty binds to any.
  std::string BoundIP;
  // False sets TCP_NODELAY before connecting.
  bool UseNagle = true;
  // Limit of the TCP connect in ms (the name lookup not included); WaitForever leaves it to
  // the system, which retries an unanswered connect for about two minutes.
  int ConnectTimeout = WaitForever;

  TNotifyEvent OnConnected;

  // Blocking: resolves Host, connects, then fires OnConnected. On an open connection raises
  // EIdAlreadyConnected and changes nothing. If a step after the socket was made fails,
  // CloseConnection (the subclass's, with its events) runs before the error is raised again.
  virtual void OpenConnection();
  // The end of OpenConnection for a socket another client has connected (on a thread of its
  // own, say): this client takes it over with its Host and Port, then fires OnConnected. On
  // an open connection raises EIdAlreadyConnected and changes nothing; when the other's
  // socket is gone by then, EIdConnClosedGracefully, and this client stays closed.
  virtual void AdoptConnection(TIdTCPClient& connected);
  virtual void NotifyConnected();
};
