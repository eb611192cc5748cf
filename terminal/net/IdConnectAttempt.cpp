#include "IdConnectAttempt.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "IdException.h"

struct TIdConnectAttempt::Shared {
  TIdTCPClient client;  // the thread's alone until done is set
  std::atomic<bool> cancelled{false};
  std::mutex lock;  // guards the fields below
  std::function<void()> finished;
  bool done = false;
  std::string error;
};

namespace {

class EIdConnectCancelled : public EIdSilentException {
 public:
  EIdConnectCancelled() : EIdSilentException("Connect cancelled.") {}
};

// The attempt threads still running. Their client is a network component, and the last one
// to go frees the socket stack through the stack's globals; the process waits for them at
// exit, before those globals go (a connect is broken off by Cancel; a name lookup is short).
struct Running {
  std::mutex lock;
  std::condition_variable none;
  int count = 0;
};

Running& running() {
  static Running r;
  return r;
}

void awaitRunning() {
  Running& r = running();
  std::unique_lock<std::mutex> l(r.lock);
  r.none.wait_for(l, std::chrono::seconds(5), [&] { return r.count == 0; });
}

}  // namespace

TIdConnectAttempt::TIdConnectAttempt(const std::string& host, int port, int timeout,
                                     std::function<void()> finished)
    : FShared(std::make_shared<Shared>()) {
  Shared& s = *FShared;
  s.client.Host = host;
  s.client.Port = port;
  s.client.ConnectTimeout = timeout;
  s.finished = std::move(finished);
  // A cancel that came before the socket existed found nothing to break off: it is seen here,
  // before the lookup and before the connect.
  s.client.OnStatus = [c = &s.cancelled](TIdComponent*, TIdStatus status, const std::string&) {
    if ((status == TIdStatus::StatusResolving || status == TIdStatus::StatusConnecting) && c->load())
      throw EIdConnectCancelled();
  };
  // Registered after the stack's globals exist, so it runs before they are destroyed.
  static const bool waitsAtExit = (running(), std::atexit(awaitRunning) == 0);
  (void)waitsAtExit;
  {
    std::lock_guard<std::mutex> l(running().lock);
    ++running().count;
  }
  std::thread([shared = FShared]() mutable {
    std::string error;
    try {
      shared->client.OpenConnection();
    } catch (const std::exception& e) {
      error = e.what();
    }
    {
      std::lock_guard<std::mutex> guard(shared->lock);
      shared->error = std::move(error);
      shared->done = true;
      if (shared->finished) shared->finished();
    }
    shared.reset();  // the client may be the last component: the stack goes here, not after exit
    Running& r = running();
    std::lock_guard<std::mutex> l(r.lock);
    if (--r.count == 0) r.none.notify_all();
  }).detach();
}

TIdConnectAttempt::~TIdConnectAttempt() { Cancel(); }

void TIdConnectAttempt::Cancel() {
  FShared->cancelled.store(true);
  {
    std::lock_guard<std::mutex> guard(FShared->lock);
    FShared->finished = nullptr;
    if (FShared->done) return;
  }
  // Wakes a connect in progress; the client's own clean-up then finds the socket gone.
  FShared->client.Binding().ReleaseSocket(true);
}

TIdTCPClient* TIdConnectAttempt::Connected() {
  std::lock_guard<std::mutex> guard(FShared->lock);
  if (!FShared->done || !FShared->error.empty() || FShared->cancelled.load()) return nullptr;
  return &FShared->client;
}

std::string TIdConnectAttempt::Error() const {
  std::lock_guard<std::mutex> guard(FShared->lock);
  return FShared->error;
}
