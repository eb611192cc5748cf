#include "IdConnectAttempt.h"

#include <atomic>
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
  std::thread([shared = FShared] {
    std::string error;
    try {
      shared->client.OpenConnection();
    } catch (const std::exception& e) {
      error = e.what();
    }
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->error = std::move(error);
    shared->done = true;
    if (shared->finished) shared->finished();
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
