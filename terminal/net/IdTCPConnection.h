// One TCP connection: its socket, input buffer, receive and send paths, detection of a closed
// connection and the OnDisconnected event.
//
// Two threads share a connection: the window thread (connect, send, user close) and one reader
// thread (wait, receive, close after a peer close). The state both touch is safe to share:
// ClosedGracefully and the socket-open flag are atomic, InputBuffer locks, and DropSocket
// claims the socket in one atomic step, so OnDisconnected fires at most once per connection,
// on whichever thread dropped it. Only the reader thread should fill and empty InputBuffer.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "IdBuffer.h"
#include "IdComponent.h"
#include "IdSocketHandle.h"

class TIdThreadLink;

class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection();
  // Releases an open socket without events. A component that owns a reader thread must stop
  // it first (StopReader) in its own destructor.
  ~TIdTCPConnection() override;

  TIdSocketHandle& Binding() { return FBinding; }
  TIdBuffer& InputBuffer() { return FInputBuffer; }
  // Size of one receive; set it before connecting (the terminal uses 8192).
  int RecvBufferSize() const { return int(FRecvScratch.size()); }
  void SetRecvBufferSize(int size);
  // True once a receive or send returned 0 bytes, and after the socket was dropped.
  bool ClosedGracefully() const { return FClosedGracefully.load(); }

  // Runs on the thread that drops the socket; a handler that touches the window must hand
  // its work over to the window thread.
  TNotifyEvent OnDisconnected;

  // Drops the socket when the peer was seen closing; true while the socket is open.
  virtual bool IsConnected();
  // Drops the socket if the peer closed it; then, with raiseIfClosed, raises
  // EIdConnClosedGracefully once the connection is closed and (ignoreBuffer or nothing unread).
  virtual void CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer);
  // One wait (ms or WaitForever) and at most one receive; the bytes go to InputBuffer when
  // useBuffer. Returns their number, 0 when nothing came.
  virtual int ReceiveChunk(bool raiseIfClosed, int timeout, bool useBuffer);
  // What the reader calls each pass: waits without limit, receives once and returns all that
  // is buffered; empty when the connection is closed or the peer has just closed it.
  std::string ReadAvailable();
  // The first count bytes of InputBuffer, removed; EIdNotEnoughDataInBuffer beyond its size.
  virtual std::string ExtractBytes(std::size_t count);
  virtual void RemoveBytes(std::size_t count);
  // An empty text sends nothing and checks nothing.
  virtual void SendText(const std::string& text);
  virtual void SendLine(const std::string& text);  // text + CR LF
  // Sends everything at once; a closed connection raises EIdConnClosedGracefully.
  void SendBytes(const char* bytes, int count);
  // Hands the socket what it takes now, without waiting: returns how many bytes that was, 0
  // when its buffer is full. A closed connection and a failed send raise as in SendBytes.
  int SendSome(const char* bytes, int count);
  // Drops the socket; subclasses add to it.
  virtual void CloseConnection();
  // If the socket is open: closes it (waking a reader blocked on it) and fires OnDisconnected.
  // Of several threads calling it at once exactly one does this.
  virtual void DropSocket();
  // DropSocket for a connection that an error ended (a reset, say): OnDisconnected fires as
  // for a close, and LostError tells why. Nothing happens if the socket is already dropped.
  void DropAfterError(const std::string& message);
  // The message given to the DropAfterError that dropped this connection; empty when it
  // was closed (or is open). Set before OnDisconnected fires.
  std::string LostError() const;
  virtual void ResetForConnect();
  virtual void NotifyDisconnected();

 protected:
  // For destructors of components that own a reader thread: sets its stop flag, shuts the
  // socket down without any event (which ends the reader's wait), and waits for the thread
  // to end. Afterwards no thread touches this component.
  void StopReader(TIdThreadLink& reader);

 private:
  void Drop(const std::string& lostError);

  TIdSocketHandle FBinding;
  TIdBuffer FInputBuffer;
  std::vector<char> FRecvScratch;  // used by the reader thread only
  std::atomic<bool> FClosedGracefully{false};
  mutable std::mutex FLostLock;
  std::string FLostError;
};
