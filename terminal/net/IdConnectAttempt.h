// One TCP connect on a thread of its own, for a caller that must not wait for a name lookup or
// a connect (the window thread, while it shows a session's scrollback). The thread holds
// everything it uses, so the caller may give the attempt up at any moment without waiting for
// the thread: a connect under way is broken off, and the thread ends by itself.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "IdTCPClient.h"

class TIdConnectAttempt {
 public:
  // Starts connecting to host:port at once; the connect is limited to timeout (ms or
  // WaitForever), as TIdTCPClient::ConnectTimeout. finished runs on the attempt's thread when
  // the connect has succeeded or failed, unless Cancel came first.
  TIdConnectAttempt(const std::string& host, int port, int timeout, std::function<void()> finished);
  ~TIdConnectAttempt();  // Cancel
  TIdConnectAttempt(const TIdConnectAttempt&) = delete;
  TIdConnectAttempt& operator=(const TIdConnectAttempt&) = delete;

  // Once this returns, finished is not running and will not run. Does not wait for the thread.
  void Cancel();
  // After finished: the client that holds the connected socket, for AdoptConnection; null
  // when the connect failed (Error says why), was cancelled, or has not finished.
  TIdTCPClient* Connected();
  // After finished: the message of the error that ended the connect; empty when it connected.
  std::string Error() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> FShared;
};
