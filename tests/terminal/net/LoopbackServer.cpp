#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace {

int ListenOnLoopback(int& port, int backlog = 16, const std::function<void(int)>& prepare = nullptr) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (prepare) prepare(s);
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(std::uint16_t(port));
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, backlog) != 0)
    throw std::runtime_error("test server: cannot listen on loopback");
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  port = ntohs(sa.sin_port);
  return s;
}

}  // namespace

LoopbackServer::LoopbackServer(std::function<void(int fd)> script, int connections,
                               std::function<void(int fd)> prepare, int port)
    : FPort(port) {
  FListen = ListenOnLoopback(FPort, 16, prepare);
  FThread = std::thread([this, script, connections] {
    for (int i = 0; i < connections; ++i) {
      int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      script(c);
      ::close(c);
    }
  });
}

LoopbackServer::~LoopbackServer() {
  // Ends an accept still waiting (a test that never connected).
  ::shutdown(FListen, SHUT_RDWR);
  FThread.join();
  ::close(FListen);
}

void SendAll(int fd, const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return;
    at += std::size_t(n);
  }
}

std::string ReadUntilClosed(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, std::size_t(n));
  return all;
}

std::string ReadExactly(int fd, std::size_t count) {
  std::string all;
  char buf[4096];
  while (all.size() < count) {
    ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - all.size()), 0);
    if (n <= 0) break;
    all.append(buf, std::size_t(n));
  }
  return all;
}

UnansweredListener::UnansweredListener(int port) : FPort(port) {
  FListen = ListenOnLoopback(FPort, 0);  // a queue of one
  FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(std::uint16_t(FPort));
  if (::connect(FFiller, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    throw std::runtime_error("test listener: cannot fill the accept queue");
}

UnansweredListener::~UnansweredListener() {
  ::close(FFiller);
  ::close(FListen);
}

void UnansweredListener::Admit() {
  int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
  if (c >= 0) ::close(c);
}

void SetResetOnClose(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int UnusedPort() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(s);  // bound but never listening: connects to it are refused
  return ntohs(sa.sin_port);
}

int OpenDescriptorCount() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++count;
    ::closedir(d);
    --count;  // the directory stream itself
  }
  return count;
}
