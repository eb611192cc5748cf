#include "IdTCPConnection.h"

#include <sys/socket.h>

#include "IdException.h"
#include "IdSocketErrors.h"
#include "IdStack.h"
#include "IdThread.h"

TIdTCPConnection::TIdTCPConnection() : FRecvScratch(32768) {}

TIdTCPConnection::~TIdTCPConnection() = default;

void TIdTCPConnection::SetRecvBufferSize(int size) { FRecvScratch.resize(std::size_t(size)); }

bool TIdTCPConnection::IsConnected() {
  CheckPeerClosed(false, false);
  return FBinding.HasSocket();
}

void TIdTCPConnection::CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
  if (!FClosedGracefully.load() && FBinding.HasSocket()) return;
  if (FBinding.HasSocket()) DropSocket();
  if (raiseIfClosed && (ignoreBuffer || FInputBuffer.Size() == 0))
    throw EIdConnClosedGracefully();
}

int TIdTCPConnection::ReceiveChunk(bool raiseIfClosed, int timeout, bool useBuffer) {
  CheckPeerClosed(raiseIfClosed, false);
  if (!IsConnected()) return 0;
  // Bytes already waiting are taken without a wait call: the wait would return at once, and
  // under a steady stream that saves a system call per receive.
  int n = FBinding.ReceiveInto(FRecvScratch.data(), int(FRecvScratch.size()), MSG_DONTWAIT);
  if (n == -1 && GStack().LastSocketError() == WSAEWOULDBLOCK) {
    if (!FBinding.WaitReadable(timeout)) return 0;
    n = FBinding.ReceiveInto(FRecvScratch.data(), int(FRecvScratch.size()));
  }
  FClosedGracefully.store(n == 0);
  if (n == -1) {
    // WSAESHUTDOWN: the socket was closed under the receive; anything else is a real error.
    GStack().CheckSocketResult(n, {WSAESHUTDOWN});
    n = 0;
    if (FBinding.HasSocket()) DropSocket();
    if (FInputBuffer.Size() == 0) GStack().ThrowSocketError(WSAESHUTDOWN);
  }
  if (useBuffer && n > 0) FInputBuffer.Append(FRecvScratch.data(), std::size_t(n));
  CheckPeerClosed(raiseIfClosed, false);
  return n;
}

std::string TIdTCPConnection::ReadAvailable() {
  if (!IsConnected()) return {};
  ReceiveChunk(false, WaitForever, true);
  return ExtractBytes(FInputBuffer.Size());
}

std::string TIdTCPConnection::ExtractBytes(std::size_t count) { return FInputBuffer.Extract(count); }

void TIdTCPConnection::RemoveBytes(std::size_t count) { FInputBuffer.Remove(count); }

void TIdTCPConnection::SendText(const std::string& text) {
  if (!text.empty()) SendBytes(text.data(), int(text.size()));
}

void TIdTCPConnection::SendLine(const std::string& text) { SendText(text + "\r\n"); }

void TIdTCPConnection::SendBytes(const char* bytes, int count) {
  if (count <= 0 || !bytes) return;
  CheckPeerClosed(true, true);
  int sent = 0;
  do {
    int n = FBinding.SendFrom(bytes + sent, count - sent);
    FClosedGracefully.store(n == 0);
    CheckPeerClosed(true, false);
    if (n == -1) {
      if (GStack().CheckSocketResult(n, {WSAESHUTDOWN})) {
        DropSocket();
        GStack().ThrowSocketError(WSAESHUTDOWN);
      }
    }
    sent += n;
  } while (sent < count);
}

int TIdTCPConnection::SendSome(const char* bytes, int count) {
  if (count <= 0 || !bytes) return 0;
  CheckPeerClosed(true, true);
  int n = FBinding.SendFrom(bytes, count, MSG_DONTWAIT);
  if (n == -1 && GStack().LastSocketError() == WSAEWOULDBLOCK) return 0;
  FClosedGracefully.store(n == 0);
  CheckPeerClosed(true, false);
  if (n == -1 && GStack().CheckSocketResult(n, {WSAESHUTDOWN})) {
    DropSocket();
    GStack().ThrowSocketError(WSAESHUTDOWN);
  }
  return n;
}

void TIdTCPConnection::CloseConnection() { DropSocket(); }

void TIdTCPConnection::DropSocket() { Drop({}); }

void TIdTCPConnection::DropAfterError(const std::string& message) { Drop(message); }

std::string TIdTCPConnection::LostError() const {
  std::lock_guard<std::mutex> lock(FLostLock);
  return FLostError;
}

void TIdTCPConnection::Drop(const std::string& lostError) {
  if (!FBinding.ClaimRelease()) return;  // another thread dropped it, or it was never open
  {
    std::lock_guard<std::mutex> lock(FLostLock);
    FLostError = lostError;
  }
  NotifyStatus(TIdStatus::StatusDisconnecting, FBinding.RemoteIP());
  FBinding.FinishRelease(true);
  FClosedGracefully.store(true);
  NotifyStatus(TIdStatus::StatusDisconnected, FBinding.RemoteIP());
  NotifyDisconnected();
}

void TIdTCPConnection::ResetForConnect() {
  FBinding.ClearState(true);
  FInputBuffer.Clear();
  FClosedGracefully.store(false);
  std::lock_guard<std::mutex> lock(FLostLock);
  FLostError.clear();
}

void TIdTCPConnection::NotifyDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::StopReader(TIdThreadLink& reader) {
  reader.RequestStop();
  FBinding.ReleaseSocket(true);
  reader.WaitForEnd();
}
