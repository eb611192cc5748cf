#include "QueueDispatcher.h"

void TIdQueueDispatcher::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FCalls.push_back(std::move(call));
  }
  FPosted.notify_all();
}

int TIdQueueDispatcher::RunPending() {
  int ran = 0;
  while (RunOne(std::chrono::milliseconds(0))) ++ran;
  return ran;
}

bool TIdQueueDispatcher::RunOne(std::chrono::milliseconds timeout) {
  std::function<void()> call;
  {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FPosted.wait_for(lock, timeout, [this] { return !FCalls.empty(); })) return false;
    call = std::move(FCalls.front());
    FCalls.pop_front();
  }
  call();
  return true;
}

bool TIdQueueDispatcher::RunUntil(const std::function<bool()>& done,
                                  std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    RunOne(std::min(left, std::chrono::milliseconds(1)));
  }
  return true;
}
