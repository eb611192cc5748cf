#include "IdSocketHandle.h"

#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "IdStackPosix.h"

// The open descriptor; it is closed when the last holder lets go, so a call in flight on
// another thread keeps the number from being reused under it.
struct TIdSocketHandle::Descriptor {
  explicit Descriptor(int n) : fd(n) {}
  ~Descriptor() { ::close(fd); }
  const int fd;
};

namespace {

// A call on a handle without a socket fails as a call on a closed socket does.
void SetClosedSocketError() { TIdStackPosix::SetLastSocketError(WSAESHUTDOWN); }

}  // namespace

TIdSocketHandle::TIdSocketHandle() { ClearState(true); }

TIdSocketHandle::~TIdSocketHandle() { ReleaseSocket(true); }

void TIdSocketHandle::Assign(const TIdSocketHandle& other) {
  if (&other == this) return;
  std::scoped_lock lock(FLock, other.FLock);
  FIP = other.FIP;
  FPort = other.FPort;
  FRemoteIP = other.FRemoteIP;
  FRemotePort = other.FRemotePort;
}

std::shared_ptr<TIdSocketHandle::Descriptor> TIdSocketHandle::Use() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FHasSocket.load() ? FSocket : nullptr;
}

int TIdSocketHandle::SocketNumber() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FSocket ? FSocket->fd : -1;
}

std::shared_ptr<const int> TIdSocketHandle::KeepOpen() const {
  auto s = Use();
  return s ? std::shared_ptr<const int>(s, &s->fd) : nullptr;
}

std::string TIdSocketHandle::IP() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FIP;
}

int TIdSocketHandle::Port() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FPort;
}

std::string TIdSocketHandle::RemoteIP() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRemoteIP;
}

int TIdSocketHandle::RemotePort() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRemotePort;
}

void TIdSocketHandle::SetIP(const std::string& ip) {
  std::lock_guard<std::mutex> lock(FLock);
  FIP = ip;
}

void TIdSocketHandle::SetPort(int port) {
  std::lock_guard<std::mutex> lock(FLock);
  FPort = port;
}

void TIdSocketHandle::SetRemote(const std::string& address, int port) {
  std::lock_guard<std::mutex> lock(FLock);
  FRemoteIP = address;
  FRemotePort = port;
}

void TIdSocketHandle::OpenSocket(int type, int protocol) {
  ReleaseSocket(true);
  int n = GStack().NewSocket(type, protocol);
  std::lock_guard<std::mutex> lock(FLock);
  FSocket = std::make_shared<Descriptor>(n);
  FHasSocket.store(true);
}

void TIdSocketHandle::BindLocal() {
  auto s = Use();
  TIdStack& stack = GStack();
  int r = s ? stack.SockBind(s->fd, 2, IP(), Port()) : (SetClosedSocketError(), -1);
  if (stack.CheckSocketResult(r, {WSAEADDRINUSE})) throw EIdCouldNotBindSocket();
  RefreshLocal();
}

int TIdSocketHandle::ConnectRemote(int family, int timeout) {
  auto s = Use();
  if (!s) {
    SetClosedSocketError();
    return -1;
  }
  int r = GStack().SockConnect(s->fd, family, RemoteIP(), RemotePort(), timeout);
  if (r != -1) {
    RefreshLocal();
    RefreshRemote();
  }
  return r;
}

bool TIdSocketHandle::WaitReadable(int timeout) {
  auto s = Use();
  if (!s) throw EIdConnClosedGracefully();
  std::vector<int> list{s->fd};
  return GStack().SockSelect(&list, nullptr, nullptr, timeout) == 1;
}

int TIdSocketHandle::ReceiveInto(void* buffer, int length, int flags) {
  auto s = Use();
  if (!s) {
    SetClosedSocketError();
    return -1;
  }
  return GStack().SockRecv(s->fd, buffer, length, flags);
}

int TIdSocketHandle::SendFrom(const void* buffer, int length, int flags) {
  auto s = Use();
  if (!s) {
    SetClosedSocketError();
    return -1;
  }
  return GStack().SockSend(s->fd, buffer, length, flags);
}

void TIdSocketHandle::SetOption(int level, int name, int value) {
  auto s = Use();
  TIdStack& stack = GStack();
  int r = s ? stack.SockSetOption(s->fd, level, name, &value, sizeof value)
            : (SetClosedSocketError(), -1);
  stack.CheckSocketResult(r);
}

bool TIdSocketHandle::ClaimRelease() { return FHasSocket.exchange(false); }

void TIdSocketHandle::FinishRelease(bool resetLocal) {
  std::shared_ptr<Descriptor> s;
  {
    std::lock_guard<std::mutex> lock(FLock);
    s.swap(FSocket);
  }
  // Both directions: the receive side must end a wait another thread may be blocked in.
  if (s) ::shutdown(s->fd, SHUT_RDWR);
  s.reset();  // closes now, or when the last call still using it returns
  ClearState(resetLocal);
}

bool TIdSocketHandle::ReleaseSocket(bool resetLocal) {
  if (!ClaimRelease()) return false;
  FinishRelease(resetLocal);
  return true;
}

bool TIdSocketHandle::TakeSocket(TIdSocketHandle& other) {
  if (&other == this || HasSocket() || !other.ClaimRelease()) return false;
  std::scoped_lock lock(FLock, other.FLock);
  FSocket = std::move(other.FSocket);
  FIP = std::move(other.FIP);
  FPort = std::exchange(other.FPort, 0);
  FRemoteIP = std::move(other.FRemoteIP);
  FRemotePort = std::exchange(other.FRemotePort, 0);
  other.FIP.clear();
  other.FRemoteIP.clear();
  FHasSocket.store(FSocket != nullptr);
  return HasSocket();
}

void TIdSocketHandle::ClearState(bool resetLocal) {
  std::shared_ptr<Descriptor> dropped;
  std::lock_guard<std::mutex> lock(FLock);
  FHasSocket.store(false);
  dropped.swap(FSocket);
  if (resetLocal) {
    FIP.clear();
    FPort = 0;
  }
  FRemoteIP.clear();
  FRemotePort = 0;
}

void TIdSocketHandle::RefreshLocal() {
  auto s = Use();
  if (!s) return;
  std::string ip;
  int port = 0;
  GStack().LocalEndpoint(s->fd, ip, port);
  std::lock_guard<std::mutex> lock(FLock);
  FIP = ip;
  FPort = port;
}

void TIdSocketHandle::RefreshRemote() {
  auto s = Use();
  if (!s) return;
  std::string ip;
  int port = 0;
  GStack().RemoteEndpoint(s->fd, ip, port);
  std::lock_guard<std::mutex> lock(FLock);
  FRemoteIP = ip;
  FRemotePort = port;
}
