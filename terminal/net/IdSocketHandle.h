// One socket with its local and remote endpoint.
//
// The handle is shared by two threads (the window thread connects, sends and closes; the
// reader thread waits and receives, and closes after a peer close). So:
// - HasSocket is atomic, and the release claims it with one exchange: of two threads closing
//   at once exactly one gets to release (ReleaseSocket returns true for it).
// - Releasing shuts the socket down in both directions first, which wakes a thread blocked in
//   WaitReadable or ReceiveInto on it at once.
// - The descriptor is closed only when no other call is still using it, so its number cannot be
//   reused by a new socket while an old wait or receive might still look at it.
// - The endpoint texts are read through accessors that copy under the handle's lock.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "IdStack.h"

class TIdSocketHandle {
 public:
  TIdSocketHandle();
  ~TIdSocketHandle();  // releases an open socket, without any notification
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;
  // Copies IP, Port, RemoteIP and RemotePort, not the socket.
  void Assign(const TIdSocketHandle& other);

  bool HasSocket() const { return FHasSocket.load(); }
  int SocketNumber() const;  // -1 without a socket
  // The open socket's number, kept from being closed (and reused) while the result is held:
  // for a watcher of its readiness that may outlive a release on another thread. A release
  // still shuts the socket down at once. Null without a socket.
  std::shared_ptr<const int> KeepOpen() const;
  std::string IP() const;
  int Port() const;
  std::string RemoteIP() const;
  int RemotePort() const;
  void SetIP(const std::string& ip);
  void SetPort(int port);

  // Releases an open socket first, then makes a new one (EIdInvalidSocket on failure).
  void OpenSocket(int type, int protocol);
  // Binds to IP:Port (empty IP: any local address). Address in use raises
  // EIdCouldNotBindSocket, other failures EIdSocketError.
  void BindLocal();
  void SetRemote(const std::string& address, int port);
  // The platform result of connect; the caller checks it with CheckSocketResult. A connect
  // still under way after timeout (ms or WaitForever) fails with WSAETIMEDOUT.
  int ConnectRemote(int family, int timeout = WaitForever);
  // True when the socket became readable within timeout (ms or WaitForever). Raises
  // EIdConnClosedGracefully without a socket; a wait error counts as not readable.
  bool WaitReadable(int timeout);
  // The platform results of recv and send; without a socket they fail with WSAESHUTDOWN.
  int ReceiveInto(void* buffer, int length, int flags = 0);
  int SendFrom(const void* buffer, int length, int flags = 0);
  void SetOption(int level, int name, int value);

  // Returns false and does nothing without a socket. Otherwise clears HasSocket, shuts the
  // socket down both ways, closes it (once no other call uses it) and clears the peer fields
  // (and with resetLocal the local ones); returns true.
  bool ReleaseSocket(bool resetLocal = true);
  // The two halves of ReleaseSocket, for a caller that reports between claiming the socket
  // and closing it: ClaimRelease is the atomic test-and-clear of HasSocket; FinishRelease must
  // follow it exactly once when it returned true.
  bool ClaimRelease();
  void FinishRelease(bool resetLocal);
  // Moves other's open socket, with its endpoints, into this handle, which must have none:
  // for a connect made on another thread. False, changing nothing, when other has no socket
  // (it was released meanwhile). Not while a call on this handle runs on another thread.
  bool TakeSocket(TIdSocketHandle& other);
  // No socket; local (with resetLocal) and peer fields cleared.
  void ClearState(bool resetLocal = true);
  void RefreshLocal();
  void RefreshRemote();

 private:
  struct Descriptor;
  std::shared_ptr<Descriptor> Use() const;

  std::atomic<bool> FHasSocket{false};
  mutable std::mutex FLock;  // guards the fields below, never held during a platform call
  std::shared_ptr<Descriptor> FSocket;
  std::string FIP;
  int FPort = 0;
  std::string FRemoteIP;
  int FRemotePort = 0;
};
