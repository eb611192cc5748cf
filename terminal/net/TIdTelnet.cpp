#include "TIdTelnet.h"

// The parser's requests, carried out by the component on the reader thread.
class TIdTelnet::Sink : public telnet::ParserSink {
 public:
  explicit Sink(TIdTelnet& owner) : FOwner(owner) {}
  void telnetCommand(TTelnetCommand status) override { FOwner.FireTelnetCommand(status); }
  void sendReply(std::string reply) override { FOwner.SendReply(reply); }
  void subnegotiation(const std::string& data) override { FOwner.SendTerminalType(data); }

 private:
  TIdTelnet& FOwner;
};

TIdTelnet::TIdTelnet() { Port = 23; }

// The reader may be firing an event right now, so the events stay as they are until it
// has ended; StopReader closes the socket without any event of its own.
TIdTelnet::~TIdTelnet() { StopReader(FReaderThread); }

void TIdTelnet::OpenConnection() {
  try {
    if (OnConnect) OnConnect();
    if (!Binding().HasSocket()) {
      // A reader of an earlier connection must be gone before a new socket exists, or it
      // could wait on that socket; its own socket is closed, so it ends at once.
      FReaderThread.RequestStop();
      FReaderThread.WaitForEnd();
      // A reader stopped by CloseConnection may have parsed one more IAC after the flag
      // was cleared; the close still counts.
      if (FClosedSinceReader) FServerIsTelnet.store(false);
    }
    TIdTCPClient::OpenConnection();
    if (IsConnected()) {
      auto* reader = new TIdTelnetReadThread(this);
      reader->SetDispatcher(FDispatcher);
      FReaderThread = reader->Start();
      FClosedSinceReader = false;
    }
  } catch (const EIdSocketError& e) {
    throw EIdTelnetClientConnectError(e.ErrorCode());
  }
}

void TIdTelnet::CloseConnection() {
  FReaderThread.RequestStop();
  FServerIsTelnet.store(false);
  FClosedSinceReader = true;
  TIdTCPClient::CloseConnection();
  if (OnDisconnect) OnDisconnect();
}

void TIdTelnet::SendChar(char ch) {
  SendText(telnet::charBytes(static_cast<unsigned char>(ch), FServerIsTelnet.load()));
}

std::string TIdTelnet::ParseIncoming(const std::string& text) {
  // Marked before parsing, so a reply that fails half-way still leaves the mark.
  if (text.find('\xff') != std::string::npos) FServerIsTelnet.store(true);
  Sink sink(*this);
  return telnet::parse(FNegotiationState, text, sink).text;
}

void TIdTelnet::SendReply(std::string& reply) {
  SendText(reply);
  reply.clear();
}

void TIdTelnet::SendTerminalType(const std::string& data) {
  std::string reply = telnet::terminalTypeReply(Terminal, data);
  if (!reply.empty()) SendReply(reply);
}

void TIdTelnet::FireTelnetCommand(TTelnetCommand status) {
  if (OnTelnetCommand) OnTelnetCommand(this, status);
}

void TIdTelnet::DeliverData(const std::string& receivedText) {
  if (!OnDataAvailable) throw EIdTelnetServerOnDataAvailableIsNil();
  OnDataAvailable(receivedText);
}

TIdTelnetReadThread::TIdTelnetReadThread(TIdTelnet* client) : Client(client) {
  FreeOnTerminate = true;
}

void TIdTelnetReadThread::RunOnce() {
  try {
    const std::string text = Client->ReadAvailable();
    ReceivedText = Client->ParseIncoming(text);
    RunInWindowThread([this] { Client->DeliverData(ReceivedText); });
    Client->CheckPeerClosed(true, false);
  } catch (const EIdSocketError& e) {
    // A reset, or any other failed receive or reply, ends the connection as a close by the
    // host does; otherwise the window would stay open with nothing behind it.
    Client->DropAfterError(e.what());
    throw;
  }
}
