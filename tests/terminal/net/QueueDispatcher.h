// The window thread of a test: calls posted by worker threads queue up here and run when the
// test thread asks for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "IdThread.h"

class TIdQueueDispatcher : public TIdWindowDispatcher {
 public:
  void Post(std::function<void()> call) override;
  // Runs every queued call; returns how many ran.
  int RunPending();
  // Waits up to timeout for a call and runs it; false when none came.
  bool RunOne(std::chrono::milliseconds timeout);
  // Runs calls as they come until done() holds; false when timeout passed first.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  std::mutex FLock;
  std::condition_variable FPosted;
  std::deque<std::function<void()>> FCalls;
};
