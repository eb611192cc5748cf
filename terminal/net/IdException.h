// Error classes of the terminal's network layer. Every failure carries a fixed English message;
// the window shows it (or, for the silent ones, just ends what it was doing).
#pragma once

#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
 public:
  explicit EIdException(const std::string& message) : std::runtime_error(message) {}
};

// A failed socket call: the Windows Sockets error code and "Socket Error # <code>\r\n<text>".
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int code, const std::string& message) : EIdException(message), FCode(code) {}
  int ErrorCode() const { return FCode; }

 private:
  int FCode;
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  EIdCouldNotBindSocket()
      : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

// Base of the expected endings: callers end quietly on these instead of reporting them.
class EIdSilentException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
 public:
  EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};

class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdInvalidServiceName : public EIdException {
 public:
  explicit EIdInvalidServiceName(const std::string& name)
      : EIdException(name + " is not a valid service.") {}
};

class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int replyCode, const std::string& message)
      : EIdException(message), FReplyCode(replyCode) {}
  int ReplyCode() const { return FReplyCode; }

 private:
  int FReplyCode;
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};

// Kept for the stack's start-up contract; with the calls bound directly they cannot occur here.
class EIdStackInitializationFailed : public EIdStackError {
 public:
  EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};

class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};

class EIdStackCanNotLoadWinsock : public EIdException {
 public:
  explicit EIdStackCanNotLoadWinsock(const std::string& library)
      : EIdException(library + " could not be loaded.") {}
};

class EIdMoreThanOneTIdAntiFreeze : public EIdException {
 public:
  EIdMoreThanOneTIdAntiFreeze()
      : EIdException("Only one TIdAntiFreeze can exist per application.") {}
};

// Errors of the TCP connection.
class EIdTCPConnectionError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
 public:
  EIdNotEnoughDataInBuffer() : EIdTCPConnectionError("Not enough data in buffer.") {}
};

// A thread asked to stop while it waited for the window thread: its call was taken back unrun.
class EIdThreadCallWithdrawn : public EIdSilentException {
 public:
  EIdThreadCallWithdrawn() : EIdSilentException("Thread stopped before the window ran its call.") {}
};

// RunInWindowThread on a thread that was given no window dispatcher.
class EIdNoWindowDispatcher : public EIdException {
 public:
  EIdNoWindowDispatcher() : EIdException("No window dispatcher set for this thread.") {}
};
