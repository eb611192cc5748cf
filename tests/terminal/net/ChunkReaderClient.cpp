#include "ChunkReaderClient.h"

class ChunkReaderClient::ReadThread : public TIdThread {
 public:
  explicit ReadThread(ChunkReaderClient& client) : FClient(client) { FreeOnTerminate = true; }

 protected:
  void RunOnce() override {
    std::string text = FClient.ReadAvailable();
    RunInWindowThread([this, text] { FClient.Chunks.push_back(text); });
    FClient.CheckPeerClosed(true, false);
  }

 private:
  ChunkReaderClient& FClient;
};

ChunkReaderClient::ChunkReaderClient(TIdWindowDispatcher& window) : FWindow(window) {
  OnDisconnected = [this](TIdComponent*) {
    DisconnectThread.store(std::this_thread::get_id());
    ++Disconnects;
  };
}

ChunkReaderClient::~ChunkReaderClient() { StopReader(FReader); }

void ChunkReaderClient::OpenConnection() {
  FReader.WaitForEnd();  // an old reader must be gone before the socket is made anew
  TIdTCPClient::OpenConnection();
  auto* t = new ReadThread(*this);
  t->SetDispatcher(&FWindow);
  FReader = t->Start();
}

void ChunkReaderClient::CloseConnection() {
  FReader.RequestStop();
  TIdTCPClient::CloseConnection();
}
