// The stack over BSD sockets, bound directly. Failed calls record the Windows Sockets code of
// their errno for the calling thread, which LastSocketError reads back.
#pragma once

#include <mutex>
#include <set>

#include "IdStack.h"

class TIdStackPosix : public TIdStack {
 public:
  int SockCreate(int family, int type, int protocol) override;
  int SockBind(int socket, int family, const std::string& address, int port) override;
  int SockConnect(int socket, int family, const std::string& address, int port,
                  int timeout = WaitForever) override;
  int SockRecv(int socket, void* buffer, int length, int flags) override;
  int SockSend(int socket, const void* buffer, int length, int flags) override;
  int SockSetOption(int socket, int level, int name, const void* value, int length) override;
  int SockShutdown(int socket, int how) override;
  int SockClose(int socket) override;
  int SockSelect(std::vector<int>* readList, std::vector<int>* writeList,
                 std::vector<int>* errorList, int timeout) override;
  std::string HostByName(const std::string& name) override;
  int LastSocketError() override;
  void LocalEndpoint(int socket, std::string& ip, int& port) override;
  void RemoteEndpoint(int socket, std::string& ip, int& port) override;

  // Sets the calling thread's last socket error: for calls that fail without reaching the
  // platform (no socket) and for stacks derived in tests that fake a failure.
  static void SetLastSocketError(int code);

 private:
  // Sockets this side has shut down for sending: Linux answers a send on them and a send
  // after a peer reset with the same EPIPE, Windows Sockets with 10058 and 10054.
  std::mutex FShutLock;
  std::set<int> FShutForSending;
};
