#include "IdStackPosix.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "IdException.h"
#include "IdSocketErrors.h"

namespace {

thread_local int tLastError = 0;

// Records errno as the thread's last socket error when a call failed; passes the result on.
int Checked(int result) {
  if (result == -1) tLastError = WinsockCodeFromErrno(errno);
  return result;
}

sockaddr_in MakeAddress(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(std::uint16_t(port));
  sa.sin_addr.s_addr = address.empty() ? htonl(INADDR_ANY) : TIdStack::ParseDottedQuad(address);
  return sa;
}

std::string AddressText(const in_addr& a) {
  std::array<std::uint8_t, 4> b;
  std::memcpy(b.data(), &a.s_addr, 4);
  return TIdStack::AddressToText(b);
}

// Waits for a connect under way to finish and gives its result as connect() would; with a
// timeout (ms) it fails with ETIMEDOUT once that has passed.
int FinishConnect(int socket, int timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout == WaitForever ? 0 : timeout);
  for (;;) {
    int wait = -1;
    if (timeout != WaitForever) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        errno = ETIMEDOUT;
        return -1;
      }
      wait = int(left);
    }
    pollfd p{socket, POLLOUT, 0};
    const int r = ::poll(&p, 1, wait);
    if (r == -1 && errno != EINTR) return -1;
    if (r <= 0) continue;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == -1) return -1;
    if (error == 0) return 0;
    errno = error;
    return -1;
  }
}

}  // namespace

void TIdStackPosix::SetLastSocketError(int code) { tLastError = code; }

int TIdStackPosix::LastSocketError() { return tLastError; }

int TIdStackPosix::SockCreate(int family, int type, int protocol) {
  // Close-on-exec: the terminal's sockets must not leak into programs it might start.
  const int s = Checked(::socket(family, type | SOCK_CLOEXEC, protocol));
  if (s != -1) {
    std::lock_guard<std::mutex> lock(FShutLock);
    FShutForSending.erase(s);  // a number reused after a close that bypassed SockClose
  }
  return s;
}

int TIdStackPosix::SockBind(int socket, int, const std::string& address, int port) {
  sockaddr_in sa = MakeAddress(address, port);
  return Checked(::bind(socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

int TIdStackPosix::SockConnect(int socket, int, const std::string& address, int port,
                              int timeout) {
  sockaddr_in sa = MakeAddress(address, port);
  // A limited connect runs non-blocking, so that the wait for it can give up.
  const bool limited = timeout != WaitForever;
  const int flags = limited ? ::fcntl(socket, F_GETFL) : -1;
  if (flags != -1) ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
  int r = ::connect(socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  // A connect interrupted by a signal goes on in the kernel; a second connect() would only
  // report EALREADY, so the wait is for the first one to finish.
  if (r == -1 && (errno == EINTR || errno == EINPROGRESS)) r = FinishConnect(socket, timeout);
  const int error = errno;
  if (flags != -1) ::fcntl(socket, F_SETFL, flags);
  errno = error;
  return Checked(r);
}

int TIdStackPosix::SockRecv(int socket, void* buffer, int length, int flags) {
  ssize_t r;
  do {
    r = ::recv(socket, buffer, std::size_t(length), flags);
  } while (r == -1 && errno == EINTR);
  return Checked(int(r));
}

int TIdStackPosix::SockSend(int socket, const void* buffer, int length, int flags) {
  // A peer that has gone must give an error, never SIGPIPE.
  ssize_t r;
  do {
    r = ::send(socket, buffer, std::size_t(length), flags | MSG_NOSIGNAL);
  } while (r == -1 && errno == EINTR);
  if (r == -1 && errno == EPIPE) {
    // Either this side shut sending down, or the peer reset the connection and its reset
    // was already reported once.
    std::lock_guard<std::mutex> lock(FShutLock);
    tLastError = FShutForSending.count(socket) ? WSAESHUTDOWN : WSAECONNRESET;
    return -1;
  }
  return Checked(int(r));
}

int TIdStackPosix::SockSetOption(int socket, int level, int name, const void* value, int length) {
  return Checked(::setsockopt(socket, level, name, value, socklen_t(length)));
}

int TIdStackPosix::SockShutdown(int socket, int how) {
  const int r = Checked(::shutdown(socket, how));
  if (r == 0 && (how == SHUT_WR || how == SHUT_RDWR)) {
    std::lock_guard<std::mutex> lock(FShutLock);
    FShutForSending.insert(socket);
  }
  return r;
}

int TIdStackPosix::SockClose(int socket) {
  {
    std::lock_guard<std::mutex> lock(FShutLock);
    FShutForSending.erase(socket);
  }
  return Checked(::close(socket));
}

// poll() stands in for select(): it keeps the 64-socket limit of a list but, unlike an fd_set,
// cannot be overrun by a descriptor number of 1024 or more.
int TIdStackPosix::SockSelect(std::vector<int>* readList, std::vector<int>* writeList,
                              std::vector<int>* errorList, int timeout) {
  std::vector<int>* lists[3] = {readList, writeList, errorList};
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  // What counts as ready for each list, as select() reports it.
  const short ready[3] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};
  std::vector<pollfd> fds;
  for (int i = 0; i < 3; ++i) {
    if (!lists[i]) continue;
    if (lists[i]->size() > kSelectSetSize) throw EIdStackSetSizeExceeded();
    for (int s : *lists[i]) fds.push_back({s, events[i], 0});
  }
  int r;
  do {
    r = ::poll(fds.data(), fds.size(), timeout == WaitForever ? -1 : timeout);
  } while (r == -1 && errno == EINTR && timeout == WaitForever);
  if (r == -1) return Checked(r);
  int count = 0;
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (!lists[i]) continue;
    std::vector<int> kept;
    for (int s : *lists[i]) {
      const pollfd& p = fds[at++];
      if (p.revents & POLLNVAL) {
        tLastError = WinsockCodeFromErrno(EBADF);
        return -1;
      }
      if (p.revents & ready[i]) kept.push_back(s);
    }
    count += int(kept.size());
    *lists[i] = std::move(kept);
  }
  return count;
}

std::string TIdStackPosix::HostByName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int r = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (r != 0 || !found) {
    int code = WinsockCodeFromResolver(r == 0 ? EAI_NONAME : r, errno);
    if (found) ::freeaddrinfo(found);
    ThrowSocketError(code);
  }
  std::string text = AddressText(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
  ::freeaddrinfo(found);
  return text;
}

void TIdStackPosix::LocalEndpoint(int socket, std::string& ip, int& port) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  CheckSocketResult(Checked(::getsockname(socket, reinterpret_cast<sockaddr*>(&sa), &len)));
  ip = AddressText(sa.sin_addr);
  port = ntohs(sa.sin_port);
}

void TIdStackPosix::RemoteEndpoint(int socket, std::string& ip, int& port) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  CheckSocketResult(Checked(::getpeername(socket, reinterpret_cast<sockaddr*>(&sa), &len)));
  ip = AddressText(sa.sin_addr);
  port = ntohs(sa.sin_port);
}
