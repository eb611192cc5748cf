// A client with a reader thread shaped like the terminal's: each pass reads what arrived,
// hands it to the window thread and waits, then checks for a closed connection. Tests use it
// to drive the connection from two threads the way the telnet component does.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IdTCPClient.h"
#include "IdThread.h"

class ChunkReaderClient : public TIdTCPClient {
 public:
  explicit ChunkReaderClient(TIdWindowDispatcher& window);
  ~ChunkReaderClient() override;  // stops a running reader in order

  // Connects and starts the reader.
  void OpenConnection() override;
  // Stops the reader (without waiting) and drops the socket.
  void CloseConnection() override;

  TIdThreadLink& Reader() { return FReader; }
  // Chunks as the window thread received them (read them on the window thread).
  std::vector<std::string> Chunks;
  std::atomic<int> Disconnects{0};
  std::atomic<std::thread::id> DisconnectThread{};

 private:
  class ReadThread;
  TIdWindowDispatcher& FWindow;
  TIdThreadLink FReader;
};
