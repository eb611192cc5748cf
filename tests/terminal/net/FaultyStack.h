// A platform stack that fails chosen calls, installed for the next StackInstance.
#pragma once

#include <atomic>
#include <functional>
#include <stdexcept>

#include "IdStack.h"
#include "IdStackPosix.h"

class FaultyStack : public TIdStackPosix {
 public:
  // Receives after this many good ones fail with the given code (-1: never).
  static inline std::atomic<int> GoodReceives{-1};
  static inline std::atomic<int> ReceiveError{0};
  static inline std::atomic<int> Lookups{0};
  // Sends fail with this code while it is not 0.
  static inline std::atomic<int> SendError{0};
  // Every send call, failed or not.
  static inline std::atomic<int> Sends{0};
  // Runs inside each SockSelect before the real wait (set it before other threads start).
  static inline std::function<void()> SelectHook;

  int SockSelect(std::vector<int>* readList, std::vector<int>* writeList,
                 std::vector<int>* errorList, int timeout) override {
    if (SelectHook) SelectHook();
    return TIdStackPosix::SockSelect(readList, writeList, errorList, timeout);
  }

  int SockRecv(int socket, void* buffer, int length, int flags) override {
    int good = GoodReceives.load();
    if (good == 0) {
      SetLastSocketError(ReceiveError.load());
      return -1;
    }
    if (good > 0) --GoodReceives;
    return TIdStackPosix::SockRecv(socket, buffer, length, flags);
  }
  int SockSend(int socket, const void* buffer, int length, int flags) override {
    ++Sends;
    if (int code = SendError.load()) {
      SetLastSocketError(code);
      return -1;
    }
    return TIdStackPosix::SockSend(socket, buffer, length, flags);
  }
  std::string HostByName(const std::string& name) override {
    ++Lookups;
    return TIdStackPosix::HostByName(name);
  }
};

// Installs FaultyStack for the scope; no component may exist when it starts.
struct FaultyStackScope {
  FaultyStackScope() {
    if (StackUsers() != 0) throw std::logic_error("a component is still alive");
    FaultyStack::GoodReceives = -1;
    FaultyStack::Lookups = 0;
    FaultyStack::SendError = 0;
    FaultyStack::Sends = 0;
    FaultyStack::SelectHook = nullptr;
    SetStackFactory([] { return std::make_unique<FaultyStack>(); });
  }
  ~FaultyStackScope() { SetStackFactory({}); }
};
