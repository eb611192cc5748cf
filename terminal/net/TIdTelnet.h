// The terminal's telnet client component: connects, runs one reader thread per connection
// that strips telnet commands and answers option requests, hands each chunk's text to the
// window thread, and sends typed characters.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "IdException.h"
#include "IdTCPClient.h"
#include "IdThread.h"
#include "TelnetParser.h"

using telnet::TTelnetCommand;

class TIdTelnet;

using TTnDataAvail = std::function<void(const std::string& buffer)>;
using TClientEvent = std::function<void()>;
using TOnTelnetCommand = std::function<void(TIdTelnet* sender, TTelnetCommand status)>;

class EIdTelnetError : public EIdException {
 public:
  using EIdException::EIdException;
};

// Keeps the socket error it stands for, so the reason can be told beside the fixed text.
class EIdTelnetClientConnectError : public EIdTelnetError {
 public:
  explicit EIdTelnetClientConnectError(int socketCode = 0)
      : EIdTelnetError("server not responding"), FSocketCode(socketCode) {}
  int SocketCode() const { return FSocketCode; }

 private:
  int FSocketCode;
};

class EIdTelnetServerOnDataAvailableIsNil : public EIdTelnetError {
 public:
  EIdTelnetServerOnDataAvailableIsNil() : EIdTelnetError("OnDataAvailable event is nil.") {}
};

class TIdTelnet : public TIdTCPClient {
 public:
  TIdTelnet();
  // Stops a running reader thread and waits for it before anything is freed, so no
  // thread outlives the component; no event fires.
  ~TIdTelnet() override;

  // Terminal type sent in the TERMINAL-TYPE answer. Read and written by the reader thread
  // during a connection; set it before connecting.
  std::string Terminal = "dumb";

  TTnDataAvail OnDataAvailable;      // window thread, while the reader waits
  TClientEvent OnConnect;            // first thing OpenConnection does
  TClientEvent OnDisconnect;         // last thing CloseConnection does
  TOnTelnetCommand OnTelnetCommand;  // reader thread, before the reply goes out

  // Where the reader thread runs DeliverData; the terminal gives its Qt event loop.
  void SetDispatcher(TIdWindowDispatcher* dispatcher) { FDispatcher = dispatcher; }

  // Socket errors of the connect become "server not responding"; others pass unchanged.
  void OpenConnection() override;
  // Stops the reader (without waiting), closes the socket, fires OnDisconnect.
  void CloseConnection() override;
  // One typed byte, sent at once; CR is CR LF until the server has sent a telnet command.
  void SendChar(char ch);

  // Reader side: strips commands, sends the replies as they are parsed, returns the text.
  std::string ParseIncoming(const std::string& text);
  void SendReply(std::string& reply);
  void SendTerminalType(const std::string& data);
  void FireTelnetCommand(TTelnetCommand status);
  // Window side of the hand-off: OnDataAvailable with the text of one chunk.
  void DeliverData(const std::string& receivedText);

  bool ServerIsTelnet() const { return FServerIsTelnet.load(); }
  // For tests: whether the reader thread of the last connection still runs.
  bool ReaderRunning() const { return FReaderThread.Running(); }
  // The message of the error that ended the last reader thread, once it has ended.
  std::string ReaderMessage() const { return FReaderThread.TerminatingMessage(); }

 private:
  class Sink;

  telnet::State FNegotiationState = telnet::State::Data;  // reader thread only
  std::atomic<bool> FServerIsTelnet{false};
  TIdWindowDispatcher* FDispatcher = nullptr;
  TIdThreadLink FReaderThread;
  bool FClosedSinceReader = false;  // window thread only
};

class TIdTelnetReadThread : public TIdThread {
 public:
  explicit TIdTelnetReadThread(TIdTelnet* client);

 protected:
  void RunOnce() override;

 private:
  TIdTelnet* Client;
  std::string ReceivedText;
};
