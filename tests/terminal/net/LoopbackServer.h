// A TCP server on 127.0.0.1 for tests: it accepts one connection at a time and runs a script
// on its own thread for each. Scripts use the plain socket helpers below.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class LoopbackServer {
 public:
  // script(fd) runs for each accepted connection; the server closes fd after it returns.
  // prepare(fd), when given, sets options on the listening socket before it listens; the
  // accepted connections inherit them (small buffers and segments, as a small appliance has).
  // port, when given, is the port to listen on (a host that comes back where it was).
  explicit LoopbackServer(std::function<void(int fd)> script, int connections = 1,
                          std::function<void(int fd)> prepare = nullptr, int port = 0);
  ~LoopbackServer();  // waits for the script to finish
  int Port() const { return FPort; }

 private:
  int FListen = -1;
  int FPort = 0;
  std::thread FThread;
};

// Plain helpers for scripts.
void SendAll(int fd, const std::string& bytes);
// Reads until the peer closes (or fails); returns what came.
std::string ReadUntilClosed(int fd);
// Reads exactly count bytes unless the peer closes first.
std::string ReadExactly(int fd, std::size_t count);
// Makes the close of fd a reset instead of an orderly end.
void SetResetOnClose(int fd);

// A listener on loopback whose accept queue is full: the kernel drops the SYNs of further
// connects to it, so they hang as towards a host that has gone, until Admit() makes room.
class UnansweredListener {
 public:
  explicit UnansweredListener(int port = 0);
  ~UnansweredListener();
  int Port() const { return FPort; }
  // Accepts the connection that fills the queue; a connect still retrying then gets in.
  void Admit();

 private:
  int FListen = -1;
  int FFiller = -1;
  int FPort = 0;
};

// A loopback port with nothing listening on it, for refused connects.
int UnusedPort();

// Number of open descriptors of this process.
int OpenDescriptorCount();
